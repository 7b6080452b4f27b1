# The chart drawn as a transfer's blocks arrive, on the paced board simulator.
ferrun_add_test(app_livechart_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/livechart_test.cpp
    LIBS ferrun_app ferrun_sim
    GUI)
