# ferrun-cli ports against fake sysfs trees.
ferrun_add_test(cli_ports_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ports_test.cpp)
if(TARGET cli_ports_test AND TARGET ferrun-cli)
    add_dependencies(cli_ports_test ferrun-cli)
endif()
