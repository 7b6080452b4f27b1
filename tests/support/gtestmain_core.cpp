#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Tests of the core run on a QCoreApplication so that timers and queued calls work. The
// user's data folder (where the programs keep recordings that were not saved) is a folder of
// the test's own, inherited by the programs a test starts, so that no test writes into the
// home folder of whoever runs it.
int main(int argc, char **argv)
{
    QTemporaryDir data;
    if (data.isValid())
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
