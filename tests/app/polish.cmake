# The file dialogs' first use.
ferrun_add_test(app_dialogfirstuse_test
    SOURCES dialogfirstuse_test.cpp filewindow.h
    LIBS ferrun_app
    GUI)

# Whole texts on the options and frequency panels.
ferrun_add_test(app_paneltexts_test
    SOURCES paneltexts_test.cpp filewindow.h
    LIBS ferrun_app
    GUI)
