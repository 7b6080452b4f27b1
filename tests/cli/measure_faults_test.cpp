// ferrun-cli measure against a board that misbehaves (the ferrun-board program on a real
// pseudo-terminal), against signals, and with arguments it must refuse.

#include "files/datafile.h"
#include "files/outputfile.h"
#include "tests/cli/clirun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using clitest::Board;
using clitest::CliRun;
using clitest::finished;
using clitest::program;
using clitest::runCli;

// A target that holds an older recording, and a check that it still does.
struct Target
{
    Target()
    {
        path = dir.filePath("run.kdx");
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(old);
    }
    bool untouched() const
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) && file.readAll() == old;
    }
    QTemporaryDir dir;
    QString path;
    const QByteArray old = "old recording";
};

// One block of 30000 samples: 120 data blocks, replies 2..121.
const QStringList oneBlock = { "--time", "200", "--samples", "30000" };

} // namespace

// Garbage behind a block, or one block of 502 bytes: the transfer is out of step. The command
// says so, exits 5, leaves the existing target as it was and keeps the received bytes in a
// side file it names.
TEST(CliMeasureFaults, OutOfStepLeavesTheTargetAndKeepsTheBytesAside)
{
    // The last: a stray byte inside the last block, whose real last byte comes 40 ms later.
    for (const QStringList &fault :
        { QStringList { "--garbage-after", "30" }, QStringList { "--extra-byte-after", "30" },
            QStringList { "--stray-byte-in", "121", "--last-byte-delay", "40" } }) {
        SCOPED_TRACE(qPrintable(fault.join(' ')));
        const bool last = fault.first() == "--stray-byte-in";
        Board board(QStringList { "--speed", "100" } + fault);
        ASSERT_FALSE(board.device.isEmpty());
        Target target;
        const CliRun run = runCli(
            QStringList { "measure", "--device", board.device, "-o", target.path } + oneBlock);
        EXPECT_EQ(run.exitCode, 5) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains("out of step")) << qPrintable(run.err);
        EXPECT_FALSE(run.err.contains("saved ")) << qPrintable(run.err);
        EXPECT_TRUE(target.untouched());
        const QString side = target.path + ".faulty";
        EXPECT_TRUE(run.err.contains(side)) << qPrintable(run.err);
        files::DataFile kept;
        ASSERT_EQ(files::readDataFile(side, &kept), files::DataFileStatus::Ok);
        // Up to the last good block: not the one the stray bytes came with.
        EXPECT_GE(kept.data.size(), last ? 59500 : 28 * 500);
        EXPECT_LE(kept.data.size(), last ? 59500 : 59000);
        EXPECT_EQ(kept.data.size() % 500, 0);
        EXPECT_TRUE(kept.comment().startsWith("FAULTY RECORDING"));
        EXPECT_EQ(QDir(target.dir.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList({ "run.kdx", "run.kdx.faulty" }));

        // A second failure never replaces the first one's bytes: it is numbered.
        if (last) {
            const QByteArray first = clitest::readAll(side);
            Board again(QStringList { "--speed", "100" } + fault);
            const CliRun second = runCli(
                QStringList { "measure", "--device", again.device, "-o", target.path } + oneBlock);
            EXPECT_EQ(second.exitCode, 5) << qPrintable(second.err);
            EXPECT_TRUE(second.err.contains(target.path + ".2.faulty")) << qPrintable(second.err);
            EXPECT_EQ(clitest::readAll(side), first);
            EXPECT_TRUE(QFile::exists(target.path + ".2.faulty"));
            EXPECT_TRUE(target.untouched());
        }
    }
}

// A target that is no regular file cannot hold the bytes of a failed transfer beside it: they
// go to the recovery store, named on standard error, and nothing is made beside the device.
TEST(CliMeasureFaults, FailedTransferToADeviceIsKeptInTheStore)
{
    QTemporaryDir data;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_DATA_HOME", data.path());
    Board board({ "--speed", "100", "--garbage-after", "30" });
    ASSERT_FALSE(board.device.isEmpty());
    const CliRun run = runCli(
        QStringList { "measure", "--device", board.device, "-o", "/dev/null" } + oneBlock, env);
    EXPECT_EQ(run.exitCode, 5) << qPrintable(run.err);
    EXPECT_FALSE(QFile::exists("/dev/null.faulty"));
    const QString store = data.filePath("Ferrun/recovery");
    const QStringList kept = QDir(store).entryList({ "*-failed.kdx" }, QDir::Files);
    ASSERT_EQ(kept.size(), 1) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains(store + "/" + kept.first())) << qPrintable(run.err);
    const CliRun listed = runCli({ "recovered" }, env);
    EXPECT_TRUE(listed.out.contains("failed transfer by measure")) << qPrintable(listed.out);
}

// A board that goes away, during the transfer or while the recording is awaited, ends the
// command at once with its own status; the next run on a board plugged in again saves.
TEST(CliMeasureFaults, DisconnectEndsAtOnceAndTheNextRunWorks)
{
    for (const char *reply : { "50", "1" }) {
        SCOPED_TRACE(reply);
        Board board({ "--speed", "100", "--hangup-after", reply });
        ASSERT_FALSE(board.device.isEmpty());
        Target target;
        QElapsedTimer clock;
        clock.start();
        const CliRun run = runCli(
            QStringList { "measure", "--device", board.device, "-o", target.path } + oneBlock);
        EXPECT_EQ(run.exitCode, 6) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains("board disconnected")) << qPrintable(run.err);
        EXPECT_FALSE(run.err.contains("no reply")) << qPrintable(run.err);
        EXPECT_TRUE(target.untouched());
        // During the transfer the blocks received so far are kept aside, flagged.
        EXPECT_EQ(QFile::exists(target.path + ".faulty"), QString(reply) == "50");
    }
    Board board({ "--speed", "100" });
    Target target;
    const CliRun run
        = runCli(QStringList { "measure", "--device", board.device, "-o", target.path } + oneBlock);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    files::DataFile saved;
    ASSERT_EQ(files::readDataFile(target.path, &saved), files::DataFileStatus::Ok);
    EXPECT_EQ(saved.data.size(), 60000);
}

// The photodiode launch waits for its trigger: it says so once the recording time has passed,
// gives up only when --trigger-timeout says so, and records when the trigger comes.
TEST(CliMeasureFaults, PhotodiodeLaunchWaitsForTheTrigger)
{
    {
        Board board({ "--speed", "100" });
        Target target;
        const CliRun run
            = runCli(QStringList { "measure", "--device", board.device, "-o", target.path,
                         "--launch", "photodiode", "--trigger-timeout", "1" }
                + oneBlock);
        EXPECT_EQ(run.exitCode, 3) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains("waiting for the photodiode trigger")) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains("no photodiode trigger")) << qPrintable(run.err);
        EXPECT_TRUE(target.untouched());
    }
    Board board({ "--speed", "100" });
    Target target;
    QProcess cli;
    clitest::startPhotodiodeMeasure(cli, board.device, target.path, oneBlock);
    const QByteArray err = clitest::readErrorUntil(cli, "waiting for the photodiode trigger");
    ASSERT_TRUE(err.contains("waiting for the photodiode trigger")) << err.constData();
    board.process.write("trigger\n");
    ASSERT_TRUE(board.process.waitForBytesWritten(5000));
    const CliRun run = finished(cli);
    EXPECT_EQ(run.exitCode, 0) << err.constData() << qPrintable(run.err);
    files::DataFile saved;
    ASSERT_EQ(files::readDataFile(target.path, &saved), files::DataFileStatus::Ok);
    EXPECT_EQ(saved.data.size(), 60000);
}

// Ctrl+C and SIGTERM: the command says what happened, saves nothing and leaves the target.
TEST(CliMeasureFaults, SignalsLeaveTheTargetIntact)
{
    for (const int signal : { SIGINT, SIGTERM }) {
        SCOPED_TRACE(signal);
        Board board({}); // waits for a trigger that never comes
        Target target;
        QProcess cli;
        clitest::startPhotodiodeMeasure(cli, board.device, target.path, oneBlock);
        const QByteArray err = clitest::readErrorUntil(cli, "waiting for the photodiode trigger");
        ASSERT_TRUE(err.contains("waiting for the photodiode trigger")) << err.constData();
        ::kill(pid_t(cli.processId()), signal);
        const CliRun run = finished(cli, 10000);
        EXPECT_EQ(run.exitCode, signal == SIGINT ? 130 : 143) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains(signal == SIGINT ? "interrupted" : "terminated"))
            << qPrintable(run.err);
        EXPECT_TRUE(run.err.endsWith(": nothing saved, " + target.path + " left as it was\n"))
            << qPrintable(run.err);
        EXPECT_TRUE(target.untouched());
    }
}

// Conventions of the command line: help, --opt=value, out-of-range values named with their
// range and never clamped, what killed saves left cleared (a file of the user's named like
// one left alone), a read-only target refused before anything is recorded.
TEST(CliMeasureFaults, ArgumentsRangesAndTheTargetCheck)
{
    CliRun run = runCli({ "measure", "--help" });
    EXPECT_EQ(run.exitCode, 0);
    for (const char *text : { "--trigger-timeout S", "--short", "(default: 240000)", "exit status",
             "  5  transfer out of step", "  6  board disconnected" })
        EXPECT_TRUE(run.out.contains(text)) << text << "\n" << qPrintable(run.out);

    const struct
    {
        QStringList args;
        const char *message;
    } refused[] = {
        { { "--freq", "10" }, "--freq expects a whole number from 75 to 241731, got '10'" },
        { { "--freq=300000" }, "from 75 to 241731" },
        { { "--samples", "30000", "--time", "401675" },
            "--time expects a whole number from 124 to 401674" },
        { { "--time", "500" }, "--time expects a whole number from 992 to 3213395" },
        { { "--samples", "270000" }, "--samples expects a whole number from 30000 to 240000" },
        { { "--trigger-timeout", "5" }, "--trigger-timeout needs --launch photodiode" },
        { { "--launch", "photodiode", "--trigger-timeout", "0" }, "from 1 to" },
        { { "--bogus" }, "unknown option --bogus (ferrun-cli measure --help lists the options)" },
    };
    for (const auto &c : refused) {
        run = runCli(QStringList { "measure", "--simulator", "-o", "x.kdx" } + c.args);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(c.args.join(' '));
        EXPECT_TRUE(run.err.startsWith("ferrun-cli measure: ")) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains(c.message)) << qPrintable(run.err);
        EXPECT_FALSE(run.err.contains("recording")) << qPrintable(run.err);
    }

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath("run.kdx");
    const QByteArray encoded = QFile::encodeName(target);
    QFile stale(QFile::decodeName(files::temporaryName(encoded)));
    ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
    stale.write("half a save");
    stale.close();
    QFile notes(target + ".saving");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("the user's notes");
    notes.close();
    // --opt=value and "--" before nothing more.
    run = runCli(
        { "measure", "--simulator", "--time=200", "--samples=30000", "--output=" + target, "--" });
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("removed " + stale.fileName())) << qPrintable(run.err);
    EXPECT_FALSE(stale.exists());
    EXPECT_EQ(clitest::readAll(notes.fileName()), QByteArray("the user's notes"));
    // A save killed after it had written the whole recording left the only copy: it is kept
    // under a name of its own (numbered when that is taken), never removed.
    const QByteArray whole = files::encodeDataFile(clitest::titledHeader(), "abcd", "only copy");
    for (const char *kept : { "run.recovered.kdx", "run.recovered-2.kdx" }) {
        QFile left(QFile::decodeName(files::temporaryName(encoded, true)));
        ASSERT_TRUE(left.open(QIODevice::WriteOnly));
        left.write(whole);
        left.close();
        run = runCli({ "measure", "--simulator", "--time=200", "--samples=30000", "-o", target });
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains("kept " + dir.filePath(kept))) << qPrintable(run.err);
        QFile recovered(dir.filePath(kept));
        ASSERT_TRUE(recovered.open(QIODevice::ReadOnly));
        EXPECT_EQ(recovered.readAll(), whole);
    }

    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write a read-only file";
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0444), 0);
    run = runCli({ "measure", "--simulator", "-o", target });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("cannot write " + target + ": Permission denied"))
        << qPrintable(run.err);
    EXPECT_FALSE(run.err.contains("recording")) << "nothing may be recorded first";
}

// "500 байт": one short read of the chosen channels, saved as its 500 bytes.
TEST(CliMeasureFaults, ShortReadSavesItsFiveHundredBytes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("short.kdx");
    const CliRun run = runCli({ "measure", "--simulator", "--short", "--channels", "1,3", "--range",
        "500", "--freq", "2400", "-o", file });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    files::DataFile saved;
    ASSERT_EQ(files::readDataFile(file, &saved), files::DataFileStatus::Ok);
    EXPECT_EQ(saved.data.size(), 500);
    EXPECT_EQ(saved.header.ChartChannelBits, 0x05);
    EXPECT_EQ(saved.header.ValueScale, files::ValueScale500);
    EXPECT_EQ(saved.header.XTitle, QStringLiteral("Время, мкс"));
    EXPECT_GT(saved.header.ChannelIntervalUs, 0);

    // On the photodiode signal: it says it waits, and a bound ends the wait.
    Board board({ "--speed", "100" });
    ASSERT_FALSE(board.device.isEmpty());
    const QString never = dir.filePath("never.kdx");
    const CliRun waited = runCli({ "measure", "--device", board.device, "--short", "--launch",
        "photodiode", "--trigger-timeout", "1", "-o", never });
    EXPECT_EQ(waited.exitCode, 3) << qPrintable(waited.err);
    EXPECT_TRUE(waited.err.contains("waiting for the photodiode trigger"))
        << qPrintable(waited.err);
    EXPECT_TRUE(waited.err.contains("no photodiode trigger within 1 s")) << qPrintable(waited.err);
    EXPECT_FALSE(QFile::exists(never));
}
