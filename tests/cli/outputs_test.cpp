// Where ferrun-cli's output goes: standard output that cannot take it, a FIFO without a reader,
// a signal in the middle of a write, two runs writing one target, standard input, and the
// progress that only a terminal sees. What stands at the path (and in its folder, and in the
// recovery store) afterwards is checked.
#include "files/datafile.h"
#include "tests/cli/clirun.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

using clitest::CliRun;
using clitest::finished;
using clitest::runCli;
using clitest::runCliWritingTo;

namespace {

mode_t typeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// The files process `pid` holds open, as the system names them.
QStringList openFiles(qint64 pid)
{
    QStringList names;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd :
        fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char link[4096];
        const ssize_t n
            = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), link, sizeof link);
        if (n > 0)
            names << QFile::decodeName(QByteArray(link, n));
    }
    return names;
}

// Waits until the process holds a file open for which `wanted` holds (false when it ended).
bool waitUntilHolding(QProcess &process, const std::function<bool(const QString &)> &wanted)
{
    while (process.state() != QProcess::NotRunning) {
        for (const QString &name : openFiles(process.processId()))
            if (wanted(name))
                return true;
        process.waitForFinished(5);
    }
    return false;
}

// A recording of all seven channels with `bytes` bytes of data: a long CSV.
QString bigRecording(const QString &path, qsizetype bytes)
{
    files::DataFileHeader header = clitest::titledHeader();
    header.ChartChannelBits = 0x7F;
    header.ChannelIntervalUs = 3055 / 14.7456 * 7;
    QByteArray data(bytes, '\0');
    for (qsizetype i = 0; i < bytes; ++i)
        data[i] = char(i * 37 % 251);
    return clitest::writeDataFile(path, header, data, "big");
}

QString storeEntry(const QString &dataHome, const QString &pattern)
{
    const QStringList kept
        = QDir(dataHome + "/Ferrun/recovery").entryList({ pattern }, QDir::Files);
    return kept.size() == 1 ? dataHome + "/Ferrun/recovery/" + kept.first() : QString();
}

} // namespace

// A full disk behind standard output: one line naming the error and a status that is not 0;
// likewise for a help or version text. A closed standard output is said to be closed.
TEST(CliOutputs, StandardOutputThatFailsIsReported)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString recording = dir.filePath("r.kdx");
    ASSERT_TRUE(files::saveDataFile(recording, {}, QByteArray(600, 'r'), "comment"));
    for (const QStringList &args : { QStringList { "dividers" }, QStringList { "info", recording },
             QStringList { "ports", "--sysfs-root", dir.path(), "--dev-root", dir.path() },
             QStringList { "--help" }, QStringList { "--version" },
             QStringList { "export", "--help" } }) {
        SCOPED_TRACE(qPrintable(args.join(' ')));
        const CliRun run = runCliWritingTo(QStringLiteral("/dev/full"), args);
        EXPECT_EQ(run.exitCode, 1) << qPrintable(run.err);
        EXPECT_TRUE(run.err.endsWith("cannot write to standard output: No space left on device\n"))
            << qPrintable(run.err);
        EXPECT_EQ(run.err.count(u'\n'), 1) << qPrintable(run.err);
    }
    QProcess closed;
    closed.start("/bin/sh",
        { "-c", "exec >&-; exec \"$0\" info \"$1\"", clitest::program("ferrun-cli"), recording });
    const CliRun run = finished(closed);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "ferrun-cli info: cannot write to standard output: it is closed\n");
}

// The target of a measurement that is a FIFO receives the data file as a stream and stays a
// FIFO; a character device is written and stays one.
TEST(CliOutputs, MeasurementIntoAFifoOrADevice)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("pipe.kdx");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray read;
    std::thread reader([&] {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY);
        char buffer[65536];
        for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            read.append(buffer, n);
        if (fd >= 0)
            ::close(fd);
    });
    const QStringList measure { "measure", "--simulator", "--time", "200", "--samples", "30000",
        "--comment", "to a pipe", "-o" };
    const CliRun run = runCli(measure + QStringList { fifo });
    if (run.exitCode != 0) {
        // The reader waits for a writer that never came: give it one.
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    reader.join();
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    files::DataFile file;
    ASSERT_EQ(files::decodeDataFile(read, &file), files::DataFileStatus::Ok);
    EXPECT_EQ(file.data.size(), 60000);
    EXPECT_EQ(file.comment(), QStringLiteral("to a pipe"));
    EXPECT_EQ(typeOf(fifo), mode_t(S_IFIFO));

    const QString null = dir.filePath("null");
    if (::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "no device can be made here";
    const CliRun device = runCli(measure + QStringList { null });
    EXPECT_EQ(device.exitCode, 0) << qPrintable(device.err);
    EXPECT_EQ(typeOf(null), mode_t(S_IFCHR));
}

// A FIFO that no program reads: once the recording is made, measure and cycle wait for a
// reader only until a signal comes. Then the recording (the cycles) is in the recovery store,
// named, the status is the signal's, and the FIFO stays a FIFO.
TEST(CliOutputs, AFifoWithoutAReaderEndsOnASignalKeepingTheRecording)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("nobody.kdx");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const auto holdsTheFifo = [&](const QString &name) { return name == fifo; };
    for (const int signal : { SIGINT, SIGTERM, SIGHUP }) {
        SCOPED_TRACE(signal);
        QTemporaryDir data;
        QProcess measure;
        measure.setProcessEnvironment(clitest::withDataHome(data.path()));
        measure.start(clitest::program("ferrun-cli"),
            { "measure", "--simulator", "--time", "200", "--samples", "30000", "-o", fifo });
        ASSERT_TRUE(waitUntilHolding(measure, holdsTheFifo))
            << measure.readAllStandardError().constData();
        ::kill(pid_t(measure.processId()), signal);
        const CliRun run = finished(measure, 10000);
        EXPECT_EQ(run.exitCode, 128 + signal) << qPrintable(run.err);
        const QString kept = storeEntry(data.path(), "*-unsaved.kdx");
        ASSERT_FALSE(kept.isEmpty()) << qPrintable(run.err);
        EXPECT_TRUE(run.err.endsWith(
            " before " + fifo + " was written; the recording is kept in " + kept + "\n"))
            << qPrintable(run.err);
        files::DataFile file;
        ASSERT_EQ(files::readDataFile(kept, &file), files::DataFileStatus::Ok);
        EXPECT_EQ(file.data.size(), 60000);
        EXPECT_EQ(typeOf(fifo), mode_t(S_IFIFO));
    }

    QTemporaryDir data;
    QProcess cycle;
    cycle.setProcessEnvironment(clitest::withDataHome(data.path()));
    cycle.start(clitest::program("ferrun-cli"),
        { "cycle", "--simulator", "--time", "124", "--count", "2", "--one-file", "-o", fifo });
    ASSERT_TRUE(waitUntilHolding(cycle, holdsTheFifo));
    ::kill(pid_t(cycle.processId()), SIGINT);
    const CliRun run = finished(cycle, 10000);
    EXPECT_EQ(run.exitCode, 128 + SIGINT) << qPrintable(run.err);
    const QString kept = storeEntry(data.path(), "*-cycles.kdx");
    ASSERT_FALSE(kept.isEmpty()) << qPrintable(run.err);
    EXPECT_TRUE(run.err.endsWith("cannot write " + fifo
        + ": interrupted by a signal while waiting for it; the 2 cycles stay in the recovery "
          "store: "
        + kept + "\n"))
        << qPrintable(run.err);
    files::DataFile file;
    ASSERT_EQ(files::readDataFile(kept, &file), files::DataFileStatus::Ok);
    EXPECT_EQ(file.data.size(), 7000);
    EXPECT_EQ(typeOf(fifo), mode_t(S_IFIFO));
}

// SIGINT, SIGTERM, SIGHUP or SIGPIPE in the middle of a long export ends it as the signal
// does, and nothing is left but what was there: the old file whole, no temporary file (with
// unnamed temporary files, and with named ones, which the signal removes).
TEST(CliOutputs, ASignalInTheMiddleOfAnExportLeavesTheOldFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString input = bigRecording(dir.filePath("in.kdx"), 8 << 20);
    const QString out = dir.filePath("out.csv");
    for (const bool named : { false, true })
        for (const int signal : { SIGINT, SIGTERM, SIGHUP, SIGPIPE }) {
            SCOPED_TRACE(
                QString("%1 %2").arg(named ? "named" : "unnamed").arg(signal).toStdString());
            QFile old(out);
            ASSERT_TRUE(old.open(QIODevice::WriteOnly));
            old.write("old");
            old.close();
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            if (named)
                env.insert("FERRUN_NAMED_TEMPORARY_FILES", "1");
            QProcess process;
            process.setProcessEnvironment(env);
            process.start(clitest::program("ferrun-cli"), { "export", input, "-o", out });
            // Its temporary file is open: the export is writing.
            ASSERT_TRUE(waitUntilHolding(process, [&](const QString &name) {
                return name.startsWith(dir.path() + "/") && name != input;
            }));
            ::kill(pid_t(process.processId()), signal);
            const CliRun run = finished(process);
            EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << qPrintable(run.err);
            EXPECT_EQ(clitest::readAll(out), QByteArray("old"));
            EXPECT_EQ(entries(dir.path()), QStringList({ "in.kdx", "out.csv" }));
        }
}

// Two runs writing one target at once each write a temporary file of their own: both end
// whole, and nothing else is left. A file of the user's named like an old temporary file is
// none of the program's business.
TEST(CliOutputs, TwoRunsToOneTargetBothEndWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString input = bigRecording(dir.filePath("in.kdx"), 2 << 20);
    const CliRun reference = runCli({ "export", input });
    ASSERT_EQ(reference.exitCode, 0);
    const QString out = dir.filePath("out.csv");
    QFile notes(out + ".saving");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("the user's notes");
    notes.close();
    for (const bool named : { false, true }) {
        SCOPED_TRACE(named);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (named)
            env.insert("FERRUN_NAMED_TEMPORARY_FILES", "1");
        QProcess first;
        QProcess second;
        first.setProcessEnvironment(env);
        second.setProcessEnvironment(env);
        first.start(clitest::program("ferrun-cli"), { "export", input, "-o", out });
        waitUntilHolding(first, [&](const QString &name) {
            return name.startsWith(dir.path() + "/") && name != input;
        });
        second.start(clitest::program("ferrun-cli"), { "export", input, "-o", out });
        const CliRun a = finished(first);
        const CliRun b = finished(second);
        EXPECT_EQ(a.exitCode, 0) << qPrintable(a.err);
        EXPECT_EQ(b.exitCode, 0) << qPrintable(b.err);
        EXPECT_TRUE(clitest::readAll(out) == reference.outBytes);
        EXPECT_EQ(entries(dir.path()), QStringList({ "in.kdx", "out.csv", "out.csv.saving" }));
        EXPECT_EQ(clitest::readAll(notes.fileName()), QByteArray("the user's notes"));
    }
}

// "-" is standard input for every command that reads one recording (a pipe, or a file
// redirected), and standard output for every command that writes one.
TEST(CliOutputs, StandardInputAndOutput)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString input = bigRecording(dir.filePath("in.kdx"), 70000);
    const auto throughPipe = [&](const QStringList &args) {
        QProcess process;
        process.start(clitest::program("ferrun-cli"), args);
        process.write(clitest::readAll(input));
        process.closeWriteChannel();
        return finished(process);
    };
    for (const QStringList &args : { QStringList { "export", "--photodiode" },
             QStringList { "info" }, QStringList { "stats", "--mode", "1" } }) {
        SCOPED_TRACE(qPrintable(args.join(' ')));
        const CliRun named = runCli(args + QStringList { input });
        ASSERT_EQ(named.exitCode, 0) << qPrintable(named.err);
        const CliRun piped = throughPipe(args + QStringList { "-" });
        EXPECT_EQ(piped.exitCode, 0) << qPrintable(piped.err);
        EXPECT_TRUE(piped.outBytes == named.outBytes);
        QProcess redirected;
        redirected.setStandardInputFile(input);
        redirected.start(clitest::program("ferrun-cli"), args + QStringList { "-" });
        const CliRun fromFile = finished(redirected);
        EXPECT_EQ(fromFile.exitCode, 0) << qPrintable(fromFile.err);
        EXPECT_TRUE(fromFile.outBytes == named.outBytes);
    }
    const CliRun svg = throughPipe({ "plot", "-", "-o", "-", "--format", "svg" });
    EXPECT_EQ(svg.exitCode, 0) << qPrintable(svg.err);
    EXPECT_TRUE(svg.outBytes.contains("<title>-</title>"));
    const CliRun twice = throughPipe({ "plot", "-", "-", "-o", dir.filePath("x.svg") });
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_EQ(twice.err, "ferrun-cli plot: standard input (-) can be read only once\n");

    // A measurement to standard output: the data file as bytes.
    const CliRun measured = runCli(
        { "measure", "--simulator", "--time", "200", "--samples", "30000", "--quiet", "-o", "-" });
    ASSERT_EQ(measured.exitCode, 0) << qPrintable(measured.err);
    EXPECT_TRUE(measured.err.isEmpty()) << qPrintable(measured.err);
    files::DataFile file;
    ASSERT_EQ(files::decodeDataFile(measured.outBytes, &file), files::DataFileStatus::Ok);
    EXPECT_EQ(file.data.size(), 60000);
    EXPECT_EQ(entries(dir.path()), QStringList({ "in.kdx" }));
}

// Progress shows on a terminal (the recording's time left, the blocks received, the cycles
// stored), and not with --quiet; on anything else nothing shows (the other tests' runs).
TEST(CliOutputs, ProgressOnATerminalOnly)
{
    const auto onTerminal = [](const QStringList &args) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(master, 0);
        EXPECT_EQ(::grantpt(master), 0);
        EXPECT_EQ(::unlockpt(master), 0);
        QProcess process;
        process.setStandardErrorFile(QString::fromLocal8Bit(::ptsname(master)));
        process.start(clitest::program("ferrun-cli"), args);
        QByteArray seen;
        char buffer[4096];
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        while (!process.waitForFinished(20))
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
                seen.append(buffer, n);
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            seen.append(buffer, n);
        ::close(master);
        EXPECT_EQ(process.exitCode(), 0) << seen.constData();
        return seen;
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QStringList measure { "measure", "--simulator", "--time", "300", "--samples", "30000",
        "-o", dir.filePath("run.kdx") };
    const QByteArray shown = onTerminal(measure);
    EXPECT_TRUE(shown.contains("recording [")) << shown.constData();
    EXPECT_TRUE(shown.contains(" left")) << shown.constData();
    EXPECT_TRUE(shown.contains("120/120 blocks")) << shown.constData();
    EXPECT_TRUE(shown.contains("ferrun-cli measure: saved")) << shown.constData();
    EXPECT_TRUE(onTerminal(measure + QStringList { "--quiet" }).isEmpty());
    const QByteArray cycles = onTerminal(
        { "cycle", "--simulator", "--time", "124", "--count", "2", "-o", dir.filePath("c.kdx") });
    EXPECT_TRUE(cycles.contains("cycles stored: 2/2")) << cycles.constData();
}
