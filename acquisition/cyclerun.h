#pragma once

#include "acquisition/measurementsession.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

namespace files {
class CycleStore;
}

namespace acquisition {

class SamplingParameters;

// Memory available to the application: MemAvailable of a meminfo file (normally
// /proc/meminfo) in bytes; nothing when the file cannot be read or has no such line.
std::optional<qint64> availableMemoryBytes(const QString &meminfoPath);

// The cycle mode: short averaged measurements repeated back to back until stopped, each
// stored as it completes. The run listens to the session's outcomes: a completed cycle of its
// own is stored (written to disk by the cycle store before the next one starts), a failed one
// ends the run, and bytes that prove a stored cycle out of step take it back out of the run.
// Lives on the session's thread; the window and the command line drive it the same way:
//
//     acquisition::CycleRun cycle(&session, &panel, &work.cycles());
//     cycle.setRequestSource([&] { return request(); });  // each cycle's measurement
//     cycle.start();   ... cycle.stop();
//
// The run starts each following cycle TimCycleIntervalMs after the one before was stored,
// with a new request from the source, so a change of the controls between cycles applies to
// the next. "Стоп" lets the measurement under way end as usual, but its recording is not
// stored and nothing follows.
class CycleRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimCycleIntervalMs = 5;
    // At most this much available memory stops the run at the end of a cycle.
    static constexpr qint64 LowMemoryBytes = 524288;

    // How a run ended by itself.
    enum class Ending {
        Failed, // a cycle's exchange failed (failure()); the cycles before it stay
        OutOfStep, // bytes after a stored cycle proved it wrong: it was taken back out
        NotWritten, // a cycle could not be written to disk (writeError())
        LowMemory, // at most LowMemoryBytes available: the cycle was not stored
        Cancelled, // the user cancelled the measurement of a cycle
    };

    // `panel` (not owned) is the frequency/time panel whose samples and averaging the cycle
    // start sets; `store` (not owned) keeps the cycles.
    CycleRun(MeasurementSession *session, SamplingParameters *panel, files::CycleStore *store,
        QObject *parent = nullptr);

    // The measurement of each cycle, asked for at the cycle's start.
    void setRequestSource(std::function<MeasurementRequest()> source)
    {
        m_requestSource = std::move(source);
    }
    // The meminfo file the low-memory check reads; /proc/meminfo unless replaced.
    void setMeminfoPath(const QString &path) { m_meminfoPath = path; }

    // The cycle start: one memory block averaged over 16 samples in the controller, a new run
    // in the store, the first measurement.
    void start();
    // "Стоп": no measurement follows; the one under way is received but not stored.
    void stop();
    // timCycle fired: the next cycle starts if the run goes on.
    void timCycleTimer();

    bool CycleRunning() const { return m_running; }
    bool timCycleActive() const { return m_timCycle.isActive(); }
    // The measurement under way was started by this run (also after "Стоп").
    bool ownsExchange() const;
    // The exchange was the last one this run started: its recording is a cycle's.
    bool isOwn(quint64 exchangeId) const
    {
        return exchangeId != 0 && exchangeId == m_ownExchange;
    }
    // Cycles stored by the current (or last) run.
    int storedCycles() const { return m_storedCycles; }
    // The low-memory stop struck in this run: nothing more is stored or restarted until the
    // run is stopped.
    bool lowMemoryStopped() const { return m_lowMemoryStopped; }
    SessionFailure failure() const { return m_failure; }
    const QString &writeError() const { return m_writeError; }
    // The cycle that could not be written (Ending::NotWritten): only here, in memory.
    const files::Recording &unwritten() const { return m_unwritten; }

signals:
    void runningChanged(bool running);
    // A cycle was stored: `stored` cycles so far in this run, `bytes` in this one.
    void cycleStored(int stored, qsizetype bytes);
    // The newest stored cycle was proven out of step and taken back out of the run: its
    // recording (faulty), for the keeper of failed transfers.
    void cycleRetracted(const files::Recording &recording);
    // The run ended by itself (the low-memory stop leaves it running, see lowMemoryStopped).
    void ended(acquisition::CycleRun::Ending ending);

private:
    void exchangeEnded(const ExchangeOutcome &outcome);
    void provenOutOfStep(quint64 exchangeId);
    void setRunning(bool running);
    void end(Ending ending);
    void store(const files::Recording &recording);
    bool memoryLow() const;
    void startMeasurement();

    MeasurementSession *m_session;
    SamplingParameters *m_panel;
    files::CycleStore *m_store;
    std::function<MeasurementRequest()> m_requestSource;
    QString m_meminfoPath = QStringLiteral("/proc/meminfo");
    QTimer m_timCycle;

    bool m_running = false;
    bool m_lowMemoryStopped = false;
    int m_storedCycles = 0;
    SessionFailure m_failure = SessionFailure::None;
    QString m_writeError;
    // The exchange this run started last, and the one whose recording it stored last (which
    // later bytes may still prove wrong).
    quint64 m_ownExchange = 0;
    quint64 m_storedExchange = 0;
    files::Recording m_lastStored;
    files::Recording m_unwritten;
};

} // namespace acquisition
