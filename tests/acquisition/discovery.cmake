# Instrument discovery through sysfs and the instrument link.
ferrun_add_test(discovery_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/discovery_test.cpp
    LIBS ferrun_acquisition
    SANITIZE address)

ferrun_add_test(instrumentlink_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/instrumentlink_test.cpp
    LIBS ferrun_acquisition ferrun_sim
    SANITIZE thread)
