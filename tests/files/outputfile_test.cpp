// What an output path may be, on real files, links, FIFOs and devices: what stands at the path
// afterwards is the point of every case.
#include "files/outputfile.h"
#include "tests/files/filestestsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using files::OutputFile;
using filestest::readBytes;
using filestest::writeBytes;

namespace {

bool write(const QString &path, const QByteArray &bytes, const files::OutputOptions &options = {},
    QString *error = nullptr)
{
    OutputFile out;
    const bool ok = out.open(path, options) && out.write(bytes) && out.commit();
    if (error)
        *error = out.errorString();
    return ok;
}

mode_t typeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

} // namespace

// A new name and a regular file are written whole, the latter keeping its permission bits; a
// link keeps pointing where it did, at the file written; nothing else is left in the folder.
TEST(OutputFile, FilesAndLinksAreReplacedWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath("out.csv");
    ASSERT_TRUE(write(file, "first"));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    ASSERT_TRUE(write(file, "second"));
    EXPECT_EQ(readBytes(file), QByteArray("second"));
    EXPECT_EQ(QFileInfo(file).permissions() & QFileDevice::ReadOther, 0);

    const QString link = dir.filePath("link.csv");
    ASSERT_TRUE(QFile::link(file, link));
    ASSERT_TRUE(write(link, "through the link"));
    EXPECT_EQ(typeOf(link), mode_t(S_IFLNK));
    EXPECT_EQ(readBytes(file), QByteArray("through the link"));
    const QString dangling = dir.filePath("dangling.csv");
    ASSERT_TRUE(QFile::link(dir.filePath("made.csv"), dangling));
    ASSERT_TRUE(write(dangling, "made"));
    EXPECT_EQ(typeOf(dangling), mode_t(S_IFLNK));
    EXPECT_EQ(readBytes(dir.filePath("made.csv")), QByteArray("made"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 4);

    // Given up before the end: the file is as it was.
    {
        OutputFile out;
        ASSERT_TRUE(out.open(file));
        ASSERT_TRUE(out.write(QByteArray("half")));
    }
    EXPECT_EQ(readBytes(file), QByteArray("through the link"));
    EXPECT_FALSE(QFile::exists(files::temporarySaveName(file)));
}

// A FIFO is written as a stream to its reader and stays a FIFO; a character device is written
// and never replaced (a private null device where devices may be made); a full device says so.
TEST(OutputFile, DevicesAndFifosAreWrittenNeverReplaced)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QByteArray read;
    std::thread reader([&] {
        const int fd = ::open(QFile::encodeName(fifo).constData(), O_RDONLY);
        char buffer[4096];
        for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;)
            read.append(buffer, n);
        if (fd >= 0)
            ::close(fd);
    });
    const QByteArray payload(100000, 'p');
    OutputFile out;
    ASSERT_TRUE(out.open(fifo));
    EXPECT_EQ(out.kind(), OutputFile::Kind::Stream);
    EXPECT_TRUE(out.write(payload));
    EXPECT_TRUE(out.commit());
    reader.join();
    EXPECT_EQ(read, payload);
    EXPECT_EQ(typeOf(fifo), mode_t(S_IFIFO));

    QString error;
    EXPECT_FALSE(write(QStringLiteral("/dev/full"), "x", {}, &error));
    EXPECT_TRUE(error.contains("No space left on device")) << qPrintable(error);
    EXPECT_EQ(typeOf(QStringLiteral("/dev/full")), mode_t(S_IFCHR));

    const QString null = dir.filePath("null");
    if (::mknod(QFile::encodeName(null).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "no device can be made here";
    EXPECT_TRUE(write(null, "gone"));
    EXPECT_EQ(typeOf(null), mode_t(S_IFCHR));
}

// Refused before anything is written: the input file itself (by a hard link and a symbolic
// link too), a folder, a socket. A writable file whose folder takes no new file is written in
// place after a note.
TEST(OutputFile, RefusedPathsAndInPlace)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString input = dir.filePath("in.kdx");
    writeBytes(input, "recording");
    const QString hard = dir.filePath("hard.kdx");
    const QString soft = dir.filePath("soft.kdx");
    ASSERT_EQ(::link(QFile::encodeName(input).constData(), QFile::encodeName(hard).constData()), 0);
    ASSERT_TRUE(QFile::link(input, soft));
    for (const QString &path : { input, hard, soft }) {
        QString error;
        EXPECT_FALSE(write(path, "csv", { input, false }, &error)) << qPrintable(path);
        EXPECT_TRUE(error.contains("it is the input file")) << qPrintable(error);
    }
    EXPECT_EQ(readBytes(input), QByteArray("recording"));

    QString error;
    EXPECT_FALSE(write(dir.path(), "x", {}, &error));
    EXPECT_TRUE(error.contains("Is a directory")) << qPrintable(error);
    const QString socketPath = dir.filePath("sock");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(
        address.sun_path, QFile::encodeName(socketPath).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    EXPECT_FALSE(write(socketPath, "x"));
    EXPECT_EQ(typeOf(socketPath), mode_t(S_IFSOCK));
    ::close(sock);
    EXPECT_TRUE(write(dir.filePath("-"), "a file named -"));
    EXPECT_EQ(readBytes(dir.filePath("-")), QByteArray("a file named -"));

    // A folder that takes no new file: read-only for a user, immutable for root (who writes
    // into any folder otherwise).
    const QString locked = dir.filePath("locked");
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    writeBytes(locked + "/out.csv", "old");
    const int folder = ::open(QFile::encodeName(locked).constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    const bool root = ::geteuid() == 0;
    const bool lockedUp = root ? ::ioctl(folder, FS_IOC_GETFLAGS, &flags) == 0
            && ::ioctl(folder, FS_IOC_SETFLAGS, &(flags |= FS_IMMUTABLE_FL)) == 0
                               : ::chmod(QFile::encodeName(locked).constData(), 0555) == 0;
    if (lockedUp) {
        OutputFile out;
        ASSERT_TRUE(out.open(locked + "/out.csv"));
        EXPECT_EQ(out.kind(), OutputFile::Kind::InPlace);
        EXPECT_TRUE(out.note().contains("in place")) << qPrintable(out.note());
        EXPECT_TRUE(out.write(QByteArray("new")));
        EXPECT_TRUE(out.commit());
        EXPECT_EQ(readBytes(locked + "/out.csv"), QByteArray("new"));
        EXPECT_EQ(QDir(locked).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
    if (root) {
        flags &= ~FS_IMMUTABLE_FL;
        ::ioctl(folder, FS_IOC_SETFLAGS, &flags);
    } else {
        ::chmod(QFile::encodeName(locked).constData(), 0755);
    }
    ::close(folder);
    if (!lockedUp)
        GTEST_SKIP() << "no folder here can be made to refuse new files";
}
