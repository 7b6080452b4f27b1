# Cycle runs on the board simulator, and the saves of their cycles.
ferrun_add_test(cycle_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cycle_test.cpp
    LIBS ferrun_acquisition ferrun_sim
    SANITIZE thread)
ferrun_add_test(cyclesave_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/cyclesave_test.cpp
    LIBS ferrun_acquisition
    SANITIZE address)
