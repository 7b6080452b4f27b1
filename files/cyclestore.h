#pragma once

#include "files/cyclesave.h"
#include "files/datafile.h"
#include "files/recoverystore.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

namespace files {

// The cycles of a cycle run, each on disk, written and flushed, once it is stored: a kill, a
// crash or a power cut loses at most the cycle under way. They live in journals of the
// recovery store, normal data files whose data are the cycles' arrays one after the other
// (kind CyclesUnderWay while the run goes, Cycles once it has ended). A run whose cycles
// change their header (another frequency, other channels, averaging switched) goes on in a
// new journal. Memory stays flat however long a run goes: only the cycles' lengths are held,
// as runs of equal lengths, and a bit per cycle for the per-cycle save.
//
// A cycle is appended by writing its bytes (and the journal's comment after them) past the
// data, flushing, then writing the new data length into the header and flushing again: a
// journal that a crash left between the two reads as the cycles before, and
// RecoveryStore::repairInterruptedRuns() cuts off what follows them.
//
// Saving follows the window's rules: a one-file save writes every cycle in order as the data
// of one file (and may be repeated); a per-cycle save writes each cycle that no per-cycle
// save has written yet into a file of its own, newest first, and stops at the first failure
// (the rest stays for another save). Once every cycle is saved one way or the other, the
// journals leave the store when the run is over.
class CycleStore
{
public:
    CycleStore(RecoveryStore store, RecoveryKeeper keeper);
    ~CycleStore();
    CycleStore(const CycleStore &) = delete;
    CycleStore &operator=(const CycleStore &) = delete;

    const RecoveryStore &recovery() const { return m_store; }

    // Starts a new run. The cycles of the run before stay in the store when they were not all
    // saved (as an entry of kind Cycles), and leave it when they were.
    void beginRun();
    // The run has ended ("Стоп", or by itself): its journals become entries of kind Cycles,
    // their note naming the number of cycles; a run whose cycles were all saved leaves the
    // store.
    void endRun();
    bool running() const { return m_running; }

    // Stores a cycle with the header it was recorded with (DataLength is ignored): written
    // and flushed before it returns. False with `error` (English, the system's reason
    // included) when it could not be written; nothing is stored then.
    bool append(const DataFileHeader &header, const QByteArray &cycle, QString *error = nullptr);
    // The newest cycle was proven out of step: it leaves the run, and its bytes are returned
    // (empty when there is none).
    QByteArray retractLast();

    int count() const { return m_count; }
    qint64 dataBytes() const { return m_dataBytes; }
    // The array of cycle `index` (0 the oldest) read back from its journal; empty when it
    // cannot be read.
    QByteArray cycle(int index) const;
    // The header of cycle `index`, and of the newest cycle (a default one with none stored).
    DataFileHeader cycleHeader(int index) const;
    DataFileHeader header() const;
    // The journals of this run, oldest first.
    QStringList journals() const;

    // Some cycle has been saved neither in one file (with all the others) nor in a file of
    // its own.
    bool hasUnsaved() const;

    // Every cycle in order as the data of one file, with the newest cycle's header and
    // `comment`, written as saveDataFile writes (atomically for a file). Streamed from the
    // journals: memory stays bounded however many cycles there are.
    bool saveOneFile(const QString &fileName, const QString &comment, QString *error = nullptr,
        QString *reason = nullptr, const OutputOptions &options = {},
        SaveFailure *failure = nullptr, int *systemError = nullptr);
    // One file per cycle not yet written by a per-cycle save, newest first, each with its own
    // header and `comment`, named cycleFileName(lastSavedFile, number) with the cycle's number
    // in the run (0 the oldest). A failure stops the save there; the files written stay.
    CycleSaveResult savePerCycle(
        const QString &lastSavedFile, const QString &comment, const OutputOptions &options = {});

    // The user gave the cycles up: the journals leave the store and the store is empty.
    void discard();
    // Puts `comment` after the note of every journal (the user's comment for the cycles,
    // when the program ends with them not saved). False with `error` when one could not be
    // written.
    bool setComment(const QString &comment, QString *error = nullptr);

private:
    struct Journal;
    Journal *openJournal(const DataFileHeader &header, QString *error);
    void closeJournals(bool removeSaved);

    RecoveryStore m_store;
    RecoveryKeeper m_keeper;
    bool m_running = false;
    std::vector<std::unique_ptr<Journal>> m_journals;
    int m_count = 0;
    qint64 m_dataBytes = 0;
    // Cycles 0 .. m_oneFileSaved - 1 are in the file of the last one-file save.
    int m_oneFileSaved = 0;
    // Bit i: cycle i has a file of its own.
    std::vector<bool> m_perCycleSaved;
    QString m_comment;
};

} // namespace files
