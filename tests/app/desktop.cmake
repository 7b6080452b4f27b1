# The window as a desktop program: saves, shortcuts, recent files, drops, cancelling a wait.
ferrun_add_test(app_desktop_test
    SOURCES desktop_test.cpp filewindow.h
    LIBS ferrun_app
    GUI)
