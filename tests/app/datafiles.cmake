# Data files, browsing and the comment catalogue in the window.
ferrun_add_test(app_datafiles_test
    SOURCES datafiles_test.cpp
    LIBS ferrun_app
    GUI)

ferrun_add_test(app_catalogue_test
    SOURCES catalogue_test.cpp
    LIBS ferrun_app
    GUI)
