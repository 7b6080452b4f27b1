# ferrun-cli export, run as a real program on data files written by the test.
ferrun_add_test(export_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/export_test.cpp
    LIBS ferrun_files ferrun_signal
    TIMEOUT 300)
if(TARGET export_cli_test AND TARGET ferrun-cli)
    add_dependencies(export_cli_test ferrun-cli)
endif()
