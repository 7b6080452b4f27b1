# ferrun-cli measure --wait-for-board: a board that is plugged in while the command waits.
ferrun_add_test(measure_wait_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/waitforboard_test.cpp
    LIBS ferrun_files
    TIMEOUT 120)
if(TARGET measure_wait_cli_test AND TARGET ferrun-cli)
    add_dependencies(measure_wait_cli_test ferrun-cli ferrun-board)
endif()
