# The option helper every ferrun-cli command parses its words with.
ferrun_add_test(cli_commandline_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/commandline_test.cpp ${CMAKE_SOURCE_DIR}/cli/commandline.cpp
            ${CMAKE_SOURCE_DIR}/cli/output.cpp
    LIBS ferrun_files)
