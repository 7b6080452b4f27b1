# Instrument discovery through sysfs and the instrument link.
ferrun_add_test(discovery_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/discovery_test.cpp
    LIBS ferrun_acquisition
    SANITIZE address)
