#include "files/recordingdocument.h"

#include <QFile>

namespace files {

RecordingDocument::RecordingDocument(RecoveryStore recovery)
    : m_recovery(std::move(recovery))
{
}

QString RecordingDocument::replace(Recording next, const QString &commentOfHeld, QString *error)
{
    const QString kept = keepInRecovery(commentOfHeld, error);
    m_recording = std::move(next);
    return kept;
}

QString RecordingDocument::keepInRecovery(const QString &comment, QString *error)
{
    if (!m_recording.needsSaving())
        return {};
    // Reopened from the recovery folder and unchanged: that copy still holds it.
    if (!m_recording.recoveryPath.isEmpty() && m_recording.comment == comment
        && QFile::exists(m_recording.recoveryPath))
        return m_recording.recoveryPath;
    Recording copy = m_recording;
    copy.comment = comment;
    const QString path = m_recovery.keep(copy, error);
    if (path.isEmpty())
        return {};
    if (!m_recording.recoveryPath.isEmpty() && m_recording.recoveryPath != path)
        QFile::remove(m_recording.recoveryPath);
    m_recording.comment = comment;
    m_recording.recoveryPath = path;
    return path;
}

void RecordingDocument::setSaved(const QString &path, const QString &comment)
{
    m_recording.comment = comment;
    m_recording.savedPath = path;
    if (!m_recording.recoveryPath.isEmpty())
        QFile::remove(m_recording.recoveryPath);
    m_recording.recoveryPath.clear();
}

} // namespace files
