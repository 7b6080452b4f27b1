# The window in English and in Russian: its texts, the toolkit's dialogs, the language menu and
# recordings stored alike in either language.
ferrun_add_test(app_language_test
    SOURCES language_test.cpp filewindow.h
    LIBS ferrun_app
    GUI)
