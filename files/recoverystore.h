#pragma once

#include "files/recording.h"

#include <QDateTime>
#include <QList>
#include <QString>

namespace files {

// A recording kept in the recovery folder.
struct RecoveryEntry
{
    QString path;
    // When the recording was received (the file's modification time).
    QDateTime time;
    qint64 dataLength = 0;
    QString firstCommentLine;
};

// The recovery folder: recordings that left the window before the user saved them (replaced
// by a new measurement, a short read or an opened file, or held when a signal closed the
// window), each a normal data file with its comment. Only the newest `Kept` stay.
class RecoveryStore
{
public:
    static constexpr int Kept = 20;

    explicit RecoveryStore(QString folder);

    // "Ferrun/recovery" in the user's data folder (~/.local/share/Ferrun/recovery).
    static QString defaultFolder();
    const QString &folder() const { return m_folder; }

    // Writes the recording as a new data file named after the moment it was received, its
    // modification time set to that moment, then removes the oldest files beyond Kept. Returns
    // the file written; empty on failure, with `error` set.
    QString keep(const Recording &recording, QString *error = nullptr) const;

    // The recordings kept, newest first. Files that are not readable data files are left out.
    QList<RecoveryEntry> entries() const;

    // Reads a kept recording back: it still needs saving, and it remembers its copy here.
    static DataFileStatus reopen(
        const QString &path, Recording *recording, QString *error = nullptr);

private:
    void prune() const;

    QString m_folder;
};

} // namespace files
