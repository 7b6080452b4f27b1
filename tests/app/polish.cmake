# The file dialogs' first use.
ferrun_add_test(app_dialogfirstuse_test
    SOURCES dialogfirstuse_test.cpp filewindow.h
    LIBS ferrun_app
    GUI)
