#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Widget tests run under the offscreen platform unless a display is forced. The user's data
// folder (where the window keeps recordings that were not saved) is a folder of the test's
// own, so that no test writes into the home folder of whoever runs it.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir data;
    if (data.isValid())
        qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
