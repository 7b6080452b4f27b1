#include "files/storeio.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files::storeio {

QString cyclesText(qint64 count)
{
    return count == 1 ? QStringLiteral("1 cycle") : QStringLiteral("%1 cycles").arg(count);
}

QString journalDetail(qint64 cycles, qint64 bytes)
{
    return QStringLiteral("%1, %2 bytes").arg(cyclesText(cycles)).arg(bytes);
}

QString noteAndComment(
    RecoveryKind kind, RecoveryKeeper keeper, const QString &detail, const QString &comment)
{
    const QString note = recoveryNoteLine(kind, keeper, detail);
    return comment.isEmpty() ? note : note + QStringLiteral("\r\n") + comment;
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool makeFolder(const QString &folder, int *error)
{
    const QByteArray path = QFile::encodeName(folder);
    struct stat st;
    if (::stat(path.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        *error = ENOTDIR;
        return false;
    }
    // Each parent in turn: one that exists answers EEXIST, and one that is not a folder makes
    // the next step fail with ENOTDIR.
    for (qsizetype slash = path.indexOf('/', 1); slash > 0; slash = path.indexOf('/', slash + 1)) {
        if (::mkdir(path.left(slash).constData(), 0777) != 0 && errno != EEXIST) {
            *error = errno;
            return false;
        }
    }
    if (::mkdir(path.constData(), 0777) != 0 && errno != EEXIST) {
        *error = errno;
        return false;
    }
    if (::stat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        *error = ENOTDIR;
        return false;
    }
    return true;
}

bool writeAt(int fd, qint64 offset, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(left), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        data += n;
        left -= n;
        offset += n;
    }
    return true;
}

bool readAt(int fd, qint64 offset, char *buffer, qint64 count)
{
    while (count > 0) {
        const ssize_t n = ::pread(fd, buffer, size_t(count), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO; // the file is shorter than its header says
            return false;
        }
        buffer += n;
        count -= n;
        offset += n;
    }
    return true;
}

bool syncData(int fd)
{
    int result;
    do
        result = ::fdatasync(fd);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

void syncFolder(const QString &folder)
{
    const int fd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool tryLockExclusive(int fd)
{
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

bool lockedByAnother(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
        O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    const bool locked = !tryLockExclusive(fd) && errno == EWOULDBLOCK;
    ::close(fd);
    return locked;
}

bool isInFolder(const QString &path, const QString &folder)
{
    if (path.isEmpty() || folder.isEmpty())
        return false;
    const QString resolved = QFileInfo(path).absoluteDir().canonicalPath();
    return !resolved.isEmpty() && resolved == QDir(folder).canonicalPath();
}

void setModificationTime(int fd, const QDateTime &time)
{
    if (!time.isValid())
        return;
    const qint64 ms = time.toMSecsSinceEpoch();
    const struct timespec times[2]
        = { { 0, UTIME_OMIT }, { time_t(ms / 1000), long(ms % 1000) * 1000000 } };
    ::futimens(fd, times);
}

} // namespace files::storeio
