// The ferrun-board program: its first line, its standard input, its signals and its arguments.

#include "tests/sim/ptylink.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace simtest;

namespace {

QString boardProgram()
{
    return QDir(qEnvironmentVariable("FERRUN_BIN_DIR")).filePath("ferrun-board");
}

// Starts the program and returns the device path of its first line ("" on failure).
QString startBoard(QProcess &process, const QStringList &arguments)
{
    process.start(boardProgram(), arguments);
    if (!process.waitForStarted(10000))
        return {};
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(10000))
            return {};
    }
    return QString::fromUtf8(process.readLine()).trimmed();
}

} // namespace

TEST(BoardProgram, PrintsThePathServesTriggersAndStopsOnSignals)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString record = dir.filePath("sent.bin");
    for (int signal : { SIGTERM, SIGINT }) {
        QFile::remove(record);
        QProcess process;
        const QString path
            = startBoard(process, { "--speed", "1000", "--seed=5", "--record", record });
        ASSERT_TRUE(path.startsWith("/dev/pts/")) << path.toStdString();

        PtyLink link(path.toStdString());
        ASSERT_TRUE(link.isOpen());
        link.write({ 0x29 });
        link.write(startFrame(0x33, 0x01, 1, 1, 1));
        EXPECT_TRUE(link.readFor(150ms).empty());
        process.write("trigger\n");
        ASSERT_TRUE(process.waitForBytesWritten(10000));
        EXPECT_EQ(link.read(1), Bytes { 0x0A });
        link.write({ 0x10 });
        EXPECT_EQ(link.read(1), Bytes { 0x10 });

        ::kill(pid_t(process.processId()), signal);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        QFile file(record);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray sent = file.readAll();
        EXPECT_TRUE(sent.startsWith(QByteArray("\x0A\x10", 2))) << sent.toHex().toStdString();
    }
}

TEST(BoardProgram, ExitsByItselfAfterTheHangUp)
{
    QProcess process;
    const QString path
        = startBoard(process, { "--speed", "1000", "--hangup-after", "1", "--quiet" });
    ASSERT_FALSE(path.isEmpty());
    PtyLink link(path.toStdString());
    link.write(startFrame(0x13, 0x01, 1, 1, 1));
    link.read(1, 5s);
    EXPECT_TRUE(link.hungUp());
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_TRUE(process.readAllStandardError().isEmpty());
}

TEST(BoardProgram, BadArgumentsGiveOneLineAndExitCodeTwo)
{
    const QList<QStringList> cases = {
        { "--speed", "0" },
        { "--speed", "fast" },
        { "--chunk", "0" },
        { "--gap-us", "-5" },
        { "--drop-reply", "2x" },
        { "--extra-byte-after", "-1" },
        { "--stray-byte-at", "501" },
        { "--last-byte-delay", "-1" },
        { "--bridge-packet", "0" },
        { "--trigger-after", "-1" },
        { "--seed" },
        { "--bogus" },
        { "--wire-rate", "99999999999" },
        { "--record", "" },
    };
    for (const QStringList &arguments : cases) {
        QProcess process;
        process.start(boardProgram(), arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
        const QByteArray error = process.readAllStandardError();
        EXPECT_EQ(error.count('\n'), 1) << error.toStdString();
        EXPECT_TRUE(error.startsWith("ferrun-board: ")) << error.toStdString();
    }
}

TEST(BoardProgram, TakesAndListsTheStrayByteAndBridgeOptions)
{
    QProcess process;
    const QString path = startBoard(process,
        { "--speed", "1000", "--stray-byte-in", "2", "--stray-byte-at", "10", "--last-byte-delay",
            "1", "--bridge-latency", "1", "--bridge-packet=16", "--quiet" });
    ASSERT_FALSE(path.isEmpty());
    PtyLink link(path.toStdString());
    link.write(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_EQ(link.read(1), Bytes { 0x0A });
    link.write(transferCommand(false, 0x01, 1));
    const Bytes block = link.read(502);
    ASSERT_EQ(block.size(), 502u);
    EXPECT_EQ(block[10], 0x5A);
    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0);

    QProcess help;
    help.start(boardProgram(), { "--help" });
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 0);
    const QByteArray usage = help.readAllStandardOutput();
    for (const char *option : { "--stray-byte-in K", "--stray-byte-at N", "--last-byte-delay MS",
             "--bridge-latency MS", "--bridge-packet BYTES" })
        EXPECT_TRUE(usage.contains(option)) << option;
}
