# ferrun-cli measure and info, run as a real program (with its built-in board simulator).
ferrun_add_test(measure_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/measure_test.cpp
    LIBS ferrun_files
    TIMEOUT 300)
if(TARGET measure_cli_test AND TARGET ferrun-cli)
    add_dependencies(measure_cli_test ferrun-cli ferrun-board)
endif()
# ferrun-cli measure against the ferrun-board program with its faults, signals and arguments.
ferrun_add_test(measure_faults_cli_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/measure_faults_test.cpp
    LIBS ferrun_files
    TIMEOUT 300)
if(TARGET measure_faults_cli_test AND TARGET ferrun-cli)
    add_dependencies(measure_faults_cli_test ferrun-cli ferrun-board)
endif()
# Standard output that fails, and a measurement's target that is a FIFO or a device.
ferrun_add_test(cli_outputs_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/outputs_test.cpp
    LIBS ferrun_files
    TIMEOUT 120)
if(TARGET cli_outputs_test AND TARGET ferrun-cli)
    add_dependencies(cli_outputs_test ferrun-cli)
endif()
