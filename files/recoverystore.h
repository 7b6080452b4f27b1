#pragma once

#include "files/recording.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

namespace files {

// What a kept recording is.
enum class RecoveryKind {
    Replaced, // a recording replaced (by a new one, an opened file) before it was saved
    NotSaved, // a recording not saved when its program ended, or one its target could not take
    FailedTransfer, // the bytes of a failed transfer up to its last good block: no good recording
    Cycles, // the cycles of a cycle run that were not saved
    CyclesUnderWay, // the cycles of a run still going (or of one a crash or kill ended)
};

// Which program kept it.
enum class RecoveryKeeper { Window, Measure, Cycle };

// A recording kept in the recovery store.
struct RecoveryEntry
{
    QString path;
    RecoveryKind kind = RecoveryKind::NotSaved;
    RecoveryKeeper keptBy = RecoveryKeeper::Window;
    // When the recording was received (the file's modification time; for cycles, the last
    // cycle stored).
    QDateTime time;
    qint64 dataLength = 0;
    // What the keeping program said of it (a failure, the number of blocks or cycles), in
    // English as the file stores it; may be empty.
    QString detail;
    // The first line of the user's comment (the store's own first line left out).
    QString firstCommentLine;
};

// The store's first comment line of an entry: "Ferrun recovery: KIND by KEEPER[: DETAIL]",
// with KIND "replaced", "not saved", "failed transfer", "cycles" or "cycles under way" and
// KEEPER "window", "measure" or "cycle". The user's comment follows on the next line.
QString recoveryNoteLine(RecoveryKind kind, RecoveryKeeper keeper, const QString &detail);
struct RecoveryNote
{
    RecoveryKind kind = RecoveryKind::NotSaved;
    RecoveryKeeper keptBy = RecoveryKeeper::Window;
    QString detail;
};
// The note of a comment's first line; none when it is not one.
std::optional<RecoveryNote> parseRecoveryNote(const QString &firstLine);
// The comment without the store's first line (the user's comment as it was typed).
QString commentWithoutNote(const QString &comment);

// The recovery store: recordings that left a program before the user saved them, one store
// for the window and every command, under the user's data folder. Each entry is a normal data
// file whose name ("yyyyMMdd-hhmmss-zzz-KIND.kdx", KIND "replaced", "unsaved", "failed" or
// "cycles"; "-2", "-3", ... before ".kdx" when taken) and first comment line say what it is;
// its modification time is when the recording was received.
//
// The store is large: only beyond MaxEntries files or MaxBytes in all are the oldest removed,
// and never a run's cycles still under way (a journal locked by its program). Nothing is
// kept twice: a recording already in the store (reopened from it) is rewritten in place when
// its comment changed, and left as it is otherwise.
class RecoveryStore
{
public:
    static constexpr int MaxEntries = 1000;
    static constexpr qint64 MaxBytes = qint64(2) * 1024 * 1024 * 1024;

    explicit RecoveryStore(QString folder);

    // "Ferrun/recovery" in the user's data folder (~/.local/share/Ferrun/recovery).
    static QString defaultFolder();
    const QString &folder() const { return m_folder; }

    // Keeps the recording, with `comment` after the store's note line; returns the file.
    // A recording whose recoveryPath names an entry of this store replaces that entry
    // (atomically) instead. Empty on failure, with `error` set: "cannot create folder X: why"
    // or "cannot write X: why" (English; the system's reason included).
    QString keep(const Recording &recording, RecoveryKind kind, RecoveryKeeper keeper,
        const QString &detail, const QString &comment, QString *error = nullptr) const;

    // A new file name for an entry of this kind received at `time`, not yet taken.
    QString newEntryPath(RecoveryKind kind, const QDateTime &time) const;

    // The recordings kept, newest first. Files that are not readable data files are left out.
    QList<RecoveryEntry> entries() const;

    // Reads a kept recording back: it still needs saving, it remembers its entry here, and
    // its comment is the user's (the store's note line left out). A failed transfer comes
    // back faulty.
    static DataFileStatus reopen(
        const QString &path, Recording *recording, QString *error = nullptr);

    // Runs of cycles that a crash or a kill ended (journals under way that no program holds):
    // each is brought to a whole data file holding every cycle written in full before the
    // end (a cycle cut short is dropped), noted as "cycles" with "interrupted" in its detail.
    // Returns the entries repaired, so that a program can name them at its start.
    QList<RecoveryEntry> repairInterruptedRuns() const;

    // Removes the oldest entries beyond the limits (never a journal under way).
    void prune() const;

private:
    QString m_folder;
};

} // namespace files
