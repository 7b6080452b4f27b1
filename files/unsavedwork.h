#pragma once

#include "files/cyclestore.h"
#include "files/recording.h"
#include "files/recoverystore.h"

#include <QString>

namespace files {

// The one keeper of work not saved, for the window and every command alike: the current
// recording with its comment, the cycles of a cycle run, and the bytes of failed transfers,
// with one recovery store behind them. Nothing it holds is lost without the user's word:
// - a recording that needs saving (measured or read, not faulty, not saved), or one whose
//   comment was edited since it was saved or opened, goes to the store before anything
//   replaces it;
// - each cycle of a run is on disk as soon as it is stored (CycleStore);
// - a failed transfer's bytes go beside the target of a command when that is a regular file
//   ("FILE.faulty", then "FILE.2.faulty", ...; none is ever replaced), and to the store
//   otherwise;
// - what a program cannot deliver, or holds when it ends without an answer, goes to the store.
class UnsavedWork
{
public:
    UnsavedWork(RecoveryStore store, RecoveryKeeper keeper);

    const RecoveryStore &recovery() const { return m_store; }
    RecoveryKeeper keeper() const { return m_keeper; }

    // ---- The current recording and its comment
    const Recording &recording() const { return m_recording; }
    // The comment as it stands now (as the comment box shows it).
    const QString &comment() const { return m_comment; }
    // The user edited the comment.
    void setComment(const QString &comment) { m_comment = comment; }
    // Replaces the current recording; the one held is kept in the store first when it is
    // unsaved, with the comment as it stood. `comment` is the new recording's: an opened
    // file's own, or, for a new measurement, the text the comment box goes on showing.
    // Returns the entry kept (empty when nothing needed keeping, or on failure with `error`
    // set: the recording is replaced anyway, for the new one has arrived, but the caller
    // must say so).
    QString replace(Recording next, const QString &comment, QString *error = nullptr);
    // The recording holds something not saved: it needs saving, or its comment changed since
    // it was saved or opened.
    bool recordingUnsaved() const;
    // The recording was written to `path` with the comment as it stands: it is saved now, and
    // its copy in the store, if it came from there, leaves the store.
    void recordingSaved(const QString &path);
    // Bytes after the exchange `exchangeId` proved it out of step: when that exchange made
    // the current recording, it is faulty from now on (true). Its saved file, if any, is
    // left as it is (recording().savedPath names it).
    bool exchangeOutOfStep(quint64 exchangeId);

    // ---- Cycles
    CycleStore &cycles() { return m_cycles; }
    const CycleStore &cycles() const { return m_cycles; }
    // What a save writes: the run's cycles (set by the cycle button, cleared by a single
    // measurement or a short read), or the current recording.
    bool recordedByCycle() const { return m_recordedByCycle; }
    void setRecordedByCycle(bool value) { m_recordedByCycle = value; }
    // What a save writes has something not saved.
    bool saveTargetUnsaved() const
    {
        return m_recordedByCycle ? m_cycles.hasUnsaved() : recordingUnsaved();
    }

    // ---- Failed transfers and recordings not delivered
    // Keeps the bytes of a failed transfer: beside `target` when it is a regular file or a
    // new name in an existing folder, otherwise (no target, a device, a FIFO) in the store.
    // `detail` says how it failed. Returns the file; empty with `error` on failure or when
    // there are no bytes.
    QString keepFailed(const Recording &received, const QString &detail,
        const QString &target = {}, QString *error = nullptr);
    // Keeps a recording its program could not deliver (the save failed, the target cannot
    // hold it) in the store, with `detail` saying why. Returns the entry; empty with `error`.
    QString keepUndelivered(const Recording &recording, const QString &comment,
        const QString &detail, QString *error = nullptr);

    // ---- The end of a program
    // Everything not saved goes to the store, with the comment as it stands (a close nobody
    // can answer): the current recording when unsaved, the cycles with the comment. With
    // `exceptSaveTarget` what a save would write is given up instead (the user answered
    // "Не сохранять"): a recording is dropped, the cycles leave the store.
    // Returns false with `error` when something could not be kept.
    bool keepAll(bool exceptSaveTarget = false, QString *error = nullptr);

private:
    RecoveryStore m_store;
    RecoveryKeeper m_keeper;
    Recording m_recording;
    QString m_comment;
    // The comment as it was when the recording was saved or opened; the store's copy of a
    // recording reopened from it counts as not saved.
    QString m_savedComment;
    CycleStore m_cycles;
    bool m_recordedByCycle = false;
};

// The file name for the bytes of a failed transfer beside `target`: "TARGET.faulty" when free,
// then "TARGET.2.faulty", "TARGET.3.faulty", ... (never an existing name).
QString faultyName(const QString &target, int number);

} // namespace files
