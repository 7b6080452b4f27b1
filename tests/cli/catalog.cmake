# ferrun-cli catalog, run as a real program on real folders.
ferrun_add_test(catalog_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/catalog_test.cpp
    LIBS ferrun_files
    TIMEOUT 120)
if(TARGET catalog_cli_test AND TARGET ferrun-cli)
    add_dependencies(catalog_cli_test ferrun-cli)
endif()
