// What an output path may be, on real files, links, FIFOs, sockets and devices: what stands at
// the path, and in its folder, afterwards is the point of every case. The cases that concern
// temporary files run both ways a temporary file is made: unnamed (where the file system has
// such files) and named from the start (as on one without them).
#include "files/leftoversave.h"
#include "files/outputfile.h"
#include "tests/files/filestestsupport.h"
#include "tests/support/lockedfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/file.h>
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

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Runs the test body with unnamed temporary files, then with named ones.
class TemporaryKinds : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        if (GetParam())
            qputenv("FERRUN_NAMED_TEMPORARY_FILES", "1");
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { qunsetenv("FERRUN_NAMED_TEMPORARY_FILES"); }
    QTemporaryDir dir;
};

INSTANTIATE_TEST_SUITE_P(OutputFile, TemporaryKinds, ::testing::Values(false, true),
    [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Named" : "Unnamed"; });

} // namespace

// A new name and a regular file are written whole, the latter keeping its permission bits and
// (where the system allows) its owner and group; a link keeps pointing where it did, at the
// file written; nothing else is left in the folder, also after a save given up half-way.
TEST_P(TemporaryKinds, FilesAndLinksAreReplacedWhole)
{
    const QString file = dir.filePath("out.csv");
    ASSERT_TRUE(write(file, "first"));
    ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(file).constData(), 4321, 8765), 0);
    }
    ASSERT_TRUE(write(file, "second"));
    EXPECT_EQ(readBytes(file), QByteArray("second"));
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 8765u);
    }

    const QString link = dir.filePath("link.csv");
    ASSERT_TRUE(QFile::link(file, link));
    ASSERT_TRUE(write(link, "through the link"));
    EXPECT_EQ(typeOf(link), mode_t(S_IFLNK));
    EXPECT_EQ(readBytes(file), QByteArray("through the link"));
    const QString dangling = dir.filePath("dangling.csv");
    ASSERT_TRUE(QFile::link("made.csv", dangling)); // relative to the link's folder
    ASSERT_TRUE(write(dangling, "made"));
    EXPECT_EQ(typeOf(dangling), mode_t(S_IFLNK));
    EXPECT_EQ(readBytes(dir.filePath("made.csv")), QByteArray("made"));
    {
        OutputFile out;
        ASSERT_TRUE(out.open(file));
        ASSERT_TRUE(out.write(QByteArray("half")));
    }
    EXPECT_EQ(readBytes(file), QByteArray("through the link"));
    EXPECT_EQ(
        entries(dir.path()), QStringList({ "dangling.csv", "link.csv", "made.csv", "out.csv" }));

    // The path as the system takes it: "no/../x" needs a folder "no".
    QString error;
    EXPECT_FALSE(write(dir.filePath("no/../x.csv"), "x", {}, &error));
    EXPECT_TRUE(error.endsWith("No such file or directory")) << qPrintable(error);
    EXPECT_FALSE(QFile::exists(dir.filePath("x.csv")));
}

// Two saves of one target under way at once, each with a temporary file of its own: both end
// whole, the later rename winning; neither disturbs the other.
TEST_P(TemporaryKinds, TwoSavesOfOneTargetBothEndWhole)
{
    const QString target = dir.filePath("run.kdx");
    writeBytes(target, "old");
    OutputFile first;
    OutputFile second;
    ASSERT_TRUE(first.open(target));
    ASSERT_TRUE(second.open(target)); // clears leftovers: the first's file is not one
    const QByteArray a(300000, 'a');
    const QByteArray b(200000, 'b');
    ASSERT_TRUE(first.write(a));
    ASSERT_TRUE(second.write(b));
    ASSERT_TRUE(second.commit());
    EXPECT_EQ(readBytes(target), b);
    ASSERT_TRUE(first.commit()) << qPrintable(first.errorString());
    EXPECT_EQ(readBytes(target), a);
    EXPECT_EQ(entries(dir.path()), QStringList({ "run.kdx" }));
}

// Only the program's own leftovers are cleared, and only those no save holds: a user's file
// named like an old temporary file stays, as does one of the marked name that a save under way
// holds locked; a partial leftover is removed, a whole recording kept under a name of its own.
TEST_P(TemporaryKinds, OnlyItsOwnLeftoversAreCleared)
{
    const QString target = dir.filePath("run.kdx");
    const QByteArray encoded = QFile::encodeName(target);
    writeBytes(target + ".saving", "the user's notes");
    writeBytes(dir.filePath(".run.kdx.saving"), "more notes");
    const QString partial = QFile::decodeName(files::temporaryName(encoded));
    writeBytes(partial, "half a save");
    const QString whole = QFile::decodeName(files::temporaryName(encoded, true));
    const QString cut = QFile::decodeName(files::temporaryName(encoded));
    const QByteArray recording = files::encodeDataFile(filestest::recordingHeader(), "abcd", "x");
    writeBytes(whole, recording);
    writeBytes(cut, recording); // all its bytes, but its save never said so
    const QString held = QFile::decodeName(files::temporaryName(encoded));
    writeBytes(held, "a save under way");
    const int holder = ::open(QFile::encodeName(held).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    ASSERT_TRUE(write(target, "new"));
    EXPECT_EQ(readBytes(target), QByteArray("new"));
    EXPECT_EQ(readBytes(target + ".saving"), QByteArray("the user's notes"));
    EXPECT_EQ(readBytes(dir.filePath(".run.kdx.saving")), QByteArray("more notes"));
    EXPECT_FALSE(QFile::exists(partial));
    EXPECT_FALSE(QFile::exists(whole));
    EXPECT_FALSE(QFile::exists(cut));
    EXPECT_EQ(readBytes(dir.filePath("run.recovered.kdx")), recording);
    EXPECT_EQ(readBytes(held), QByteArray("a save under way"));
    ::close(holder);
    EXPECT_EQ(
        files::leftoverTargets(QFile::encodeName(dir.path())), QList<QByteArray>({ "run.kdx" }));

    // Once its save is gone, the next one clears it.
    const QList<files::LeftoverSave> cleared = files::clearLeftoverSaves(target);
    ASSERT_EQ(cleared.size(), 1);
    EXPECT_EQ(cleared.first().outcome, files::LeftoverSave::Outcome::Removed);
    EXPECT_EQ(entries(dir.path()),
        QStringList({ ".run.kdx.saving", "run.kdx", "run.kdx.saving", "run.recovered.kdx" }));
}

// A FIFO is written as a stream to its reader and stays a FIFO; without a reader its open, and
// with a reader that reads nothing its writes, end on the interrupting descriptor. A socket
// is connected and written. A character device is written and never replaced (a private null
// device where devices may be made); a full device says so.
TEST(OutputFile, DevicesFifosAndSocketsAreStreamed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath("pipe");
    const QByteArray fifoName = QFile::encodeName(fifo);
    ASSERT_EQ(::mkfifo(fifoName.constData(), 0600), 0);
    QByteArray read;
    std::thread reader([&] {
        const int fd = ::open(fifoName.constData(), O_RDONLY);
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

    // Interrupted before or while it waits, it is the same: the open fails with EINTR.
    files::OutputOptions interruptible;
    interruptible.interruptFd = ::eventfd(1, EFD_CLOEXEC);
    ASSERT_GE(interruptible.interruptFd, 0);
    {
        OutputFile waiting;
        EXPECT_FALSE(waiting.open(fifo, interruptible));
        EXPECT_EQ(waiting.errorNumber(), EINTR);
        EXPECT_TRUE(waiting.errorString().contains("interrupted while waiting for its reader"))
            << qPrintable(waiting.errorString());
    }
    const int idle = ::open(fifoName.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    {
        OutputFile stalled;
        ASSERT_TRUE(stalled.open(fifo, interruptible));
        EXPECT_FALSE(stalled.write(QByteArray(1 << 20, 's')));
        EXPECT_EQ(stalled.errorNumber(), EINTR);
    }
    ::close(idle);
    ::close(interruptible.interruptFd);
    EXPECT_EQ(typeOf(fifo), mode_t(S_IFIFO));

    const QString socketPath = dir.filePath("sock");
    const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(
        address.sun_path, QFile::encodeName(socketPath).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(sock, 1), 0);
    EXPECT_TRUE(write(socketPath, "to the socket"));
    const int peer = ::accept(sock, nullptr, nullptr);
    char received[64] = {};
    EXPECT_EQ(::read(peer, received, sizeof received), 13);
    EXPECT_STREQ(received, "to the socket");
    ::close(peer);
    ::close(sock);
    EXPECT_EQ(typeOf(socketPath), mode_t(S_IFSOCK));

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
// link too), a folder. A file whose folder takes no new file is refused with the cause, never
// truncated and rewritten in place.
TEST_P(TemporaryKinds, RefusedPathsAreNeverWritten)
{
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
    EXPECT_TRUE(write(dir.filePath("-"), "a file named -"));
    EXPECT_EQ(readBytes(dir.filePath("-")), QByteArray("a file named -"));

    // A folder that takes no new file: read-only for a user, immutable for root (who writes
    // into any folder otherwise).
    const QString locked = dir.filePath("locked");
    ASSERT_TRUE(QDir(dir.path()).mkdir("locked"));
    writeBytes(locked + "/out.csv", "old");
    const testsupport::LockedFolder lock(locked);
    if (!lock.locked())
        GTEST_SKIP() << "no folder here can be made to refuse new files";
    OutputFile out;
    EXPECT_FALSE(out.open(locked + "/out.csv"));
    EXPECT_TRUE(out.errorString().contains("never rewritten in place"))
        << qPrintable(out.errorString());
    EXPECT_NE(out.errorNumber(), 0);
    QString probeError;
    EXPECT_FALSE(OutputFile::probe(locked + "/out.csv", {}, &probeError));
    EXPECT_EQ(probeError, out.errorString());
    EXPECT_EQ(readBytes(locked + "/out.csv"), QByteArray("old"));
    EXPECT_EQ(entries(locked), QStringList({ "out.csv" }));
}

// The temporary file's name: hidden, of the target's name, recognised as a save's; shortened by
// whole characters where the target's name fills a folder entry.
TEST(OutputFile, TemporaryNamesAreTheProgramsOwn)
{
    const QByteArray name = files::temporaryName("folder/run.kdx");
    EXPECT_TRUE(name.startsWith("folder/.run.kdx.")) << name.constData();
    bool whole = true;
    EXPECT_EQ(files::temporaryTarget(name.mid(7), &whole), QByteArray("run.kdx"));
    EXPECT_FALSE(whole);
    EXPECT_EQ(files::temporaryTarget(files::temporaryName("run.kdx", true), &whole), "run.kdx");
    EXPECT_TRUE(whole);
    EXPECT_NE(files::temporaryName("run.kdx"), files::temporaryName("run.kdx"));
    for (const char *other : { "run.kdx.saving", ".run.kdx.saving",
             ".run.kdx.ABCDEFG.ferrun-saving", ".run.kdx.ABCD-FGH.ferrun-saving" })
        EXPECT_TRUE(files::temporaryTarget(other).isEmpty()) << other;
    const QByteArray longName = QString(125, QChar(0x0416)).toUtf8() + ".kdx"; // 254 bytes
    const QByteArray shortened = files::temporaryName(longName);
    EXPECT_EQ(shortened.size(), 255 - 1); // a two-byte letter does not fit in the last byte
    EXPECT_TRUE(QString::fromUtf8(shortened).toUtf8() == shortened);
    EXPECT_EQ(files::temporaryTarget(shortened), files::temporaryTargetName(longName));
}
