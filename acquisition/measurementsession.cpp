#include "acquisition/measurementsession.h"

#include "acquisition/samplingparameters.h"
#include "acquisition/sessionport.h"
#include "files/channels.h"
#include "signal/chartdecoder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <cstring>
#include <utility>

namespace acquisition {

namespace {

// Marked for the translation here, translated where they are shown.
constexpr char StatusMeasuring[]
    = QT_TRANSLATE_NOOP("acquisition::MeasurementSession", "ИЗМЕРЕНИЕ");
constexpr char StatusDrawing[]
    = QT_TRANSLATE_NOOP("acquisition::MeasurementSession", "ПОСТРОЕНИЕ ГРАФИКА");
constexpr char ChooseFCaption[] = QT_TRANSLATE_NOOP("acquisition::MeasurementSession", "Выбор F/T");
constexpr char CloseCaption[] = QT_TRANSLATE_NOOP("acquisition::MeasurementSession", "Закрыть");
constexpr char TuneCaption[] = QT_TRANSLATE_NOOP("acquisition::MeasurementSession", "Настройка ФД");
constexpr char TuneStopCaption[]
    = QT_TRANSLATE_NOOP("acquisition::MeasurementSession", "Завершить (ФД)");

} // namespace

QString sessionFailureText(SessionFailure failure)
{
    switch (failure) {
    case SessionFailure::OutOfStep:
        return MeasurementSession::tr("Сбой передачи: лишние байты от платы, запись неверна");
    case SessionFailure::Disconnected:
        return MeasurementSession::tr("Плата отключена");
    case SessionFailure::NoReply:
        return MeasurementSession::tr("Нет ответа от платы");
    case SessionFailure::None:
        break;
    }
    return {};
}

QString sessionFailureDescription(SessionFailure failure)
{
    switch (failure) {
    case SessionFailure::OutOfStep:
        return QStringLiteral("transfer out of step: the instrument sent more bytes than were "
                              "asked for");
    case SessionFailure::Disconnected:
        return QStringLiteral("board disconnected");
    case SessionFailure::NoReply:
        return QStringLiteral("no reply from the instrument");
    case SessionFailure::None:
        break;
    }
    return {};
}

QString timeText(int seconds)
{
    return QString::asprintf("%.2d:%.2d", seconds / 60, seconds % 60);
}

QString transferStatusText(double transferMs)
{
    return MeasurementSession::tr("ПЕРЕДАЧА МАССИВА, %1с").arg(roundHalfEven(transferMs / 1000));
}

double measurementMs(int samplePeriodCycles, int sramBlocks)
{
    const double p = samplePeriodCycles / ControllerClockMHz;
    return double(roundHalfEven(p * 240000 / 1000000 * 1000 * sramBlocks / 8));
}

double MeasurementSession::reReadChannelIntervalUs()
{
    const quint64 bits = 0x3FF6C95555555555ull;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

MeasurementSession::MeasurementSession(SessionControls *controls, QObject *parent)
    : QObject(parent)
    , m_controls(controls)
{
    m_timRx.setSingleShot(true);
    m_timRx.setInterval(TimRxIntervalMs);
    m_timRx.setTimerType(Qt::PreciseTimer);
    connect(&m_timRx, &QTimer::timeout, this, &MeasurementSession::TimRxTimer);

    m_timPrgssBar.setInterval(TimPrgssBarIntervalMs);
    connect(&m_timPrgssBar, &QTimer::timeout, this, &MeasurementSession::TimPrgssBarTimer);

    m_timSendCmd.setSingleShot(true);
    m_timSendCmd.setInterval(TimSendCmdIntervalMs);
    m_timSendCmd.setTimerType(Qt::PreciseTimer);
    connect(&m_timSendCmd, &QTimer::timeout, this, &MeasurementSession::timSendCmdTimer);

    m_timErrBlink.setInterval(TimErrBlinkIntervalMs);
    connect(&m_timErrBlink, &QTimer::timeout, this, &MeasurementSession::TimErrBlinkTimer);
    m_timErrBlink.start();

    m_timSettle.setSingleShot(true);
    m_timSettle.setInterval(SettleMs);
    m_timSettle.setTimerType(Qt::PreciseTimer);
    connect(&m_timSettle, &QTimer::timeout, this, &MeasurementSession::settleTimer);

    m_timResync.setSingleShot(true);
    m_timResync.setTimerType(Qt::PreciseTimer);
    connect(&m_timResync, &QTimer::timeout, this, &MeasurementSession::resyncTimer);

    // A full recording: 8 blocks of 60000 bytes.
    m_buffer.reserve(MemoryBlocks * DataBlocksPerMemoryBlock * DataBlockPayload);
}

MeasurementSession::~MeasurementSession()
{
    setPort(nullptr);
}

void MeasurementSession::setPort(SessionPort *port)
{
    if (m_port) {
        m_port->onRxChar = nullptr;
        m_port->onFailure = nullptr;
        m_port->onDisconnected = nullptr;
    }
    m_port = port;
    m_rxFill = 0;
    m_knownWaiting = 0;
    m_settling = false;
    m_timSettle.stop();
    m_resyncing = false;
    m_timResync.stop();
    m_deviceLost = false;
    m_lastFailure = SessionFailure::None;
    if (m_port) {
        m_port->onRxChar = [this](int count) { arrival(count); };
        m_port->onFailure = [this](const QString &message) { emit portFailure(message); };
        m_port->onDisconnected = [this] { portDisconnected(); };
    }
}

quint32 MeasurementSession::tick() const
{
    if (m_tickSource)
        return m_tickSource();
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void MeasurementSession::setState(SessionState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
}

void MeasurementSession::setStatusText(int panel, const QString &text)
{
    if (panel < 0 || panel >= int(m_status.size()))
        return;
    m_status[panel] = text;
    emit statusTextChanged(panel, text);
}

void MeasurementSession::setFileCaption(const QString &caption)
{
    m_fileCaption = caption;
    emit fileCaptionChanged(caption);
}

void MeasurementSession::setXTitle(const QString &title)
{
    m_xTitle = title;
    emit xTitleChanged(title);
}

void MeasurementSession::setFrequencyPanelVisible(bool visible)
{
    // The toggle reads "Закрыть" in red only while the panel is open, whichever way the panel
    // was closed (Escape on btStart and the re-read hide it too).
    if (!visible && !(m_chooseF == ButtonLook { tr(ChooseFCaption), ColourBlack })) {
        m_chooseF = { tr(ChooseFCaption), ColourBlack };
        emit chooseFButtonChanged();
    }
    if (m_frequencyPanelVisible == visible)
        return;
    m_frequencyPanelVisible = visible;
    emit frequencyPanelVisibleChanged(visible);
}

void MeasurementSession::send(const QByteArray &command)
{
    // A closed port accepts nothing; the exchange then waits for a reply that never comes.
    if (m_port)
        m_port->writeString(command);
    emit commandSent(command);
    // The device went away between exchanges: nothing will answer. The failure is reported
    // once the handler that sent the command has returned.
    if (m_deviceLost)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_deviceLost && m_state != SessionState::Idle
                    && m_state != SessionState::Drawing)
                    fail(SessionFailure::Disconnected);
            },
            Qt::QueuedConnection);
}

// Anything still queued or half assembled belongs to an exchange that a new command
// replaces: it is dropped so that it cannot be taken for the new command's reply. A
// transfer command still waiting for its delayed send is dropped with it.
void MeasurementSession::cancelReceive()
{
    m_resyncing = false;
    m_timResync.stop();
    m_timRx.stop();
    m_timSendCmd.stop();
    m_timSettle.stop();
    m_rxFill = 0;
    m_knownWaiting = 0;
    m_settling = false;
    m_lastFailure = SessionFailure::None;
    if (m_port && m_port->inputCount() > 0)
        m_port->purgeInput();
}

void MeasurementSession::portDisconnected()
{
    switch (m_state) {
    case SessionState::Measuring:
    case SessionState::ShortRead:
    case SessionState::WaitingToTransfer:
    case SessionState::Transferring:
        fail(SessionFailure::Disconnected);
        break;
    case SessionState::Idle:
    case SessionState::Drawing:
        // Nothing is awaited; the next command sent fails at once.
        m_rxFill = 0;
        m_deviceLost = true;
        break;
    }
}

bool MeasurementSession::cancelMeasurement()
{
    if (m_state != SessionState::Measuring)
        return false;
    cancelReceive();
    m_pendingReplies = 0;
    m_currentCommand = QByteArray(1, '\0');
    m_timPrgssBar.stop();
    m_progress.visible = false;
    m_progress.lbPercent.clear();
    m_progress.lbRestPercent.clear();
    emitProgress();
    setStatusText(0, tr("Измерение отменено"));
    m_cancelledMayEnd = true;
    setState(SessionState::Idle);
    return true;
}

void MeasurementSession::giveUp()
{
    if (m_state != SessionState::Idle && m_state != SessionState::Drawing)
        fail(SessionFailure::NoReply);
}

void MeasurementSession::fail(SessionFailure failure)
{
    // The buffer belongs to the failed exchange once a transfer has emptied it, or when a
    // short-read reply has just replaced it; a measurement still waiting for its end byte has
    // not touched the previous recording.
    const bool shortRead = m_state == SessionState::ShortRead;
    const bool bufferOfThisExchange = m_state == SessionState::WaitingToTransfer
        || m_state == SessionState::Transferring
        || (shortRead && (m_settling || failure == SessionFailure::OutOfStep));
    m_timRx.stop();
    m_timSendCmd.stop();
    m_timSettle.stop();
    m_rxFill = 0;
    m_knownWaiting = 0;
    m_settling = false;
    m_pendingReplies = 0;
    m_currentCommand = QByteArray(1, '\0');
    if (bufferOfThisExchange)
        m_recordingFaulty = true;
    m_lastFailure = failure;
    // What is still queued is of no use; a device that went away holds nothing.
    if (m_port && failure != SessionFailure::Disconnected && m_port->inputCount() > 0)
        m_port->purgeInput();
    m_timPrgssBar.stop();
    m_progress.visible = false;
    m_progress.lbPercent.clear();
    m_progress.lbRestPercent.clear();
    emitProgress();
    const QString text = sessionFailureText(failure);
    setStatusText(0, text);
    const files::RecordingOrigin origin
        = shortRead ? files::RecordingOrigin::ShortRead : files::RecordingOrigin::Measurement;
    files::Recording received = recording(origin, true);
    if (!bufferOfThisExchange)
        received.data.clear();
    setState(SessionState::Idle);
    emit transferFailed(failure, text, received);
}

files::Recording MeasurementSession::recording(files::RecordingOrigin origin, bool faulty) const
{
    files::Recording r;
    r.header = m_recordingHeader;
    r.header.ChannelIntervalUs = m_channelIntervalUs;
    r.header.DataLength = quint32(m_buffer.size());
    r.data = m_buffer;
    r.origin = origin;
    r.faulty = faulty;
    r.time = QDateTime::currentDateTime();
    return r;
}

void MeasurementSession::noteRecordingHeader(quint8 channels, bool averaging)
{
    // As a chart build with the display of a first run writes it (temperature against time
    // in microseconds); a front end that draws the recording sets the display values again.
    m_recordingHeader = files::DataFileHeader();
    m_recordingHeader.ChartChannelBits = files::chartChannelBits(channels, averaging);
    m_recordingHeader.ValueScale = files::valueScaleForRange(m_controls->rangeIndex());
    m_recordingHeader.ValueOffset = 0;
    m_recordingHeader.XTitle = QString::fromUtf8(sig::MicrosecondsTitle);
    m_recordingHeader.YTitle = QString::fromUtf8(sig::TemperatureTitle);
}

// ---- Start sequence

void MeasurementSession::btStartClick()
{
    m_recordedByCycle = false;
    m_chooseF = { tr(ChooseFCaption), ColourBlack };
    emit chooseFButtonChanged();
    startMeasurement();
}

void MeasurementSession::startMeasurement()
{
    cancelReceive();
    m_pendingReplies = 1;
    // 1..8: a count outside the board's memory would expect no blocks, or too many.
    m_sessionBlocks = quint16(std::clamp(m_controls->SRAMblocks(), 1, int(MemoryBlocks)));
    const quint8 mask = maskWithRange(m_controls->ChannelMask(), m_controls->rangeIndex());
    const int d1 = m_controls->d1();
    const int d2 = m_controls->d2();
    const int cycles = 3 * (d1 + 1) * d2 + 55;
    const double p = cycles / ControllerClockMHz;
    m_measurementMs = measurementMs(cycles, m_sessionBlocks);
    m_channelIntervalUs = m_controls->ChannelCount() * p;

    if (m_measurementMs > 2000)
        startProgress(int(m_measurementMs), m_measurementMs, true);

    setFrequencyPanelVisible(false);
    m_currentCommand = buildStartFrame(m_launchType, mask, d1, d2, m_sessionBlocks);
    m_openingCommand = m_currentCommand;
    m_transferMs = double(m_sessionBlocks * 7000 / 8);
    m_transferStatusText = transferStatusText(m_transferMs);
    m_blocksStored = 0;
    m_blocksExpected = 0;
    noteRecordingHeader(mask & files::ThermocoupleBits, m_controls->averaging());
    m_namesCycle = m_cycleRunGoing;
    setState(SessionState::Measuring);
    if (std::exchange(m_cancelledMayEnd, false))
        beginResync();
    else
        BeginExchange();
}

void MeasurementSession::startProgress(int maximum, double totalMs, bool show)
{
    m_progress.maximum = maximum;
    m_progress.position = 0;
    // A panel already shown stays shown.
    m_progress.visible = m_progress.visible || show;
    m_timPrgssBar.start();
    m_clock.total = int(roundHalfEven(totalMs / 1000));
    m_clock.elapsed = 0;
    m_clock.remaining = m_clock.total;
    m_clock.percent = 0;
    m_progress.lElapsed = timeText(m_clock.elapsed);
    m_progress.lRest = timeText(m_clock.remaining);
    m_progress.lAll = timeText(m_clock.total);
    emitProgress();
}

void MeasurementSession::BeginExchange()
{
    m_exchangeStartTick = tick();
    setXTitle(QString::fromUtf8(sig::MicrosecondsTitle));
    m_progress.lbPercent.clear();
    m_progress.lbRestPercent.clear();
    m_clock.startTick = tick();
    emitProgress();
    setStatusText(0, tr(StatusMeasuring));
    setStatusText(2, QString());
    send(m_currentCommand);
}

void MeasurementSession::btStartKeyPress(int key)
{
    if (key == 13)
        btStartClick();
    else if (key == 27)
        setFrequencyPanelVisible(false);
}

// ---- Short read, re-read, tuning, launch type, panel toggle

void MeasurementSession::bt500Click()
{
    m_recordedByCycle = false;
    m_chooseF = { tr(ChooseFCaption), ColourBlack };
    emit chooseFButtonChanged();
    setFrequencyPanelVisible(false);
    const quint8 mask = maskWithRange(m_controls->checkedChannels(), m_controls->rangeIndex());
    m_currentCommand = buildShortReadCommand(m_launchType, mask);
    m_openingCommand = m_currentCommand;
    cancelReceive();
    // 250 fresh samples, never averaged.
    noteRecordingHeader(mask & files::ThermocoupleBits, false);
    setState(SessionState::ShortRead);
    send(m_currentCommand);
}

void MeasurementSession::ctlBarDblClick()
{
    setFrequencyPanelVisible(false);
    m_pendingReplies = 1;
    m_sessionBlocks = MemoryBlocks;
    m_channelIntervalUs = reReadChannelIntervalUs();
    emit seTimeChangeRequested();
    m_transferStatusText = transferStatusText(7000);
    m_transferMs = 7000;
    m_currentCommand = buildReReadCommand();
    m_openingCommand = m_currentCommand;
    cancelReceive();
    // The first block of the memory as it was recorded, raw.
    noteRecordingHeader(m_controls->ChannelMask() & files::ThermocoupleBits, false);
    setState(SessionState::ShortRead);
    BeginExchange();
}

void MeasurementSession::btTuneClick()
{
    const bool begin = !m_tuning;
    m_tuning = begin;
    m_tune = begin ? ButtonLook { tr(TuneStopCaption), ColourRed }
                   : ButtonLook { tr(TuneCaption), ColourBlack };
    emit tuneButtonChanged();
    // The status bytes of the tuning are the replies now.
    m_settling = false;
    m_timSettle.stop();
    m_currentCommand = buildTuneCommand(begin);
    m_openingCommand = m_currentCommand;
    send(m_currentCommand);
}

void MeasurementSession::btExtrnClick()
{
    m_launchType = toggledLaunchType(m_launchType);
    m_launchPicture = launchPicture(m_launchType);
    m_launchHint = launchHint(m_launchType);
    emit launchTypeChanged(m_launchType);
}

void MeasurementSession::btChooseFClick()
{
    if (m_frequencyPanelVisible) {
        setFrequencyPanelVisible(false);
        m_chooseF = { tr(ChooseFCaption), ColourBlack };
        emit chooseFButtonChanged();
    } else {
        setFrequencyPanelVisible(true);
        m_chooseF = { tr(CloseCaption), ColourRed };
        emit chooseFButtonChanged();
        emit frequencyPanelOpened();
    }
}

// ---- Back in step after a cancel

void MeasurementSession::beginResync()
{
    m_resyncing = true;
    m_resyncBytes = 0;
    setStatusText(0, tr(StatusMeasuring));
    m_timResync.start(ResyncTimeoutMs);
    // From the computer whatever the launch type: the board answers at once.
    send(buildShortReadCommand(
        0, maskWithRange(m_controls->ChannelMask(), m_controls->rangeIndex())));
}

void MeasurementSession::drainResync()
{
    if (!m_port)
        return;
    std::array<char, 4096> scratch;
    int got = 0;
    while ((got = m_port->readBytes(scratch.data(), int(scratch.size()))) > 0)
        m_resyncBytes += got;
    // The block is in: wait for the line to stay quiet (a late end byte may come with it).
    if (m_resyncBytes >= DataBlockBytes)
        m_timResync.start(SettleMs);
}

void MeasurementSession::resyncTimer()
{
    if (!m_resyncing)
        return;
    if (m_port && m_port->inputCount() > 0) {
        drainResync();
        if (m_resyncBytes >= DataBlockBytes)
            return; // the quiet is waited for again
    }
    // Quiet after the block, or the board answered no whole block in time: nothing more is
    // waited for.
    m_resyncing = false;
    if (m_port)
        m_port->purgeInput();
    BeginExchange();
}

// ---- Progress and blink

void MeasurementSession::TimPrgssBarTimer()
{
    const quint32 now = tick();
    int elapsed = int((now - m_clock.startTick) / 1000);
    const int total = m_clock.total;
    // A late timer tick must not show more than the whole or a negative remainder.
    if (elapsed > total)
        elapsed = total;
    m_clock.elapsed = elapsed;
    m_clock.remaining = total - elapsed;
    m_clock.percent = total > 0 ? quint16(qint64(elapsed) * 100 / total) : quint16(100);
    m_progress.lbPercent = QStringLiteral("%1%").arg(m_clock.percent);
    m_progress.lbRestPercent = QStringLiteral("%1%").arg(100 - m_clock.percent);
    m_progress.lElapsed = timeText(m_clock.elapsed);
    m_progress.lRest = timeText(m_clock.remaining);
    m_progress.position
        = total > 0 ? int(qint64(m_progress.maximum) * elapsed / total) : m_progress.maximum;
    if (m_progress.position >= m_progress.maximum) {
        m_progress.visible = false;
        m_timPrgssBar.stop();
    }
    emitProgress();
}

void MeasurementSession::TimErrBlinkTimer()
{
    m_errorColour = m_errorColour == ColourRed ? ColourYellow : ColourRed;
    emit errorLabelColourChanged(m_errorColour);
}

// ---- Chart building

void MeasurementSession::setChartBuilder(std::function<void()> builder)
{
    m_chartBuilder = std::move(builder);
}

void MeasurementSession::buildChart()
{
    if (m_chartBuilder) {
        m_chartBuilder();
        return;
    }
    if (m_buffer.isEmpty())
        return;
    hideProgressPanel();
    clearPercentLabels();
    ++m_cycleNumber;
    chartBuilt();
}

void MeasurementSession::hideProgressPanel()
{
    if (!m_progress.visible)
        return;
    m_progress.visible = false;
    emitProgress();
}

void MeasurementSession::clearPercentLabels()
{
    m_progress.lbPercent.clear();
    m_progress.lbRestPercent.clear();
    emitProgress();
}

void MeasurementSession::chartBuilt()
{
    m_currentCommand = QByteArray(1, '\0');
    setStatusText(0, tr(StatusDrawing));
    setState(SessionState::Idle);
}

} // namespace acquisition
