#include "files/datafile.h"
#include "tests/cli/clirun.h"
#include "tests/support/lockedfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <tuple>

namespace {

using clitest::CliRun;
using clitest::finished;
using clitest::runCli;

files::DataFile load(const QString &name)
{
    files::DataFile file;
    EXPECT_EQ(files::readDataFile(name, &file), files::DataFileStatus::Ok) << qPrintable(name);
    return file;
}

} // namespace

// Three cycles, one file each beside the name given (which is not written itself), each
// with one averaged block and the same comment.
TEST(CliCycle, ThreeCyclesOneFileEach)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const CliRun run = runCli({ "cycle", "--simulator", "--time=124", "--count", "3", "--channels",
        "1,3", "-o", dir.filePath("run.kdx"), "--comment", "печь 1\nвторая" });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    // Standard error is no terminal: no progress, only what was saved.
    EXPECT_EQ(run.err,
        QString("ferrun-cli cycle: saved 3 cycles, one file per cycle: %1 to %2\n")
            .arg(dir.filePath("run0000.kdx"), dir.filePath("run0002.kdx")));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
        QStringList({ "run0000.kdx", "run0001.kdx", "run0002.kdx" }));
    QByteArray previous;
    for (const QString name : { "run0000.kdx", "run0001.kdx", "run0002.kdx" }) {
        const files::DataFile file = load(dir.filePath(name));
        EXPECT_EQ(file.header.DataLength, 3500u);
        EXPECT_EQ(file.header.ChartChannelBits, 0x85);
        EXPECT_GT(file.header.ChannelIntervalUs, 0.0);
        EXPECT_EQ(file.comment(), QStringLiteral("печь 1\r\nвторая"));
        EXPECT_NE(file.data, previous) << "every cycle is a new recording";
        previous = file.data;
    }
}

TEST(CliCycle, OneFileHoldsTheWholeStream)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("all.kdx");
    const CliRun run = runCli(
        { "cycle", "--simulator", "--time", "124", "--count=3", "--one-file", "-o", target });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(run.err.toStdString(),
        ("ferrun-cli cycle: saved " + target + ": 3 cycles, 10500 bytes of data\n").toStdString());
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({ "all.kdx" }));
    const files::DataFile file = load(target);
    EXPECT_EQ(file.header.DataLength, 10500u);
    EXPECT_EQ(file.data.size(), 10500);
    EXPECT_EQ(file.header.ChartChannelBits, 0xFF);
}

// Ctrl+C stops after the cycle under way; SIGTERM (a service manager, kill) and SIGHUP (a
// closed terminal) stop at once. Either way every stored cycle is saved, and the command
// says what happened.
TEST(CliCycle, SignalsEndTheRunSavingTheCyclesStored)
{
    for (const int signal : { SIGINT, SIGTERM, SIGHUP }) {
        SCOPED_TRACE(signal);
        QTemporaryDir dir;
        QTemporaryDir data;
        QProcess process;
        process.setProcessEnvironment(clitest::withDataHome(data.path()));
        process.start(clitest::program("ferrun-cli"),
            { "cycle", "--simulator", "--time", "124", "-o", dir.filePath("run.kdx") });
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(clitest::waitForCycles(process, data.path(), 2));
        ::kill(pid_t(process.processId()), signal);
        const CliRun run = finished(process);
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains(signal == SIGINT ? "stopping after the cycle under way"
                                                      : "the cycle under way was dropped"))
            << qPrintable(run.err);
        const QRegularExpressionMatch saved
            = QRegularExpression("saved (\\d+) cycles, one file per cycle").match(run.err);
        ASSERT_TRUE(saved.hasMatch()) << qPrintable(run.err);
        const int stored = saved.captured(1).toInt();
        EXPECT_GE(stored, signal == SIGINT ? 3 : 2);
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        EXPECT_EQ(files.size(), stored) << qPrintable(run.err);
        for (const QString &name : files)
            EXPECT_EQ(load(dir.filePath(name)).header.DataLength, 3500u);
        // Every cycle saved: the run leaves nothing in the store.
        EXPECT_EQ(clitest::cyclesInStore(data.path()), 0);
    }
}

// A stray byte inside the last block of the second cycle, its real last byte 40 ms late: the
// cycle is never stored, the run ends there, and the first cycle is saved alone (per cycle,
// or as the whole of the one file, which replaces the older file of that name). A board that
// hangs up between two cycles ends the run the same way, at once and as disconnected.
TEST(CliCycle, ACycleWhoseTransferFailsIsNeverSaved)
{
    // Replies 1..8 are the first cycle: 16 is the last block of the second, 9 its end byte.
    const QStringList stray { "--stray-byte-in", "16", "--last-byte-delay", "40" };
    const QStringList hangUp { "--hangup-after", "9" };
    for (const auto &[fault, oneFile, says] :
        { std::tuple { stray, false, "out of step" }, std::tuple { stray, true, "out of step" },
            std::tuple { hangUp, false, "board disconnected" } }) {
        SCOPED_TRACE(qPrintable(fault.join(' ') + (oneFile ? " one file" : "")));
        clitest::Board board(QStringList { "--speed", "100" } + fault);
        ASSERT_FALSE(board.device.isEmpty());
        QTemporaryDir dir;
        const QString target = dir.filePath("run.kdx");
        QStringList args { "cycle", "--device", board.device, "--time", "124", "--count", "5", "-o",
            target };
        if (oneFile) {
            args << "--one-file";
            clitest::writeDataFile(target, clitest::titledHeader(), QByteArray(7000, 'x'), "old");
        }
        const CliRun run = runCli(args);
        EXPECT_EQ(run.exitCode, 3) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains(says)) << qPrintable(run.err);
        EXPECT_FALSE(run.err.contains("no reply")) << qPrintable(run.err);
        EXPECT_TRUE(
            run.err.endsWith(oneFile ? "saved " + target + ": 1 cycle, 3500 bytes of data\n"
                                     : "saved " + dir.filePath("run0000.kdx") + ": 1 cycle\n"))
            << qPrintable(run.err);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files),
            QStringList({ oneFile ? "run.kdx" : "run0000.kdx" }));
        EXPECT_EQ(load(dir.filePath(oneFile ? "run.kdx" : "run0000.kdx")).data.size(), 3500);
    }
}

// A stray byte inside the last block of the second cycle whose real last byte comes after the
// cycle's quiet time (70, 100 or 300 ms later, during the next cycle's recording or its wait for
// the transfer): the second cycle is not kept as good, the run says so and ends, the first is
// saved alone, and the bytes of the bad one are kept with the failed transfers.
TEST(CliCycle, ALateByteProvesTheCycleBeforeItWrong)
{
    for (const char *delay : { "70", "100", "300" }) {
        SCOPED_TRACE(delay);
        clitest::Board board(
            { "--speed", "100", "--stray-byte-in", "16", "--last-byte-delay", delay });
        ASSERT_FALSE(board.device.isEmpty());
        QTemporaryDir dir;
        QTemporaryDir data;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", data.path());
        const CliRun run = runCli({ "cycle", "--device", board.device, "--time", "124", "--count",
                                      "5", "-o", dir.filePath("run.kdx") },
            env);
        EXPECT_EQ(run.exitCode, 3) << qPrintable(run.err);
        EXPECT_TRUE(run.err.contains("out of step")) << qPrintable(run.err);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList({ "run0000.kdx" }));
        EXPECT_EQ(load(dir.filePath("run0000.kdx")).data.size(), 3500);
        // The store keeps no cycles (they are saved); a cycle taken back is a failed transfer.
        const QStringList kept
            = QDir(data.filePath("Ferrun/recovery")).entryList({ "*.kdx" }, QDir::Files);
        for (const QString &name : kept)
            EXPECT_TRUE(name.endsWith("-failed.kdx")) << qPrintable(name);
        if (run.err.contains("is not kept as good")) {
            ASSERT_EQ(kept.size(), 1) << qPrintable(run.err);
            EXPECT_EQ(load(data.filePath("Ferrun/recovery/" + kept.first())).data.size(), 3000);
        }
    }
}

// A run killed outright (SIGKILL, a crash, a power cut) loses at most the cycle under way:
// every cycle stored before is on disk in the recovery store, and the next start of the
// command names it. A save that fails leaves the cycles there too.
TEST(CliCycle, KilledRunsAndFailedSavesKeepTheCycles)
{
    QTemporaryDir dir;
    QTemporaryDir data;
    const QProcessEnvironment env = clitest::withDataHome(data.path());
    const QString store = data.filePath("Ferrun/recovery");
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(clitest::program("ferrun-cli"),
        { "cycle", "--simulator", "--time", "124", "-o", dir.filePath("run.kdx") });
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(clitest::waitForCycles(process, data.path(), 3));
    const int stored = clitest::cyclesInStore(data.path());
    ::kill(pid_t(process.processId()), SIGKILL);
    process.waitForFinished();
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    // The next run names what the killed one left, whole.
    const CliRun next = runCli(
        { "cycle", "--simulator", "--time", "124", "--count", "1", "-o", dir.filePath("b.kdx") },
        env);
    ASSERT_EQ(next.exitCode, 0) << qPrintable(next.err);
    EXPECT_TRUE(next.err.contains("kept " + store)) << qPrintable(next.err);
    const QStringList kept = QDir(store).entryList({ "*-cycles.kdx" }, QDir::Files);
    ASSERT_EQ(kept.size(), 1) << qPrintable(next.err);
    const files::DataFile killed = load(store + "/" + kept.first());
    EXPECT_GE(killed.data.size(), stored * 3500);
    EXPECT_LE(killed.data.size(), (stored + 1) * 3500);
    EXPECT_EQ(killed.data.size() % 3500, 0);
    const CliRun listed = runCli({ "recovered" }, env);
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_TRUE(listed.out.contains("cycles of a run by cycle")) << qPrintable(listed.out);
    EXPECT_TRUE(listed.out.contains(kept.first())) << qPrintable(listed.out);

    // The folder stops taking new files during the run: the save of the one file is refused
    // (never rewritten in place), and the cycles stay in the store, named.
    const QString folder = dir.filePath("locked");
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    const QString target = folder + "/one.kdx";
    clitest::writeDataFile(target, clitest::titledHeader(), "old", "old");
    const QByteArray before = clitest::readAll(target);
    QProcess locking;
    locking.setProcessEnvironment(env);
    locking.start(clitest::program("ferrun-cli"),
        { "cycle", "--simulator", "--time", "124", "--count", "2", "--one-file", "-o", target });
    ASSERT_TRUE(clitest::waitForCycles(locking, data.path(), int(killed.data.size() / 3500) + 1));
    CliRun failed;
    {
        const testsupport::LockedFolder locked(folder);
        if (!locked.locked())
            GTEST_SKIP() << "no folder here can be made to refuse new files";
        failed = finished(locking);
    }
    EXPECT_EQ(failed.exitCode, 1) << qPrintable(failed.err);
    EXPECT_TRUE(failed.err.contains("never rewritten in place; the 2 cycles stay in the recovery "
                                    "store"))
        << qPrintable(failed.err);
    const QStringList after = QDir(store).entryList({ "*-cycles.kdx" }, QDir::Files);
    ASSERT_EQ(after.size(), 2);
    for (const QString &name : after) {
        if (name != kept.first()) {
            EXPECT_EQ(load(store + "/" + name).data.size(), 7000);
        }
    }
    EXPECT_EQ(clitest::readAll(target), before);
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList({ "one.kdx" }));
}

TEST(CliCycle, ArgumentsAndTargets)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("run.kdx");
    CliRun run = runCli({ "cycle", "--help" });
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(run.out.contains("--one-file")) << qPrintable(run.out);
    EXPECT_TRUE(run.out.contains("exit status")) << qPrintable(run.out);

    run = runCli({ "cycle", "--simulator", "--count", "0", "-o", target });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("1 to 1000000")) << qPrintable(run.err);
    run = runCli({ "cycle", "--simulator", "--time", "100", "-o", target });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("124 to 401674")) << qPrintable(run.err);
    run = runCli({ "cycle", "--simulator", "--count", "1" });
    EXPECT_EQ(run.exitCode, 2);
    run = runCli({ "cycle", "--simulator", "--samples", "30000", "-o", target });
    EXPECT_EQ(run.exitCode, 2);
    // A cycle run is saved as files: standard output is refused.
    run = runCli({ "cycle", "--simulator", "--count", "1", "-o", "-" });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err,
        "ferrun-cli cycle: -o - (standard output) is refused: a cycle run is saved "
        "as files\n");
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files).isEmpty());

    // A folder that does not exist: refused before the board records anything.
    run = runCli({ "cycle", "--simulator", "--count", "1", "-o", dir.filePath("no/run.kdx") });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("cannot write")) << qPrintable(run.err);
    EXPECT_TRUE(run.err.contains("run0000.kdx")) << qPrintable(run.err);
}
