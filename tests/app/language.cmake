# The window in English and in Russian: its texts, the toolkit's dialogs, the language menu and
# recordings stored alike in either language.
ferrun_add_test(app_language_test
    SOURCES language_test.cpp filewindow.h
    LIBS ferrun_app
    GUI)

# The same, with the help pages and the captions of both languages, on a real X server under a
# window manager: the toolkit's X11 platform rather than the offscreen one the other tests use.
if(NOT FERRUN_SANITIZE)
    find_program(FERRUN_XVFB_RUN xvfb-run)
    find_program(FERRUN_OPENBOX openbox)
    if(FERRUN_XVFB_RUN AND FERRUN_OPENBOX)
        add_test(NAME app_language_x11_test
                 COMMAND ${CMAKE_SOURCE_DIR}/tests/support/with-x11.sh
                         $<TARGET_FILE:app_language_test> $<TARGET_FILE:app_help_test>
                         $<TARGET_FILE:app_paneltexts_test>)
        set_tests_properties(app_language_x11_test PROPERTIES
            ENVIRONMENT "LC_ALL=C.UTF-8;FERRUN_BIN_DIR=${CMAKE_BINARY_DIR}/bin;FERRUN_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
            TIMEOUT 300 LABELS gui)
    else()
        message(WARNING "xvfb-run or openbox missing: app_language_x11_test not registered")
    endif()
endif()
