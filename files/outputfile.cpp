#include "files/outputfile.h"

#include "files/datafile.h"
#include "files/leftoversave.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The file a path names once its symbolic links are followed; the path itself when it is no
// link. A link whose target does not exist yet names that target (it is created there).
QString followLinks(const QString &path)
{
    QString current = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            return current;
        QString next = info.symLinkTarget();
        if (next.isEmpty()) {
            // A dangling link: its raw target, relative to the link's folder.
            char buffer[PATH_MAX];
            const ssize_t n
                = ::readlink(QFile::encodeName(current).constData(), buffer, sizeof buffer - 1);
            if (n <= 0)
                return current;
            next = QFile::decodeName(QByteArray(buffer, n));
            if (QFileInfo(next).isRelative())
                next = QFileInfo(current).absoluteDir().filePath(next);
        }
        current = next;
    }
    return current; // a loop: open() reports it
}

bool writeAll(int fd, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

OutputFile::~OutputFile()
{
    if (!m_done)
        cancel();
}

bool OutputFile::fail(const QString &what, int error)
{
    m_failed = true;
    m_errno = error;
    m_error = error ? QStringLiteral("%1: %2").arg(what, systemText(error)) : what;
    return false;
}

void OutputFile::closeFd()
{
    if (m_fd >= 0 && m_kind != Kind::StandardOutput)
        ::close(m_fd);
    m_fd = -1;
}

bool OutputFile::probe(const QString &path, const Options &options, QString *error)
{
    OutputFile out;
    const bool ok = out.open(path, options, true);
    out.cancel();
    if (!ok && error)
        *error = out.errorString();
    return ok;
}

bool OutputFile::open(const QString &path, const Options &options)
{
    return open(path, options, false);
}

bool OutputFile::open(const QString &path, const Options &options, bool probeOnly)
{
    m_path = path;
    const QString cannot = QStringLiteral("cannot write %1").arg(path);
    if (path.isEmpty())
        return fail(cannot, ENOENT);
    if (options.allowStandardOutput && path == QLatin1String("-")) {
        m_kind = Kind::StandardOutput;
        m_target = path;
        m_fd = STDOUT_FILENO;
        return true;
    }
    m_target = followLinks(path);
    const QByteArray target = QFile::encodeName(m_target);

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
        if (S_ISSOCK(st.st_mode))
            return fail(cannot, ENXIO); // a socket takes a connection, not an open
        if (probeOnly)
            return ::access(target.constData(), W_OK) == 0 || fail(cannot, errno);
        m_fd = ::open(target.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (m_fd < 0)
            return fail(cannot, errno);
        return true;
    }
    // A file its owner may not write is not replaced behind the owner's back.
    if (exists && ::access(target.constData(), W_OK) != 0)
        return fail(cannot, errno);

    m_kind = Kind::Replace;
    if (probeOnly) {
        // A file of a unique name tells whether the folder takes a new file; the leftover of
        // an interrupted save is not touched by a probe.
        QByteArray name
            = QFile::encodeName(QFileInfo(m_target).absolutePath()) + "/.ferrun-probe-XXXXXX";
        const int fd = ::mkstemp(name.data());
        if (fd >= 0) {
            ::close(fd);
            ::unlink(name.constData());
            return true;
        }
        const int probeError = errno;
        if (exists && (probeError == EACCES || probeError == EPERM || probeError == EROFS)) {
            m_kind = Kind::InPlace;
            m_note = QStringLiteral("writing %1 in place: its folder takes no temporary file (%2)")
                         .arg(path, systemText(probeError));
            return true;
        }
        return fail(cannot, probeError);
    }
    // A temporary file left by an interrupted save is cleared away (kept under a name of its
    // own when it holds a whole recording); anything else in the way (a folder, say) makes
    // the output fail before the target is touched.
    clearLeftoverSave(m_target);
    m_temporary = temporarySaveName(m_target);
    const QByteArray temporary = QFile::encodeName(m_temporary);
    m_fd
        = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (m_fd >= 0) {
        if (exists)
            ::fchmod(m_fd, st.st_mode & 07777);
        return true;
    }
    const int temporaryError = errno;
    m_temporary.clear();
    // The folder takes no new file, but the file is there and may be written: in place.
    if (exists
        && (temporaryError == EACCES || temporaryError == EPERM || temporaryError == EROFS)) {
        m_kind = Kind::InPlace;
        m_note = QStringLiteral("writing %1 in place: its folder takes no temporary file (%2)")
                     .arg(path, systemText(temporaryError));
        m_fd = ::open(target.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
        if (m_fd < 0)
            return fail(cannot, errno);
        return true;
    }
    return fail(cannot, temporaryError);
}

bool OutputFile::write(const char *data, qint64 size)
{
    if (m_failed || m_fd < 0)
        return false;
    if (!writeAll(m_fd, data, size))
        return fail(QStringLiteral("cannot write %1").arg(m_path), errno);
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
    switch (m_kind) {
    case Kind::StandardOutput:
    case Kind::Stream:
        closeFd();
        return true;
    case Kind::InPlace: {
        const bool synced = ::fsync(m_fd) == 0 || errno == EINVAL;
        const int syncError = errno;
        const bool closed = ::close(m_fd) == 0;
        const int closeError = errno;
        m_fd = -1;
        if (!synced)
            return fail(cannot, syncError);
        return closed || fail(cannot, closeError);
    }
    case Kind::Replace:
        break;
    }
    const QByteArray temporary = QFile::encodeName(m_temporary);
    int error = 0;
    if (::fsync(m_fd) != 0)
        error = errno;
    if (::close(m_fd) != 0 && error == 0)
        error = errno;
    m_fd = -1;
    if (error == 0 && ::rename(temporary.constData(), QFile::encodeName(m_target).constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        m_temporary.clear();
        return fail(cannot, error);
    }
    m_temporary.clear();
    // Make the rename itself durable; a failure here loses nothing already written.
    const QByteArray folder = QFile::encodeName(QFileInfo(m_target).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

void OutputFile::cancel()
{
    closeFd();
    if (!m_temporary.isEmpty())
        ::unlink(QFile::encodeName(m_temporary).constData());
    m_temporary.clear();
    m_done = true;
}

} // namespace files
