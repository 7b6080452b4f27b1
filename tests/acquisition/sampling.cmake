# The frequency/time panel model: divider search, true values, warnings, focus rule.
ferrun_add_test(samplingparameters_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/samplingparameters_test.cpp
    LIBS ferrun_acquisition
    SANITIZE address)
