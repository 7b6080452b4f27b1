#pragma once

#include "acquisition/measurementsession.h"
#include "files/cyclesave.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

namespace acquisition {

class SamplingParameters;

// Memory available to the application: MemAvailable of a meminfo file (normally
// /proc/meminfo) in bytes; nothing when the file cannot be read or has no such line.
std::optional<qint64> availableMemoryBytes(const QString &meminfoPath);

// The cycle mode: short averaged measurements repeated back to back until stopped, each
// stored for saving. Keeps the cycle state (CycleRunning, the caption of btCycle) and the two
// stores: CycleStream (with "В один файл" checked, every cycle's array appended in order) and
// the CycleRecord list (without it: one record per cycle and an empty head that waits for the
// next cycle). CycleNumber and RecordedByCycle are the session's.
//
// Lives on the session's thread. The window and the command line drive it the same way:
//     acquisition::CycleRun cycle(&session, &sampling);   // sampling: the frequency/time panel
//     cycle.setOneFile(cb1file->isChecked());             // and on every toggle of cb1file
//     connect(&cycle, &CycleRun::cycleButtonChanged, ...); // caption and colour of btCycle
//     connect(&cycle, &CycleRun::lowMemory, ...);          // the message box
//     btCycle clicked: cycle.btCycleClick();
// and the chart builder calls the cycle step at its end, after "ПОСТРОЕНИЕ ГРАФИКА":
//     if (cycle.CycleRunning() && cycle.cycleStep() == CycleRun::StepResult::LowMemory)
//         return;   // the build ends before the value-axis range
//
// The step stores only the array of a transfer that has just completed (a build that
// follows the session's transferComplete, which the session emits only once the line has
// stayed quiet after the last block: a transfer that fails is never stored). Other builds during a
// run (a redraw after an axis or unit change, a loaded file, a short read) are drawn but not stored
// as cycles: a redraw would store the same cycle twice, or a half-transferred array, and a short
// read or a file is not a cycle of this run. When a build follows an exchange that ended without a
// cycle array (a short-read reply, or a measurement that ended without data), the run
// restarts without storing. A transfer that fails (stray bytes, the board gone) stops the
// run; its array is not stored.
class CycleRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimCycleIntervalMs = 5;
    // At most this much available memory stops the run at the end of a cycle.
    static constexpr qint64 LowMemoryBytes = 524288;
    static QString lowMemoryMessage();

    enum class StepResult {
        NotRunning, // CycleRunning is clear
        Stored, // the cycle was stored; the next one starts through timCycle
        Restarting, // no cycle array to store; the next cycle starts through timCycle
        Skipped, // nothing to store and nothing to restart (a redraw, a loaded file, a halt)
        LowMemory, // the low-memory stop: not stored, no restart; the chart build ends
    };

    // `panel` (not owned) is the frequency/time panel whose samples and averaging the cycle
    // start sets.
    CycleRun(MeasurementSession *session, SamplingParameters *panel, QObject *parent = nullptr);

    // The click handler of btStart, run by timCycle for every following cycle; the session's
    // btStartClick() unless replaced.
    void setStartHandler(std::function<void()> handler) { m_startHandler = std::move(handler); }
    // The meminfo file the low-memory check reads; /proc/meminfo unless replaced.
    void setMeminfoPath(const QString &path) { m_meminfoPath = path; }
    QString meminfoPath() const { return m_meminfoPath; }

    // cb1file ("В один файл"), looked at anew by every cycle step.
    bool oneFile() const { return m_oneFile; }
    void setOneFile(bool checked) { m_oneFile = checked; }

    // Installs as the session's chart builder what a front end without a chart does when a
    // recording arrives: the session's own steps of a chart build (nothing for an empty
    // buffer; progress panel hidden, percent labels cleared, CycleNumber + 1, CurrentCommand
    // 0x00 and "ПОСТРОЕНИЕ ГРАФИКА"), then `drawn` when given, then the cycle step.
    void installHeadlessChartBuilder(std::function<void()> drawn = {});

    // ---- Handlers
    // "ЦИКЛ" starts a run, "Стоп" stops it; both set RecordedByCycle.
    void btCycleClick();
    // The cycle step at the end of a chart build: stores the recording of the transfer that
    // has just completed. Does nothing unless CycleRunning is set.
    StepResult cycleStep();
    // timCycle fired: the next cycle starts with the full start sequence if the run goes on.
    void timCycleTimer();

    // ---- State
    bool CycleRunning() const { return m_running; }
    const ButtonLook &cycleButton() const { return m_button; }
    bool timCycleActive() const { return m_timCycle.isActive(); }
    // The low-memory stop struck in this run: nothing more is stored or restarted until
    // "Стоп" is pressed.
    bool lowMemoryStopped() const { return m_lowMemoryStopped; }
    // Cycles stored by the current (or last) run, in both stores together.
    int storedCycles() const { return m_storedCycles; }

    // CycleStream, and whether one exists (none before the first one-file run).
    const QByteArray &CycleStream() const { return m_stream; }
    bool hasCycleStream() const { return m_hasStream; }
    // The CycleRecord list, oldest first; during a run the last record is the empty head.
    // Empty before the first run without "В один файл" and after a per-cycle save.
    const std::vector<files::CycleRecord> &CycleRecords() const { return m_records; }
    // Records holding a cycle (the head excluded).
    int filledRecords() const;

    // Stored cycles that no save has written yet: records not released, or a stream changed
    // since its last successful one-file save.
    bool hasUnsavedCycles() const;
    // Their arrays in the order they were recorded (the stream's first, then the records').
    QByteArray unsavedCycleArrays() const;

    // ---- Saving the stored cycles
    // One file per stored record, named after `lastSavedFile` (see files::saveCycleRecords):
    // written records are released, records not written stay for another save. After a run
    // has stopped the empty head is dropped as well, so that a save that wrote everything
    // leaves the list empty; during a run the head stays and numbering goes on.
    files::CycleSaveResult saveRecords(const QString &lastSavedFile,
        const files::DataFileHeader &header, const QString &comment,
        const files::OutputOptions &options = {});
    // CycleStream into one file (an empty stream when none exists); the stream stays, and
    // counts as saved until a cycle is appended to it.
    bool saveStream(const QString &fileName, const files::DataFileHeader &header,
        const QString &comment, QString *error = nullptr, QString *reason = nullptr,
        const files::OutputOptions &options = {}, files::SaveFailure *failure = nullptr);

signals:
    void cycleButtonChanged();
    void runningChanged(bool running);
    // A cycle was stored: `stored` cycles so far in this run, `bytes` in this one.
    void cycleStored(int stored, qsizetype bytes);
    // The low-memory stop: the window shows `message` in a message box.
    void lowMemory(const QString &message);
    // A cycle start is about to give up a store that holds cycles no save has written:
    // `arrays` are their arrays in order (so that the window can keep them).
    void unsavedCyclesDropped(const QByteArray &arrays);

private:
    void startRun();
    void stopRun();
    void store(const QByteArray &buffer);
    bool memoryLow() const;
    QByteArray recordArrays() const;
    // A new empty store; one that holds unsaved cycles is announced first.
    void newStream();
    void newRecordList();

    MeasurementSession *m_session;
    SamplingParameters *m_panel;
    std::function<void()> m_startHandler;
    QString m_meminfoPath = QStringLiteral("/proc/meminfo");
    QTimer m_timCycle;

    bool m_running = false;
    bool m_oneFile = false;
    bool m_lowMemoryStopped = false;
    ButtonLook m_button;
    int m_storedCycles = 0;

    // What the build that runs the next step draws: the array of the transfer that has just
    // completed.
    bool m_arrayPending = false;
    QByteArray m_pendingArray;
    bool m_exchangeEndedWithoutCycle = false;

    QByteArray m_stream;
    bool m_hasStream = false;
    bool m_streamSaved = false;
    std::vector<files::CycleRecord> m_records;
    // The stores prepared by the current run.
    bool m_runHasStream = false;
    bool m_runHasList = false;
};

} // namespace acquisition
