#include "acquisition/cyclerun.h"

#include "acquisition/samplingparameters.h"
#include "files/cyclestore.h"

#include <QFile>

namespace acquisition {

std::optional<qint64> availableMemoryBytes(const QString &meminfoPath)
{
    QFile file(meminfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // The file is small; a line reads "MemAvailable:   123456 kB".
    const QByteArray contents = file.read(64 * 1024);
    for (const QByteArray &line : contents.split('\n')) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        const QList<QByteArray> words = line.mid(13).simplified().split(' ');
        bool ok = false;
        const qint64 value = words.value(0).toLongLong(&ok);
        if (!ok || value < 0)
            return std::nullopt;
        const QByteArray unit = words.value(1).toLower();
        if (unit == "kb")
            return value * 1024;
        if (unit.isEmpty() || unit == "b")
            return value;
        return std::nullopt;
    }
    return std::nullopt;
}

CycleRun::CycleRun(MeasurementSession *session, SamplingParameters *panel,
    files::CycleStore *store, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_panel(panel)
    , m_store(store)
{
    m_timCycle.setSingleShot(true);
    m_timCycle.setInterval(TimCycleIntervalMs);
    m_timCycle.setTimerType(Qt::PreciseTimer);
    connect(&m_timCycle, &QTimer::timeout, this, &CycleRun::timCycleTimer);
    connect(m_session, &MeasurementSession::exchangeEnded, this, &CycleRun::exchangeEnded);
    connect(m_session, &MeasurementSession::provenOutOfStep, this, &CycleRun::provenOutOfStep);
}

bool CycleRun::ownsExchange() const
{
    return m_session->state() != SessionState::Idle && isOwn(m_session->exchangeId());
}

void CycleRun::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    emit runningChanged(running);
}

void CycleRun::start()
{
    m_storedCycles = 0;
    m_lowMemoryStopped = false;
    m_failure = SessionFailure::None;
    m_writeError.clear();
    m_storedExchange = 0;
    // The cycles of the run before stay in the store when they were not saved.
    m_store->beginRun();
    // One memory block, averaged over 16 samples in the controller: 3500 bytes a cycle.
    if (m_panel) {
        if (m_panel->value(Field::seSamples) == BlockSamples)
            m_panel->seSamplesChange();
        else
            m_panel->assign(Field::seSamples, BlockSamples);
        m_panel->setAveraging(true);
    }
    setRunning(true);
    startMeasurement();
}

void CycleRun::stop()
{
    m_timCycle.stop();
    if (!m_running && !m_store->running())
        return;
    setRunning(false);
    m_store->endRun();
    // The measurement under way is received and drawn, but not stored, and nothing follows.
}

void CycleRun::end(Ending ending)
{
    m_timCycle.stop();
    setRunning(false);
    m_store->endRun();
    emit ended(ending);
}

void CycleRun::startMeasurement()
{
    if (!m_requestSource)
        return;
    m_session->startMeasurement(m_requestSource());
    m_ownExchange = m_session->exchangeId();
}

bool CycleRun::memoryLow() const
{
    const std::optional<qint64> available = availableMemoryBytes(m_meminfoPath);
    // Memory that cannot be measured does not stop a run.
    return available && *available <= LowMemoryBytes;
}

void CycleRun::exchangeEnded(const ExchangeOutcome &outcome)
{
    const bool own = isOwn(outcome.exchangeId);
    if (!m_running || m_lowMemoryStopped)
        return;
    if (!own) {
        // Another exchange (a short read during the run) has ended: the run goes on with a
        // new cycle once it is over.
        if (outcome.end != ExchangeEnd::Interrupted)
            m_timCycle.start();
        return;
    }
    switch (outcome.end) {
    case ExchangeEnd::Completed:
        if (memoryLow()) {
            m_lowMemoryStopped = true;
            emit ended(Ending::LowMemory);
            return;
        }
        store(outcome.recording);
        return;
    case ExchangeEnd::Failed:
        m_failure = outcome.failure;
        // A reply that was no end of measurement (a status byte) brought no cycle: the next
        // one starts as usual.
        if (outcome.failure == SessionFailure::NoData) {
            m_timCycle.start();
            return;
        }
        end(outcome.previousOutOfStep ? Ending::OutOfStep : Ending::Failed);
        return;
    case ExchangeEnd::Cancelled:
        end(Ending::Cancelled);
        return;
    case ExchangeEnd::Interrupted:
        // Another command took over; the run goes on after it.
        return;
    }
}

void CycleRun::store(const files::Recording &recording)
{
    QString error;
    if (!m_store->append(recording.header, recording.data, &error)) {
        m_writeError = error;
        m_unwritten = recording;
        end(Ending::NotWritten);
        return;
    }
    m_storedExchange = recording.exchangeId;
    m_lastStored = recording;
    m_lastStored.data.clear();
    ++m_storedCycles;
    emit cycleStored(m_storedCycles, recording.data.size());
    if (m_running)
        m_timCycle.start();
}

void CycleRun::provenOutOfStep(quint64 exchangeId)
{
    if (exchangeId == 0 || exchangeId != m_storedExchange)
        return;
    m_storedExchange = 0;
    // The stray byte lay in the cycle's last block, whose real end came after the quiet
    // time: the blocks before it are good.
    files::Recording taken = m_lastStored;
    taken.data = m_store->retractLast();
    taken.data.chop(std::min<qsizetype>(DataBlockPayload, taken.data.size()));
    taken.header.DataLength = quint32(taken.data.size());
    taken.faulty = true;
    --m_storedCycles;
    emit cycleRetracted(taken);
    if (m_running)
        end(Ending::OutOfStep);
}

void CycleRun::timCycleTimer()
{
    m_timCycle.stop();
    if (!m_running || m_lowMemoryStopped)
        return;
    // Bytes that came after the cycle stored last prove it wrong: nothing follows it.
    if (!m_session->checkLateBytes() || !m_running)
        return;
    startMeasurement();
}

} // namespace acquisition
