# ferrun-cli export and plot, the commands that draw a data file: the input files they
# refuse and the outputs they write, run as real programs on files of the test.
ferrun_add_test(drawcommands_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/drawcommands_test.cpp
    LIBS ferrun_files
    TIMEOUT 300)
if(TARGET drawcommands_cli_test AND TARGET ferrun-cli)
    add_dependencies(drawcommands_cli_test ferrun-cli)
endif()
