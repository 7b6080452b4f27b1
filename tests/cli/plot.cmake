# ferrun-cli plot, run as a real program on data files written by the test; its pictures
# are checked against the points of ferrun-cli export.
ferrun_add_test(plot_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/plot_test.cpp
    LIBS ferrun_files Qt6::Gui
    TIMEOUT 300)
if(TARGET plot_cli_test AND TARGET ferrun-cli)
    add_dependencies(plot_cli_test ferrun-cli)
endif()
