# Controller protocol and measurement session.
ferrun_add_test(protocol_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/protocol_test.cpp
    LIBS ferrun_acquisition
    SANITIZE thread address)
