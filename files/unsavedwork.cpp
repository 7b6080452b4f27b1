#include "files/unsavedwork.h"

#include "files/storeio.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

using namespace storeio;

namespace {

// The comment of the bytes of a failed transfer kept beside its target: a first line that
// says what they are, then the comment they were received with.
QString faultyComment(const QString &detail, const QString &comment)
{
    QString text = QStringLiteral("FAULTY RECORDING (transfer failed)");
    if (!detail.isEmpty())
        text += QStringLiteral(": ") + detail;
    if (!comment.isEmpty())
        text += QStringLiteral("\r\n") + comment;
    return text;
}

// Where the bytes of a failed transfer may go beside `target`: it is a regular file (through
// its links), or a name not taken in an existing folder.
bool besideTarget(const QString &target)
{
    if (target.isEmpty())
        return false;
    struct stat st;
    if (::stat(QFile::encodeName(target).constData(), &st) == 0)
        return S_ISREG(st.st_mode);
    if (errno != ENOENT)
        return false;
    // A dangling link names a file that would be created elsewhere: not a new name here.
    if (::lstat(QFile::encodeName(target).constData(), &st) == 0)
        return false;
    return QFileInfo(QFileInfo(target).absolutePath()).isDir();
}

// Writes `bytes` into a file of a new name beside `target` (never one that exists, whatever it
// is); the file written, or empty with `*error` set.
QString writeFaulty(const QString &target, const QByteArray &bytes, QString *error)
{
    for (int number = 1; number < 10000; ++number) {
        const QString name = faultyName(target, number);
        const QByteArray encoded = QFile::encodeName(name);
        const int fd = ::open(
            encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST)
            continue;
        if (fd < 0) {
            *error = QStringLiteral("cannot write %1: %2").arg(name, systemText(errno));
            return {};
        }
        const bool ok = writeAt(fd, 0, bytes) && ::fsync(fd) == 0;
        const int writeError = errno;
        ::close(fd);
        if (!ok) {
            ::unlink(encoded.constData());
            *error = QStringLiteral("cannot write %1: %2").arg(name, systemText(writeError));
            return {};
        }
        return name;
    }
    *error
        = QStringLiteral("cannot write %1: every name for it is taken").arg(faultyName(target, 1));
    return {};
}

} // namespace

QString faultyName(const QString &target, int number)
{
    return number <= 1 ? target + QStringLiteral(".faulty")
                       : target + QStringLiteral(".%1.faulty").arg(number);
}

UnsavedWork::UnsavedWork(RecoveryStore store, RecoveryKeeper keeper)
    : m_store(std::move(store))
    , m_keeper(keeper)
    , m_cycles(m_store, keeper)
{
}

QString UnsavedWork::replace(Recording next, const QString &comment, QString *error)
{
    QString kept;
    if (recordingUnsaved()) {
        kept = m_store.keep(
            m_recording, RecoveryKind::Replaced, m_keeper, QString(), m_comment, error);
    }
    m_recording = std::move(next);
    m_comment = comment;
    // A file, or an entry of the store read back, holds the comment it came with.
    const bool opened = m_recording.isSaved() || !m_recording.recoveryPath.isEmpty();
    m_savedComment = opened ? comment : QString();
    return kept;
}

bool UnsavedWork::recordingUnsaved() const
{
    if (m_recording.needsSaving())
        return true;
    const bool fromStore = !m_recording.recoveryPath.isEmpty();
    if ((m_recording.isSaved() || fromStore) && m_comment != m_savedComment)
        return true;
    return fromStore && !QFileInfo::exists(m_recording.recoveryPath);
}

void UnsavedWork::recordingSaved(const QString &path)
{
    const QString entry = m_recording.recoveryPath;
    m_recording.savedPath = path;
    m_recording.comment = m_comment;
    m_recording.recoveryPath.clear();
    m_savedComment = m_comment;
    // The store's copy goes, unless the save wrote that very file.
    if (!isInFolder(entry, m_store.folder()))
        return;
    struct stat saved;
    struct stat kept;
    if (::stat(QFile::encodeName(path).constData(), &saved) == 0
        && ::lstat(QFile::encodeName(entry).constData(), &kept) == 0 && saved.st_dev == kept.st_dev
        && saved.st_ino == kept.st_ino)
        return;
    if (::unlink(QFile::encodeName(entry).constData()) == 0)
        syncFolder(m_store.folder());
}

bool UnsavedWork::exchangeOutOfStep(quint64 exchangeId)
{
    if (exchangeId == 0 || m_recording.exchangeId != exchangeId)
        return false;
    m_recording.faulty = true;
    // A copy already kept in the store is noted as what it is now.
    if (isInFolder(m_recording.recoveryPath, m_store.folder())
        && QFileInfo::exists(m_recording.recoveryPath))
        m_store.keep(m_recording, RecoveryKind::FailedTransfer, m_keeper,
            QStringLiteral("out of step"), m_comment);
    return true;
}

QString UnsavedWork::keepFailed(
    const Recording &received, const QString &detail, const QString &target, QString *error)
{
    if (received.data.isEmpty()) {
        if (error)
            *error = QStringLiteral("nothing was received");
        return {};
    }
    QString besideError;
    if (besideTarget(target)) {
        const QString name = writeFaulty(target,
            encodeDataFile(received.header, received.data, faultyComment(detail, received.comment)),
            &besideError);
        if (!name.isEmpty())
            return name;
    }
    // No file beside the target, or none could be written there: the store takes the bytes.
    Recording faulty = received;
    faulty.faulty = true;
    const QString kept = m_store.keep(
        faulty, RecoveryKind::FailedTransfer, m_keeper, detail, received.comment, error);
    if (kept.isEmpty() && error && !besideError.isEmpty())
        *error = besideError + QStringLiteral("; ") + *error;
    return kept;
}

QString UnsavedWork::keepUndelivered(
    const Recording &recording, const QString &comment, const QString &detail, QString *error)
{
    return m_store.keep(recording, RecoveryKind::NotSaved, m_keeper, detail, comment, error);
}

bool UnsavedWork::keepAll(bool exceptSaveTarget, QString *error)
{
    QStringList errors;
    const bool dropRecording = exceptSaveTarget && !m_recordedByCycle;
    if (!dropRecording && recordingUnsaved()) {
        QString why;
        const QString kept = m_store.keep(
            m_recording, RecoveryKind::NotSaved, m_keeper, QString(), m_comment, &why);
        if (kept.isEmpty()) {
            errors << why;
        } else {
            // Kept again later, it rewrites this entry instead of adding one.
            m_recording.recoveryPath = kept;
            m_savedComment = m_comment;
        }
    }
    if (exceptSaveTarget && m_recordedByCycle) {
        m_cycles.discard();
    } else {
        QString why;
        if (m_recordedByCycle && m_cycles.hasUnsaved() && !m_cycles.setComment(m_comment, &why))
            errors << why;
        m_cycles.endRun();
    }
    if (!errors.isEmpty() && error)
        *error = errors.join(QStringLiteral("; "));
    return errors.isEmpty();
}

} // namespace files
