# ferrun_add_test(<name> SOURCES <files>... [LIBS <targets>...] [SANITIZE thread|address...]
#                 [GUI] [TIMEOUT <seconds>])
#
# One GoogleTest executable, registered with ctest under <name>. In a sanitizer build
# (FERRUN_SANITIZE set) only tests that list that sanitizer under SANITIZE are built.
# GUI tests get a QApplication on the offscreen platform; the others a QCoreApplication.
function(ferrun_add_test name)
    cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS;SANITIZE;LABELS" ${ARGN})
    if(FERRUN_SANITIZE AND NOT FERRUN_SANITIZE IN_LIST T_SANITIZE)
        return()
    endif()
    if(T_GUI AND FERRUN_SANITIZE)
        return()
    endif()
    if(T_GUI)
        set(kind gui)
        set(qtlibs Qt6::Widgets Qt6::Test)
    else()
        set(kind core)
        set(qtlibs Qt6::Core)
    endif()
    # The main function of each kind is compiled once per build and linked into every test
    # of that kind.
    set(main ferrun_gtestmain_${kind})
    if(NOT TARGET ${main})
        add_library(${main} OBJECT ${CMAKE_SOURCE_DIR}/tests/support/gtestmain_${kind}.cpp)
        set_target_properties(${main} PROPERTIES AUTOMOC OFF)
        target_link_libraries(${main} PUBLIC ${qtlibs} GTest::gtest)
    endif()
    add_executable(${name} ${T_SOURCES})
    # Line tables are what a failure's backtrace needs; full debug information of the many
    # test files would take a quarter more of the suite's build time.
    target_compile_options(${name} PRIVATE $<$<CONFIG:Debug,RelWithDebInfo>:-g1>)
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${main} ${T_LIBS} ${qtlibs} GTest::gtest GTest::gmock)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${FERRUN_TEST_OUTPUT_DIRECTORY})
    find_program(FERRUN_SETARCH setarch)
    if(FERRUN_SANITIZE AND FERRUN_SETARCH)
        # The sanitizer runtimes of this compiler expect the older, narrower address-space
        # randomisation and now and then abort at start-up under newer kernels; without
        # randomisation they start reliably.
        add_test(NAME ${name}
                 COMMAND ${FERRUN_SETARCH} ${CMAKE_SYSTEM_PROCESSOR} -R $<TARGET_FILE:${name}>)
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set(env "QT_QPA_PLATFORM=offscreen" "LC_ALL=C.UTF-8"
            "FERRUN_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
            "FERRUN_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
    if(FERRUN_SANITIZE STREQUAL "thread")
        list(APPEND env "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 suppressions=${CMAKE_SOURCE_DIR}/tests/support/tsan.supp")
    elseif(FERRUN_SANITIZE STREQUAL "address")
        list(APPEND env "ASAN_OPTIONS=detect_leaks=1" "UBSAN_OPTIONS=print_stacktrace=1 halt_on_error=1"
                        "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/support/lsan.supp")
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT ${T_TIMEOUT}
                         LABELS "${T_LABELS}")
endfunction()
