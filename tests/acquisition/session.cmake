# Controller protocol and measurement session.
ferrun_add_test(protocol_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/protocol_test.cpp
    LIBS ferrun_acquisition
    SANITIZE thread address)
ferrun_add_test(session_start_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/session_start_test.cpp
    LIBS ferrun_acquisition ferrun_sim
    SANITIZE thread)
ferrun_add_test(session_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/session_test.cpp
    LIBS ferrun_acquisition ferrun_sim
    SANITIZE thread
    TIMEOUT 600)
# The chain as one object, on the built-in board.
ferrun_add_test(instrument_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/instrument_test.cpp
    LIBS ferrun_acquisition ferrun_sim
    SANITIZE thread)
