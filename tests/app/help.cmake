# The help pages in both languages and the viewer that F1 opens.
ferrun_add_test(app_help_test
    SOURCES help_test.cpp formtest.h
    LIBS ferrun_app
    GUI)
