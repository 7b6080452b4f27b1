# ferrun-cli cycle, run as a real program with its built-in board simulator.
ferrun_add_test(cycle_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cycle_test.cpp
    LIBS ferrun_files
    TIMEOUT 300)
if(TARGET cycle_cli_test AND TARGET ferrun-cli)
    add_dependencies(cycle_cli_test ferrun-cli ferrun-board)
endif()
