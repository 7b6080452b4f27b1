#include "acquisition/cyclerun.h"

#include "acquisition/samplingparameters.h"

#include <QCoreApplication>
#include <QFile>

namespace acquisition {

namespace {

QString CycleCaption()
{
    return QCoreApplication::translate("acquisition::CycleRun", "ЦИКЛ");
}

QString StopCaption()
{
    return QCoreApplication::translate("acquisition::CycleRun", "Стоп");
}

} // namespace

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

QString CycleRun::lowMemoryMessage()
{
    return QCoreApplication::translate(
        "acquisition::CycleRun", "Измерение завершено: свободной оперативной памяти менее 512К");
}

CycleRun::CycleRun(MeasurementSession *session, SamplingParameters *panel, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_panel(panel)
    , m_button { CycleCaption(), ColourBlack }
{
    m_timCycle.setSingleShot(true);
    m_timCycle.setInterval(TimCycleIntervalMs);
    m_timCycle.setTimerType(Qt::PreciseTimer);
    connect(&m_timCycle, &QTimer::timeout, this, &CycleRun::timCycleTimer);

    // The session announces what the chart build right after it draws.
    connect(m_session, &MeasurementSession::transferComplete, this,
        [this](const files::Recording &recording) {
            m_arrayPending = true;
            m_pendingArray = recording.data;
            m_exchangeEndedWithoutCycle = false;
        });
    const auto endedWithoutCycle = [this] {
        m_arrayPending = false;
        m_pendingArray = QByteArray();
        m_exchangeEndedWithoutCycle = true;
    };
    connect(m_session, &MeasurementSession::shortReadComplete, this, endedWithoutCycle);
    connect(m_session, &MeasurementSession::measurementEndedWithoutData, this, endedWithoutCycle);
    // A failed transfer leaves a recording that is not a cycle, and no build follows to
    // restart: the run stops with the cycles stored so far.
    connect(m_session, &MeasurementSession::transferFailed, this, [this] {
        m_arrayPending = false;
        m_pendingArray = QByteArray();
        if (m_running)
            stopRun();
    });
}

int CycleRun::filledRecords() const
{
    int n = 0;
    for (const files::CycleRecord &record : m_records)
        n += record.data.isEmpty() ? 0 : 1;
    return n;
}

bool CycleRun::hasUnsavedCycles() const
{
    return filledRecords() > 0 || (m_hasStream && !m_streamSaved && !m_stream.isEmpty());
}

QByteArray CycleRun::unsavedCycleArrays() const
{
    return (m_hasStream && !m_streamSaved ? m_stream : QByteArray()) + recordArrays();
}

QByteArray CycleRun::recordArrays() const
{
    QByteArray out;
    for (const files::CycleRecord &record : m_records)
        out += record.data;
    return out;
}

void CycleRun::newStream()
{
    if (m_hasStream && !m_streamSaved && !m_stream.isEmpty())
        emit unsavedCyclesDropped(m_stream);
    m_stream = QByteArray();
    m_hasStream = true;
    m_streamSaved = false;
}

void CycleRun::newRecordList()
{
    if (const QByteArray unsaved = recordArrays(); !unsaved.isEmpty())
        emit unsavedCyclesDropped(unsaved);
    m_records.clear();
    m_records.push_back({ 0, {} });
}

void CycleRun::installHeadlessChartBuilder(std::function<void()> drawn)
{
    m_session->setChartBuilder([this, drawn = std::move(drawn)] {
        if (m_session->AcquisitionBuffer().isEmpty())
            return;
        m_session->hideProgressPanel();
        m_session->clearPercentLabels();
        m_session->setCycleNumber(m_session->CycleNumber() + 1);
        m_session->chartBuilt();
        if (drawn)
            drawn();
        cycleStep();
    });
}

void CycleRun::btCycleClick()
{
    m_session->setRecordedByCycle(true);
    if (m_running)
        stopRun();
    else
        startRun();
}

void CycleRun::startRun()
{
    m_session->setCycleNumber(0);
    m_storedCycles = 0;
    m_lowMemoryStopped = false;
    m_arrayPending = false;
    m_exchangeEndedWithoutCycle = false;
    // A store of the kind the box asks for starts afresh (an unsaved one of an earlier run
    // is given up); one of the other kind stays for saving.
    m_runHasStream = m_oneFile;
    m_runHasList = !m_oneFile;
    if (m_oneFile)
        newStream();
    else
        newRecordList();
    // One memory block, averaged over 16 samples in the controller: 3500 bytes a cycle.
    if (m_panel) {
        if (m_panel->value(Field::seSamples) == BlockSamples)
            m_panel->seSamplesChange();
        else
            m_panel->assign(Field::seSamples, BlockSamples);
    }
    m_button = { StopCaption(), ColourRed };
    emit cycleButtonChanged();
    if (m_panel)
        m_panel->setAveraging(true);
    m_running = true;
    m_session->setCycleRunGoing(true);
    emit runningChanged(true);
    m_session->startMeasurement();
}

void CycleRun::stopRun()
{
    m_button = { CycleCaption(), ColourBlack };
    emit cycleButtonChanged();
    m_running = false;
    m_session->setCycleRunGoing(false);
    emit runningChanged(false);
    // The measurement under way is received and drawn, but not stored, and nothing follows.
}

bool CycleRun::memoryLow() const
{
    const std::optional<qint64> available = availableMemoryBytes(m_meminfoPath);
    // Memory that cannot be measured does not stop a run.
    return available && *available <= LowMemoryBytes;
}

CycleRun::StepResult CycleRun::cycleStep()
{
    const bool array = m_arrayPending;
    const bool ended = m_exchangeEndedWithoutCycle;
    const QByteArray buffer = std::exchange(m_pendingArray, QByteArray());
    m_arrayPending = false;
    m_exchangeEndedWithoutCycle = false;
    if (!m_running)
        return StepResult::NotRunning;
    if (m_lowMemoryStopped || (!array && !ended))
        return StepResult::Skipped;
    if (memoryLow()) {
        m_lowMemoryStopped = true;
        emit lowMemory(lowMemoryMessage());
        return StepResult::LowMemory;
    }
    if (array)
        store(buffer);
    m_timCycle.start();
    return array ? StepResult::Stored : StepResult::Restarting;
}

void CycleRun::store(const QByteArray &buffer)
{
    if (m_oneFile) {
        // The box was checked during a run that began without a stream: a new one.
        if (!m_runHasStream) {
            newStream();
            m_runHasStream = true;
        }
        m_stream.append(buffer);
        m_streamSaved = false;
    } else {
        // The box was cleared during a run that began without a list: a new one.
        if (!m_runHasList || m_records.empty()) {
            newRecordList();
            m_runHasList = true;
        }
        // The head takes the whole array, however long: a cycle recorded without averaging
        // gets a longer record rather than losing samples.
        files::CycleRecord &head = m_records.back();
        head.data = buffer;
        const qint32 next = head.number + 1;
        m_records.push_back({ next, {} });
    }
    ++m_storedCycles;
    emit cycleStored(m_storedCycles, buffer.size());
}

void CycleRun::timCycleTimer()
{
    m_timCycle.stop();
    if (!m_running)
        return;
    if (m_startHandler)
        m_startHandler();
    else
        m_session->btStartClick();
}

files::CycleSaveResult CycleRun::saveRecords(const QString &lastSavedFile,
    const files::DataFileHeader &header, const QString &comment,
    const files::OutputOptions &options)
{
    files::CycleSaveResult result
        = files::saveCycleRecords(lastSavedFile, header, m_records, comment, options);
    if (!m_running)
        std::erase_if(m_records, [](const files::CycleRecord &r) { return r.data.isEmpty(); });
    return result;
}

bool CycleRun::saveStream(const QString &fileName, const files::DataFileHeader &header,
    const QString &comment, QString *error, QString *reason, const files::OutputOptions &options,
    files::SaveFailure *failure)
{
    if (!files::saveCycleStream(
            fileName, header, m_stream, comment, error, reason, options, failure))
        return false;
    m_streamSaved = true;
    return true;
}

} // namespace acquisition
