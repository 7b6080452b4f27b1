# The instrument's device appearing and going away, in fake sysfs and device trees.
ferrun_add_test(devicewatcher_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/devicewatcher_test.cpp
    LIBS ferrun_acquisition
    SANITIZE address)
