// ferrun-cli measure --wait-for-board on a fake device tree: the command waits until the
// board's device appears (the ferrun-board program behind a node with the board's USB
// identity), then measures; Ctrl+C ends the wait with nothing written.

#include "files/datafile.h"
#include "tests/acquisition/discoveryfakesysfs.h"
#include "tests/cli/clirun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

namespace {

using clitest::program;

struct Tree
{
    Tree()
        : sysfs(dir.filePath("sys"))
    {
        QDir().mkpath(dir.filePath("dev"));
    }
    QStringList rootArguments() const
    {
        return { "--sysfs-root", dir.filePath("sys"), "--dev-root", dir.filePath("dev") };
    }
    QTemporaryDir dir;
    testsupport::FakeSysfs sysfs;
};

// Starts the measurement and waits until it says it is waiting for the board.
bool startWaiting(QProcess &cli, const Tree &tree, const QString &output)
{
    cli.start(program("ferrun-cli"),
        QStringList { "measure", "--wait-for-board", "--time", "1000", "-o", output }
            + tree.rootArguments());
    cli.setReadChannel(QProcess::StandardError);
    QByteArray err;
    while (!err.contains("waiting for the board")) {
        if (!cli.waitForReadyRead(20000))
            return false;
        err += cli.readAllStandardError();
    }
    return true;
}

} // namespace

TEST(MeasureWaitForBoard, MeasuresOnceTheBoardIsPluggedIn)
{
    Tree tree;
    const QString output = tree.dir.filePath("run.kdx");
    QProcess cli;
    ASSERT_TRUE(startWaiting(cli, tree, output));
    QThread::msleep(300);
    EXPECT_EQ(cli.state(), QProcess::Running);

    clitest::Board board({ "--speed", "100" });
    ASSERT_FALSE(board.device.isEmpty());
    const QString pty = board.device;
    tree.sysfs.addInstrument("1-2", "ttyUSB0");
    ASSERT_TRUE(QFile::link(pty, tree.dir.filePath("dev/ttyUSB0")));

    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    files::DataFile saved;
    EXPECT_EQ(files::readDataFile(output, &saved), files::DataFileStatus::Ok);
    EXPECT_GT(saved.data.size(), 0);
}

TEST(MeasureWaitForBoard, CtrlCEndsTheWait)
{
    Tree tree;
    const QString output = tree.dir.filePath("run.kdx");
    QProcess cli;
    ASSERT_TRUE(startWaiting(cli, tree, output));
    ::kill(pid_t(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 130);
    EXPECT_TRUE(cli.readAllStandardError().contains("interrupted"));
    EXPECT_FALSE(QFile::exists(output));
}

TEST(MeasureWaitForBoard, NotWithADeviceOrTheSimulator)
{
    QProcess cli;
    cli.start(program("ferrun-cli"),
        { "measure", "--wait-for-board", "--simulator", "-o", QDir::temp().filePath("x.kdx") });
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 2);
}
