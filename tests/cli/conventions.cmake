# The conventions every ferrun-cli command keeps: names, statuses, messages, escapes.
ferrun_add_test(cli_conventions_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/conventions_test.cpp
    LIBS ferrun_files
    TIMEOUT 120)
if(TARGET cli_conventions_test AND TARGET ferrun-cli)
    add_dependencies(cli_conventions_test ferrun-cli)
endif()
