# ferrun-cli info, run as a real program: bounded memory on huge files, FIFOs, escapes.
ferrun_add_test(info_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/info_test.cpp
    LIBS ferrun_files
    TIMEOUT 120)
if(TARGET info_cli_test AND TARGET ferrun-cli)
    add_dependencies(info_cli_test ferrun-cli)
endif()
