# ferrun-cli dividers, run as a real program.
ferrun_add_test(dividers_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/dividers_test.cpp
    LIBS ferrun_core)
if(TARGET dividers_cli_test AND TARGET ferrun-cli)
    add_dependencies(dividers_cli_test ferrun-cli)
endif()
