# Printing and copying the chart.
ferrun_add_test(app_chartexport_test
    SOURCES chartexport_test.cpp
    LIBS ferrun_app Qt6::Svg Qt6::PrintSupport
    GUI)
