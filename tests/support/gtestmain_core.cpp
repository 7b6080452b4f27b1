#include <QCoreApplication>

#include <gtest/gtest.h>

// Tests of the core run on a QCoreApplication so that timers and queued calls work.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
