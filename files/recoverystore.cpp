#include "files/recoverystore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>

namespace files {

namespace {

// The data files of the folder, newest first.
QFileInfoList keptFiles(const QString &folder)
{
    QFileInfoList files = QDir(folder).entryInfoList(
        { QStringLiteral("*.kdx") }, QDir::Files | QDir::NoSymLinks | QDir::Hidden);
    std::stable_sort(files.begin(), files.end(),
        [](const QFileInfo &a, const QFileInfo &b) { return a.lastModified() > b.lastModified(); });
    return files;
}

void setModificationTime(const QString &path, const QDateTime &time)
{
    const qint64 ms = time.toMSecsSinceEpoch();
    const struct timespec times[2]
        = { { 0, UTIME_OMIT }, { ms / 1000, long(ms % 1000) * 1000000 } };
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

} // namespace

RecoveryStore::RecoveryStore(QString folder)
    : m_folder(std::move(folder))
{
}

QString RecoveryStore::defaultFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/Ferrun/recovery");
}

QString RecoveryStore::keep(const Recording &recording, QString *error) const
{
    if (!QDir().mkpath(m_folder)) {
        if (error)
            *error
                = QCoreApplication::translate("files::RecoveryStore", "Не удаётся создать папку %1")
                      .arg(m_folder);
        return {};
    }
    const QDateTime time = recording.time.isValid() ? recording.time : QDateTime::currentDateTime();
    const QString stem
        = QDir(m_folder).filePath(time.toString(QStringLiteral("yyyyMMdd-hhmmss-zzz")));
    QString path = stem + QStringLiteral(".kdx");
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n)
        path = stem + QStringLiteral("-%1.kdx").arg(n);
    QString reason;
    SaveFailure failure = SaveFailure::None;
    if (!saveDataFile(path, recording.header, recording.data, recording.comment, nullptr, &reason,
            nullptr, {}, &failure)) {
        if (error) {
            *error = saveFailureText(failure, path);
            if (!reason.isEmpty())
                *error += QStringLiteral(" (%1)").arg(reason);
        }
        return {};
    }
    setModificationTime(path, time);
    prune();
    return path;
}

void RecoveryStore::prune() const
{
    const QFileInfoList files = keptFiles(m_folder);
    for (qsizetype i = Kept; i < files.size(); ++i)
        QFile::remove(files.at(i).filePath());
}

QList<RecoveryEntry> RecoveryStore::entries() const
{
    QList<RecoveryEntry> out;
    for (const QFileInfo &info : keptFiles(m_folder)) {
        DataFileSummary summary;
        // The first line is all the list shows.
        if (readDataFileSummary(info.filePath(), &summary, 4096) != DataFileStatus::Ok)
            continue;
        RecoveryEntry entry;
        entry.path = info.filePath();
        entry.time = info.lastModified();
        entry.dataLength = summary.header.DataLength;
        entry.firstCommentLine = summary.commentLines().value(0);
        out << entry;
    }
    return out;
}

DataFileStatus RecoveryStore::reopen(const QString &path, Recording *recording, QString *error)
{
    const DataFileStatus status = readRecording(path, recording, error);
    if (status == DataFileStatus::Ok) {
        recording->savedPath.clear();
        recording->recoveryPath = path;
    }
    return status;
}

} // namespace files
