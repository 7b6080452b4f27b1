// ferrun-cli export and plot: the input files they refuse and the outputs they write.

#include "files/datafile.h"
#include "tests/cli/clirun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

using clitest::CliRun;
using clitest::runCli;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
    file.write(bytes);
}

struct stat statOf(const QString &path)
{
    struct stat st
    {
    };
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st;
}

// The arguments that write the chart of `input` to `out`: CSV for export, SVG for plot.
QStringList drawTo(const QString &command, const QString &input, const QString &out)
{
    QStringList args { command, input, "--photodiode", "-o", out };
    if (command == "plot")
        args << "--format"
             << "svg";
    return args;
}

// Reads a FIFO to its end in a thread of its own, since its open waits for a writer.
class FifoReader
{
public:
    explicit FifoReader(const QString &path)
        : m_path(path)
        , m_thread([this] {
            QFile fifo(m_path);
            if (fifo.open(QIODevice::ReadOnly))
                m_bytes = fifo.readAll();
            m_done = true;
        })
    {
    }
    // Once the writer is done or gone. A writer that never came is stood in for by an open
    // and close, so that the reader's open returns and it sees the end.
    QByteArray finish()
    {
        while (!m_done) {
            const int fd = ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
            std::this_thread::yield();
        }
        m_thread.join();
        return m_bytes;
    }

private:
    QString m_path;
    QByteArray m_bytes;
    std::atomic<bool> m_done { false };
    std::thread m_thread;
};

class DrawCommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QByteArray data;
        for (int f = 0; f < 300; ++f) {
            const int word = (1000 + f * 7) | (f % 50 < 20 ? 0x8000 : 0);
            data.append(char(word & 0xFF));
            data.append(char(word >> 8));
        }
        files::DataFileHeader header = clitest::titledHeader();
        header.ChartChannelBits = 0x01;
        header.ChannelIntervalUs = 100;
        input = clitest::writeDataFile(dir.filePath("run.kdx"), header, data, "опыт");
        inputBytes = readFile(input);
    }

    // The folder's entries other than the input.
    QStringList others() const
    {
        QStringList names
            = QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        names.removeAll("run.kdx");
        return names;
    }

    QTemporaryDir dir;
    QString input;
    QByteArray inputBytes;
};

} // namespace

TEST_F(DrawCommandsTest, BadInputFilesExitWithTheirCause)
{
    const QString truncated = dir.filePath("cut.kdx");
    writeFile(truncated, inputBytes.left(inputBytes.size() - 4 - 5)); // the comment, 5 bytes
    const QString foreign = dir.filePath("foreign.kdx");
    writeFile(foreign, QByteArray("\x02\x00 not a recording of this instrument", 37));
    const QString loop = dir.filePath("loop.kdx");
    QFile::link(dir.filePath("loop2.kdx"), loop);
    QFile::link(loop, dir.filePath("loop2.kdx"));
    const QString fifo = dir.filePath("fifo.kdx");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    std::vector<std::pair<QString, QString>> cases {
        { truncated,
            QString("ends inside its data: %1 bytes, %2 needed")
                .arg(inputBytes.size() - 9)
                .arg(inputBytes.size() - 4) },
        { foreign, "is not an instrument data file (its type field is 2, not 1)" },
        { dir.filePath("missing\tname.kdx"), "cannot be opened: No such file or directory" },
        { dir.path(), "is a folder, not a data file" },
        { loop, "cannot be opened: Too many levels of symbolic links" },
        { fifo, "is not a regular file (a FIFO)" },
        { "/dev/null", "is not a regular file (a character device)" },
    };
    if (::geteuid() != 0) { // root reads whatever the permission bits say
        const QString locked = dir.filePath("locked.kdx");
        writeFile(locked, inputBytes);
        QFile::setPermissions(locked, QFile::WriteOwner);
        cases.push_back({ locked, "cannot be opened: Permission denied" });
    }
    const QString out = dir.filePath("out");
    for (const QString command : { "export", "plot" })
        for (const auto &[file, cause] : cases) {
            const CliRun run = runCli(drawTo(command, file, out));
            EXPECT_EQ(run.exitCode, 3) << qPrintable(command + " " + file);
            QString name = file;
            name.replace('\t', "\\t");
            EXPECT_EQ(run.err.toStdString(),
                QString("ferrun-cli %1: %2 %3\n").arg(command, name, cause).toStdString());
            EXPECT_TRUE(run.outBytes.isEmpty());
            EXPECT_FALSE(QFileInfo::exists(out)) << qPrintable(command + " " + file);
        }
    // The statuses are told in the help.
    for (const QString command : { "export", "plot" }) {
        const CliRun help = runCli({ command, "--help" });
        EXPECT_TRUE(help.out.contains(QRegularExpression("\n  3 +FILE cannot be read")))
            << qPrintable(help.out);
    }
}

TEST_F(DrawCommandsTest, OutputsAreWrittenAsAUserExpects)
{
    for (const QString command : { "export", "plot" }) {
        SCOPED_TRACE(command.toStdString());
        // "-" is standard output.
        const CliRun standard = runCli(drawTo(command, input, "-"));
        ASSERT_EQ(standard.exitCode, 0) << qPrintable(standard.err);
        EXPECT_TRUE(standard.err.isEmpty()) << qPrintable(standard.err);
        const QByteArray expected = standard.outBytes;
        ASSERT_GT(expected.size(), 1000);

        // A file is replaced by a new one once whole: another link to the old one keeps it.
        const QString file = dir.filePath("out.txt");
        writeFile(file, "old");
        ASSERT_TRUE(QFile::link(file, dir.filePath("link.txt")));
        ASSERT_EQ(::link(QFile::encodeName(file).constData(),
                      QFile::encodeName(dir.filePath("old.txt")).constData()),
            0);
        CliRun run = runCli(drawTo(command, input, file));
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_TRUE(run.outBytes.isEmpty());
        EXPECT_EQ(readFile(file), expected);
        EXPECT_EQ(readFile(dir.filePath("old.txt")), "old");

        // Through a symbolic link: the file it names is replaced, the link stays.
        run = runCli(drawTo(command, input, dir.filePath("link.txt")));
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_TRUE(S_ISLNK(statOf(dir.filePath("link.txt")).st_mode));
        EXPECT_EQ(readFile(file), expected);

        // A FIFO is written as a stream, to its reader.
        const QString fifo = dir.filePath("fifo");
        ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        FifoReader reader(fifo);
        run = runCli(drawTo(command, input, fifo));
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_EQ(reader.finish(), expected);
        EXPECT_TRUE(S_ISFIFO(statOf(fifo).st_mode));

        // Nothing but these was made in the folder (no temporary file is left).
        EXPECT_EQ(others().join(' ').toStdString(), "fifo link.txt old.txt out.txt");
        for (const QString &name : others())
            QFile::remove(dir.filePath(name));
    }
}

TEST_F(DrawCommandsTest, TheInputFileIsNeverTheOutput)
{
    const QString symlink = dir.filePath("symlink.kdx");
    ASSERT_TRUE(QFile::link(input, symlink));
    const QString hardlink = dir.filePath("hardlink.kdx");
    ASSERT_EQ(
        ::link(QFile::encodeName(input).constData(), QFile::encodeName(hardlink).constData()), 0);
    for (const QString command : { "export", "plot" })
        for (const QString &out : { input, symlink, hardlink }) {
            const CliRun run = runCli(drawTo(command, input, out));
            EXPECT_EQ(run.exitCode, 2) << qPrintable(command + " " + out);
            EXPECT_TRUE(run.err.contains("it is the input file")) << qPrintable(run.err);
            EXPECT_EQ(run.err.count('\n'), 1) << qPrintable(run.err);
            EXPECT_EQ(readFile(input), inputBytes);
            EXPECT_TRUE(S_ISLNK(statOf(symlink).st_mode));
            EXPECT_EQ(others().join(' ').toStdString(), "hardlink.kdx symlink.kdx");
        }
}

TEST_F(DrawCommandsTest, AFullDeviceOrFolderIsReported)
{
    // A device without room: the system's, or as root one of its kind private to the test,
    // so that a faulty command cannot replace the system's.
    QString full = "/dev/full";
    if (::geteuid() == 0) {
        full = dir.filePath("full");
        ASSERT_EQ(::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)), 0)
            << std::strerror(errno);
    }
    const struct stat before = statOf(full);
    ASSERT_TRUE(S_ISCHR(before.st_mode));
    for (const QString command : { "export", "plot" }) {
        // -o on the device, and standard output on it.
        CliRun run = runCli(drawTo(command, input, full));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err.toStdString(),
            QString("ferrun-cli %1: cannot write %2: No space left on device\n")
                .arg(command, full)
                .toStdString());
        run = clitest::runCliWritingTo(full, drawTo(command, input, "-"));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err.toStdString(),
            QString("ferrun-cli %1: cannot write to standard output: No space left on device\n")
                .arg(command)
                .toStdString());
        // A folder that does not exist.
        run = runCli(drawTo(command, input, dir.filePath("no/such/folder/out")));
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.err.contains("cannot write")) << qPrintable(run.err);
    }
    // Nothing else was touched.
    const struct stat after = statOf(full);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(others().join(' ').toStdString(), ::geteuid() == 0 ? "full" : "");
    EXPECT_EQ(readFile(input), inputBytes);
}

TEST_F(DrawCommandsTest, ACharacterDeviceIsWrittenNeverReplaced)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "making a device takes root";
    // A device of the kind of /dev/null, private to the test.
    const QString device = dir.filePath("null");
    ASSERT_EQ(::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0666, makedev(1, 3)), 0)
        << std::strerror(errno);
    const struct stat before = statOf(device);
    for (const QString command : { "export", "plot" }) {
        const CliRun run = runCli(drawTo(command, input, device));
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
        const struct stat after = statOf(device);
        EXPECT_TRUE(S_ISCHR(after.st_mode));
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_rdev, before.st_rdev);
        EXPECT_EQ(others().join(' ').toStdString(), "null");
    }
}
