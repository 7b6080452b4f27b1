#include "files/outputfile.h"

#include "files/leftoversave.h"

#include <QFile>
#include <QRandomGenerator>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace files {

namespace {

constexpr qsizetype MaxEntryBytes = 255;
// "." before the name, "." and eight random characters after it, then the marker: of a file
// being written, or of one that holds every byte.
const char SavingMarker[] = ".ferrun-saving";
const char WholeMarker[] = ".ferrun-saved";
constexpr qsizetype RandomChars = 8;
constexpr qsizetype TemporaryOverhead = 1 + 1 + RandomChars + qsizetype(sizeof SavingMarker) - 1;

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The folder part of a path with its slash ("a/b" gives "a/", "b" gives ""), and the name
// after it: plain string work, so that the path means what it means to the system.
QByteArray folderOf(const QByteArray &path)
{
    return path.left(path.lastIndexOf('/') + 1);
}

QByteArray nameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// The folder to open for a file in it: "." for a path without a folder.
QByteArray openableFolder(const QByteArray &path)
{
    const QByteArray folder = folderOf(path);
    return folder.isEmpty() ? QByteArrayLiteral(".") : folder;
}

// The file a path names once its symbolic links are followed, as the system follows them (a
// relative link from the link's folder); the path itself when it is no link. A link whose
// target does not exist yet names that target (it is created there).
QByteArray followLinks(const QByteArray &path)
{
    QByteArray current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(current.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(current.constData(), buffer, sizeof buffer);
        if (n <= 0 || size_t(n) >= sizeof buffer)
            return current;
        const QByteArray next(buffer, n);
        current = next.startsWith('/') ? next : folderOf(current) + next;
    }
    return current; // a loop: the open reports it
}

// The system takes /proc/self/fd/N as the file of descriptor N: an unnamed file is named
// through it.
bool procAvailable()
{
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// Unnamed temporary files where the file system has them. FERRUN_NAMED_TEMPORARY_FILES=1
// gives each its name from the start instead, as on a file system without them (USB sticks
// of FAT, some network file systems): the way the tests reach that path here.
bool unnamedTemporaries()
{
    return procAvailable() && qgetenv("FERRUN_NAMED_TEMPORARY_FILES") != "1";
}

QByteArray procPath(int fd)
{
    return QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(fd);
}

// Renames `from` to `to` when nothing is called `to` yet (EEXIST otherwise). A file system that
// cannot make the rename refuse to replace (some network file systems) is asked whether the
// name is free first: a random name of 62^8 is not taken in between.
bool renameNoReplace(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    struct stat st;
    if (::lstat(to.constData(), &st) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.constData(), to.constData()) == 0;
}

// ---- Names removed when a signal ends the program

constexpr int NameSlots = 32;
struct NameSlot
{
    std::atomic<bool> taken { false };
    std::atomic<bool> armed { false };
    char path[PATH_MAX] {};
};
NameSlot nameSlots[NameSlots];

int armName(const QByteArray &name)
{
    if (name.size() >= PATH_MAX)
        return -1;
    for (int i = 0; i < NameSlots; ++i) {
        bool expected = false;
        if (!nameSlots[i].taken.compare_exchange_strong(expected, true))
            continue;
        std::memcpy(nameSlots[i].path, name.constData(), size_t(name.size()) + 1);
        nameSlots[i].armed.store(true, std::memory_order_release);
        return i;
    }
    return -1;
}

void disarmName(int slot)
{
    if (slot < 0)
        return;
    nameSlots[slot].armed.store(false, std::memory_order_release);
    nameSlots[slot].taken.store(false, std::memory_order_release);
}

constexpr int CleanedSignals[] = { SIGINT, SIGTERM, SIGHUP, SIGPIPE };

extern "C" void removeNamesAndEnd(int signalNumber)
{
    for (NameSlot &slot : nameSlots)
        if (slot.armed.load(std::memory_order_acquire))
            ::unlink(slot.path);
    // The action is the default again (SA_RESETHAND): the signal, raised again, ends the
    // program as it would have without this handler.
    ::raise(signalNumber);
}

// ---- Streams

// Waits until `fd` takes more bytes or `interruptFd` (if any) becomes readable. False (EINTR)
// when interrupted; an error on `fd` is left to the write that follows.
bool waitWritable(int fd, int interruptFd)
{
    pollfd fds[2] = { { fd, POLLOUT, 0 }, { interruptFd, POLLIN, 0 } };
    for (;;) {
        const int n = ::poll(fds, interruptFd >= 0 ? 2 : 1, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return true;
        if (fds[0].revents != 0)
            return true;
        errno = EINTR;
        return false;
    }
}

// Writes all bytes to `fd`. A descriptor that takes no more for now (EAGAIN) is waited for,
// up to `interruptFd`; `chunked` writes standard output (blocking, shared with other
// programs) only as much at a time as a pipe takes whole once it is writable.
bool writeAll(int fd, const char *data, qint64 size, int interruptFd, bool chunked)
{
    while (size > 0) {
        if (chunked && !waitWritable(fd, interruptFd))
            return false;
        const size_t want = chunked ? size_t(std::min<qint64>(size, PIPE_BUF)) : size_t(size);
        const ssize_t n = ::write(fd, data, want);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && waitWritable(fd, interruptFd))
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Opens the FIFO for writing. With a reader there, at once; otherwise the open waits for one,
// as a shell's redirection does, and with `interruptFd` only until that becomes readable.
// Such a wait is a blocking open in a thread of its own while this one polls both ends; an
// interrupted wait is released by opening the FIFO's reading end here, which completes the
// waiting open. Both go through a descriptor of the FIFO itself, so that the release reaches
// the same FIFO whatever becomes of its name. Returns the descriptor, or -1 with `*error`.
int openFifo(const QByteArray &target, int interruptFd, int *error)
{
    int fd = ::open(target.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0 || errno != ENXIO) {
        *error = errno;
        return fd;
    }
    const int fifo
        = interruptFd >= 0 && procAvailable() ? ::open(target.constData(), O_PATH | O_CLOEXEC) : -1;
    struct Wait
    {
        QByteArray path;
        int done = -1;
        std::atomic<int> fd { -1 };
        int error = 0;
    };
    const auto wait = std::make_shared<Wait>();
    wait->done = fifo >= 0 ? ::eventfd(0, EFD_CLOEXEC) : -1;
    if (wait->done < 0) {
        if (fifo >= 0)
            ::close(fifo);
        do
            fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        while (fd < 0 && errno == EINTR);
        *error = errno;
        return fd;
    }
    wait->path = procPath(fifo);
    std::thread waiter([wait] {
        int opened;
        do
            opened = ::open(wait->path.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        while (opened < 0 && errno == EINTR);
        wait->error = errno;
        wait->fd.store(opened);
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wait->done, &one, sizeof one);
    });
    pollfd fds[2] = { { wait->done, POLLIN, 0 }, { interruptFd, POLLIN, 0 } };
    while (::poll(fds, 2, -1) < 0 && errno == EINTR) { }
    if (!(fds[0].revents & POLLIN)) {
        const int reader = ::open(wait->path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (reader < 0) {
            // Cannot be released: the thread keeps waiting (and the FIFO's descriptor open)
            // until the program ends.
            waiter.detach();
            *error = EINTR;
            return -1;
        }
        waiter.join();
        ::close(reader);
        if (wait->fd >= 0)
            ::close(wait->fd);
        ::close(wait->done);
        ::close(fifo);
        *error = EINTR;
        return -1;
    }
    waiter.join();
    ::close(wait->done);
    ::close(fifo);
    fd = wait->fd;
    *error = wait->error;
    if (fd >= 0)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// Connects to the socket at `target` (a stream socket of the local domain).
int connectSocket(const QByteArray &target, int *error)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (size_t(target.size()) >= sizeof address.sun_path) {
        *error = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, target.constData(), size_t(target.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    int result;
    do
        result = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        *error = errno;
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

} // namespace

QByteArray temporaryTargetName(const QByteArray &name)
{
    QByteArray shortened = name;
    // Shortened a whole UTF-8 character at a time (its continuation bytes, then its first).
    while (!shortened.isEmpty() && shortened.size() + TemporaryOverhead > MaxEntryBytes) {
        while (shortened.size() > 1 && (uchar(shortened.back()) & 0xC0) == 0x80)
            shortened.chop(1);
        shortened.chop(1);
    }
    return shortened;
}

QByteArray temporaryName(const QByteArray &target, bool whole)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray random;
    for (qsizetype i = 0; i < RandomChars; ++i)
        random += alphabet[QRandomGenerator::system()->bounded(62)];
    return folderOf(target) + '.' + temporaryTargetName(nameOf(target)) + '.' + random
        + (whole ? WholeMarker : SavingMarker);
}

QByteArray temporaryTarget(const QByteArray &entryName, bool *whole)
{
    const bool saved = entryName.endsWith(WholeMarker);
    if (!saved && !entryName.endsWith(SavingMarker))
        return {};
    const qsizetype marker = qsizetype(saved ? sizeof WholeMarker : sizeof SavingMarker) - 1;
    const qsizetype nameSize = entryName.size() - 2 - RandomChars - marker;
    if (nameSize < 1 || !entryName.startsWith('.') || entryName.at(1 + nameSize) != '.')
        return {};
    for (qsizetype i = 2 + nameSize; i < 2 + nameSize + RandomChars; ++i)
        if (!std::isalnum(uchar(entryName.at(i))))
            return {};
    if (whole)
        *whole = saved;
    return entryName.mid(1, nameSize);
}

OutputFile::~OutputFile()
{
    if (!m_done)
        cancel();
}

void OutputFile::removeTemporaryFilesOnSignals()
{
    for (const int number : CleanedSignals) {
        struct sigaction current = {};
        if (::sigaction(number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL
            || (current.sa_flags & SA_SIGINFO))
            continue;
        struct sigaction action = {};
        action.sa_handler = removeNamesAndEnd;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_RESTART;
        ::sigaction(number, &action, nullptr);
    }
}

bool OutputFile::fail(const QString &what, int error)
{
    m_failed = true;
    m_errno = error;
    m_error = error ? QStringLiteral("%1: %2").arg(what, systemText(error)) : what;
    return false;
}

bool OutputFile::failWrite(int error)
{
    const QString cannot = QStringLiteral("cannot write %1").arg(m_path);
    if (error != EINTR)
        return fail(cannot, error);
    fail(QStringLiteral("%1: interrupted while it took no more").arg(cannot), 0);
    m_errno = EINTR;
    return false;
}

void OutputFile::closeFd()
{
    if (m_fd >= 0 && m_kind != Kind::StandardOutput)
        ::close(m_fd);
    m_fd = -1;
}

void OutputFile::forgetTemporary()
{
    disarmName(m_slot);
    m_slot = -1;
    m_temporary.clear();
    m_unnamed = false;
}

bool OutputFile::probe(
    const QString &path, const Options &options, QString *error, int *errorNumber)
{
    OutputFile out;
    const bool ok = out.open(path, options, true);
    out.cancel();
    if (!ok && error)
        *error = out.errorString();
    if (errorNumber)
        *errorNumber = ok ? 0 : out.errorNumber();
    return ok;
}

bool OutputFile::open(const QString &path, const Options &options)
{
    return open(path, options, false);
}

bool OutputFile::open(const QString &path, const Options &options, bool probeOnly)
{
    m_path = path;
    m_interruptFd = options.interruptFd;
    const QString cannot = QStringLiteral("cannot write %1").arg(path);
    if (path.isEmpty())
        return fail(cannot, ENOENT);
    if (options.allowStandardOutput && path == QLatin1String("-")) {
        m_kind = Kind::StandardOutput;
        m_target = path;
        m_fd = STDOUT_FILENO;
        return true;
    }
    const QByteArray target = followLinks(QFile::encodeName(path));
    m_target = QFile::decodeName(target);
    m_targetBytes = target;

    struct stat st;
    const bool exists = ::stat(target.constData(), &st) == 0;
    if (!exists && errno != ENOENT)
        return fail(cannot, errno);
    for (const QString &input : QStringList { options.input } + options.moreInputs) {
        struct stat in;
        if (exists && !input.isEmpty() && ::stat(QFile::encodeName(input).constData(), &in) == 0
            && in.st_dev == st.st_dev && in.st_ino == st.st_ino)
            return fail(
                QStringLiteral("cannot write %1: it is the input file %2").arg(path, input), 0);
    }
    if (exists && S_ISDIR(st.st_mode))
        return fail(cannot, EISDIR);
    if (exists && S_ISBLK(st.st_mode))
        return fail(
            QStringLiteral("cannot write %1: a block device is never written").arg(path), 0);
    if (exists && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))) {
        m_kind = Kind::Stream;
        if (options.regularFileOnly)
            return fail(QStringLiteral("cannot write %1: not a regular file").arg(path), 0);
        return openStream(target, st.st_mode & S_IFMT, probeOnly);
    }
    // A file its owner may not write is not replaced behind the owner's back.
    if (exists && ::access(target.constData(), W_OK) != 0)
        return fail(cannot, errno);
    // A name ending in a slash names a folder, which a file cannot be.
    if (nameOf(target).isEmpty())
        return fail(cannot, exists ? EISDIR : ENOENT);

    m_kind = Kind::Replace;
    // Temporary files that killed saves of this target left are cleared away (a whole
    // recording among them kept under a name of its own); a probe touches none.
    if (!probeOnly)
        clearLeftoverSaves(target);
    if (createTemporary(target, exists ? &st : nullptr))
        return true;
    const int error = errno;
    // The folder takes no new file, but the file is there: it is not rewritten in place,
    // where a failure would leave it cut.
    if (exists && (error == EACCES || error == EPERM || error == EROFS)) {
        fail(cannot, error);
        m_error = QStringLiteral("%1: no temporary file can be made beside it (%2), and it is "
                                 "never rewritten in place")
                      .arg(cannot, systemText(error));
        return false;
    }
    return fail(cannot, error);
}

bool OutputFile::openStream(const QByteArray &target, mode_t type, bool probeOnly)
{
    const QString cannot = QStringLiteral("cannot write %1").arg(m_path);
    if (probeOnly)
        return ::access(target.constData(), W_OK) == 0 || fail(cannot, errno);
    int error = 0;
    if (type == S_IFIFO) {
        m_fd = openFifo(target, m_interruptFd, &error);
    } else if (type == S_IFSOCK) {
        m_fd = connectSocket(target, &error);
    } else {
        // A terminal line without its carrier would hold a blocking open.
        m_fd = ::open(target.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        error = errno;
    }
    if (m_fd >= 0)
        return true;
    if (error != EINTR)
        return fail(cannot, error);
    fail(QStringLiteral("%1: interrupted while waiting for its reader").arg(cannot), 0);
    m_errno = EINTR;
    return false;
}

bool OutputFile::createTemporary(const QByteArray &target, const struct stat *existing)
{
    const QByteArray folder = openableFolder(target);
    int fd = -1;
    if (unnamedTemporaries()) {
        fd = ::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        // A file system without unnamed files (or a kernel without them, which takes the flag
        // for O_DIRECTORY): the temporary file gets its name at once.
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return false;
        m_unnamed = fd >= 0;
    }
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        const QByteArray name = temporaryName(target);
        fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0)
            return false;
        // Locked before anything is written, and still the file of that name: a program that
        // clears leftovers took it in between otherwise, and the next name is tried.
        struct stat named;
        struct stat opened;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::lstat(name.constData(), &named) != 0
            || ::fstat(fd, &opened) != 0 || named.st_ino != opened.st_ino
            || named.st_dev != opened.st_dev) {
            ::close(fd);
            fd = -1;
            continue;
        }
        m_temporary = name;
        m_slot = armName(name);
    }
    if (fd < 0) {
        errno = EEXIST;
        return false;
    }
    // The lock tells a program clearing leftovers that this save is under way, also once the
    // unnamed file has its name.
    if (m_unnamed)
        ::flock(fd, LOCK_EX | LOCK_NB);
    if (existing) {
        // Owner and group first: a change of owner clears the set-user-ID bits.
        if (::fchown(fd, existing->st_uid, existing->st_gid) != 0
            && ::fchown(fd, uid_t(-1), existing->st_gid) != 0) {
            // Kept where the system allows: a user may give a file only a group of their own.
        }
        ::fchmod(fd, existing->st_mode & 07777);
    }
    m_fd = fd;
    return true;
}

bool OutputFile::write(const char *data, qint64 size)
{
    if (m_failed || m_fd < 0)
        return false;
    const bool chunked = m_kind == Kind::StandardOutput && m_interruptFd >= 0;
    if (!writeAll(m_fd, data, size, m_interruptFd, chunked))
        return failWrite(errno);
    return true;
}

bool OutputFile::commit()
{
    if (m_done)
        return !m_failed;
    if (m_failed || m_fd < 0) {
        cancel();
        return false;
    }
    m_done = true;
    const QString cannot = QStringLiteral("cannot write %1").arg(m_path);
    if (m_kind != Kind::Replace) {
        closeFd();
        return true;
    }
    const QByteArray &target = m_targetBytes;
    int error = 0;
    // Every byte is in: the file gets (or changes to) the name that says so, so that a
    // program killed from here on leaves a file that is known to be whole (a recording among
    // such files is kept by the next save: see clearLeftoverSaves). A named file is renamed
    // without replacing anything, its new name armed for signals before the old one is let go.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray name = temporaryName(target, true);
        const int slot = armName(name);
        const bool named = m_unnamed ? ::linkat(AT_FDCWD, procPath(m_fd).constData(), AT_FDCWD,
                                           name.constData(), AT_SYMLINK_FOLLOW)
                == 0
                                     : renameNoReplace(m_temporary, name);
        if (named) {
            disarmName(m_slot);
            m_slot = slot;
            m_unnamed = false;
            m_temporary = name;
            error = 0;
            break;
        }
        error = errno;
        disarmName(slot);
        if (error != EEXIST)
            break;
    }
    if (error == 0 && ::fsync(m_fd) != 0)
        error = errno;
    // Renamed while the lock is held: no other program takes the file for a leftover.
    if (error == 0 && ::rename(m_temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        if (!m_temporary.isEmpty())
            ::unlink(m_temporary.constData());
        forgetTemporary();
        closeFd();
        return fail(cannot, error);
    }
    forgetTemporary();
    const bool closed = ::close(m_fd) == 0;
    const int closeError = errno;
    m_fd = -1;
    // Make the rename itself durable; a failure here loses nothing already written.
    const int dirFd
        = ::open(openableFolder(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return closed || closeError == EINTR || fail(cannot, closeError);
}

void OutputFile::cancel()
{
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    forgetTemporary();
    closeFd();
    m_done = true;
}

} // namespace files
