// Where ferrun-cli's output goes: standard output that cannot take it, and a measurement's
// target that is a FIFO or a device. What stands at the path afterwards is checked.
#include "files/datafile.h"
#include "tests/cli/clirun.h"

#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

using clitest::CliRun;
using clitest::runCli;
using clitest::runCliWritingTo;

namespace {

mode_t typeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

} // namespace

// A full disk behind standard output: one line naming the error and a status that is not 0.
TEST(CliOutputs, StandardOutputThatFailsIsReported)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString recording = dir.filePath("r.kdx");
    ASSERT_TRUE(files::saveDataFile(recording, {}, QByteArray(600, 'r'), "comment"));
    for (const QStringList &args : { QStringList { "dividers" }, QStringList { "info", recording },
             QStringList { "ports", "--sysfs-root", dir.path(), "--dev-root", dir.path() } }) {
        SCOPED_TRACE(qPrintable(args.join(' ')));
        const CliRun run = runCliWritingTo(QStringLiteral("/dev/full"), args);
        EXPECT_EQ(run.exitCode, 1) << qPrintable(run.err);
        EXPECT_TRUE(run.err.endsWith("cannot write to standard output: No space left on device\n"))
            << qPrintable(run.err);
        EXPECT_EQ(run.err.count(u'\n'), 1) << qPrintable(run.err);
    }
    const CliRun missing = runCli({ "ports", "--sysfs-root", dir.filePath("none") });
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains("is none")) << qPrintable(missing.err);
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
