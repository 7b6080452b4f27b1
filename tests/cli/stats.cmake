# ferrun-cli stats, run as a real program and checked against export's rows.
ferrun_add_test(stats_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/stats_test.cpp
    LIBS ferrun_files ferrun_signal
    TIMEOUT 300)
if(TARGET stats_cli_test AND TARGET ferrun-cli)
    add_dependencies(stats_cli_test ferrun-cli)
endif()
