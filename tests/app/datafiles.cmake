# Data files, browsing and the comment catalogue in the window.
ferrun_add_test(app_datafiles_test
    SOURCES datafiles_test.cpp
    LIBS ferrun_app
    GUI)

ferrun_add_test(app_catalogue_test
    SOURCES catalogue_test.cpp
    LIBS ferrun_app
    GUI)

# Saves, exports and prints into files that fail: the system's reason named, the disk as it was.
ferrun_add_test(app_writefailures_test
    SOURCES writefailures_test.cpp
    LIBS ferrun_app
    GUI)
