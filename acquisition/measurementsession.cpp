#include "acquisition/measurementsession.h"

#include "acquisition/sessionport.h"
#include "files/channels.h"

#include <QDateTime>
#include <algorithm>
#include <cstring>
#include <utility>

namespace acquisition {

double transferMs(int sessionBlocks)
{
    return double(sessionBlocks * 7000 / 8);
}

double MeasurementSession::reReadChannelIntervalUs()
{
    const quint64 bits = 0x3FF6C95555555555ull;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

MeasurementSession::MeasurementSession(QObject *parent)
    : QObject(parent)
{
    m_timRx.setSingleShot(true);
    m_timRx.setInterval(TimRxIntervalMs);
    m_timRx.setTimerType(Qt::PreciseTimer);
    connect(&m_timRx, &QTimer::timeout, this, &MeasurementSession::TimRxTimer);

    m_timSendCmd.setSingleShot(true);
    m_timSendCmd.setInterval(TimSendCmdIntervalMs);
    m_timSendCmd.setTimerType(Qt::PreciseTimer);
    connect(&m_timSendCmd, &QTimer::timeout, this, &MeasurementSession::timSendCmdTimer);

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
    // Nobody is told of an exchange that ends with the session.
    blockSignals(true);
    setPort(nullptr);
}

void MeasurementSession::setPort(SessionPort *port)
{
    // The exchange in progress belongs to the port that goes. A board that was recording
    // for it may still end that recording: the next measurement begins in step.
    if (m_state == SessionState::Measuring)
        m_cancelledMayEnd = true;
    if (m_state != SessionState::Idle)
        finish(ExchangeEnd::Interrupted, SessionFailure::None,
            recording(qsizetype(m_blocksStored) * DataBlockPayload, true));
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
    m_timRx.stop();
    m_timSendCmd.stop();
    m_resyncing = false;
    m_timResync.stop();
    m_deviceLost = false;
    m_probation = 0;
    m_lastFailure = SessionFailure::None;
    if (m_port) {
        m_port->onRxChar = [this](int count) { arrival(count); };
        m_port->onFailure = [this](const QString &message) { emit portFailure(message); };
        m_port->onDisconnected = [this] { portDisconnected(); };
    }
}

void MeasurementSession::setState(SessionState state)
{
    if (m_state == state)
        return;
    m_state = state;
    emit stateChanged(state);
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
                if (m_deviceLost && m_state != SessionState::Idle)
                    fail(SessionFailure::Disconnected);
            },
            Qt::QueuedConnection);
}

bool MeasurementSession::checkLateBytes()
{
    if (!m_probation || m_state != SessionState::Idle || !m_port)
        return true;
    if (m_rxFill == 0 && m_port->inputCount() <= 0)
        return true;
    const quint64 id = std::exchange(m_probation, 0);
    m_rxFill = 0;
    m_knownWaiting = 0;
    m_timRx.stop();
    m_port->purgeInput();
    emit provenOutOfStep(id);
    return false;
}

void MeasurementSession::beginCommand()
{
    checkLateBytes();
    // A recording given up while the board records may still end.
    if (m_state == SessionState::Measuring)
        m_cancelledMayEnd = true;
    if (m_state != SessionState::Idle)
        finish(ExchangeEnd::Interrupted, SessionFailure::None,
            recording(qsizetype(m_blocksStored) * DataBlockPayload, true));
    cancelReceive();
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
    if (m_state != SessionState::Idle) {
        fail(SessionFailure::Disconnected);
        return;
    }
    // Nothing is awaited; the next command sent fails at once.
    m_rxFill = 0;
    m_deviceLost = true;
}

bool MeasurementSession::cancelMeasurement()
{
    if (m_state != SessionState::Measuring)
        return false;
    cancelReceive();
    m_pendingReplies = 0;
    m_currentCommand = QByteArray(1, '\0');
    m_cancelledMayEnd = true;
    // The board may end the cancelled recording at any moment: what comes now answers it.
    m_probation = 0;
    finish(ExchangeEnd::Cancelled, SessionFailure::None, {});
    return true;
}

void MeasurementSession::giveUp(SessionFailure failure)
{
    if (m_state != SessionState::Idle)
        fail(failure);
}

void MeasurementSession::failOutOfStepWithPrevious()
{
    const bool previous = m_probation != 0;
    if (previous)
        emit provenOutOfStep(std::exchange(m_probation, 0));
    m_previousOutOfStep = previous;
    fail(SessionFailure::OutOfStep);
}

void MeasurementSession::fail(SessionFailure failure, bool keepLastBlock)
{
    // What can be told apart from what broke the exchange: a transfer's blocks up to the last
    // good one; the reply of a short read as it came; nothing of a measurement that had not
    // begun its transfer.
    qsizetype length = 0;
    if (m_state == SessionState::WaitingToTransfer || m_state == SessionState::Transferring) {
        const int good = std::max(0, m_blocksStored - (keepLastBlock ? 0 : 1));
        m_blocksStored = good;
        length = qsizetype(good) * DataBlockPayload;
    } else if (m_state == SessionState::ShortRead) {
        length = m_buffer.size();
    }
    m_timRx.stop();
    m_timSendCmd.stop();
    m_timSettle.stop();
    m_resyncing = false;
    m_timResync.stop();
    m_rxFill = 0;
    m_knownWaiting = 0;
    m_settling = false;
    m_pendingReplies = 0;
    m_currentCommand = QByteArray(1, '\0');
    m_lastFailure = failure;
    // What is still queued is of no use; a device that went away holds nothing.
    if (m_port && failure != SessionFailure::Disconnected && m_port->inputCount() > 0)
        m_port->purgeInput();
    finish(ExchangeEnd::Failed, failure, recording(length, true));
}

void MeasurementSession::finish(ExchangeEnd end, SessionFailure failure, files::Recording r)
{
    ExchangeOutcome outcome;
    outcome.exchange = m_exchange;
    outcome.exchangeId = m_exchangeId;
    outcome.end = end;
    outcome.failure = failure;
    outcome.blocksReceived = m_blocksStored;
    outcome.blocksExpected = m_blocksExpected;
    outcome.previousOutOfStep = std::exchange(m_previousOutOfStep, false);
    if (r.data.isEmpty())
        r = files::Recording();
    outcome.recording = std::move(r);
    setState(SessionState::Idle);
    emit exchangeEnded(outcome);
}

files::Recording MeasurementSession::recording(qsizetype length, bool faulty) const
{
    files::Recording r;
    r.header = m_recordingHeader;
    r.data = m_buffer.left(std::min(length, m_buffer.size()));
    r.header.DataLength = quint32(r.data.size());
    r.origin = m_origin;
    r.faulty = faulty;
    r.time = QDateTime::currentDateTime();
    r.exchangeId = m_exchangeId;
    return r;
}

void MeasurementSession::startExchange(ExchangeKind kind, const QByteArray &command,
    quint8 channels, bool averaging, int rangeIndex, double channelIntervalUs,
    const QString &xTitle, const QString &yTitle)
{
    m_exchange = kind;
    ++m_exchangeId;
    m_origin = kind == ExchangeKind::Measurement ? files::RecordingOrigin::Measurement
                                                 : files::RecordingOrigin::ShortRead;
    m_currentCommand = command;
    m_openingCommand = command;
    m_channelIntervalUs = channelIntervalUs;
    m_blocksStored = 0;
    m_blocksExpected = 0;
    m_buffer.resize(0);
    m_recordingHeader = files::DataFileHeader();
    m_recordingHeader.ChartChannelBits
        = files::chartChannelBits(channels & files::ThermocoupleBits, averaging);
    m_recordingHeader.ChannelIntervalUs = channelIntervalUs;
    m_recordingHeader.ValueScale = files::valueScaleForRange(rangeIndex);
    m_recordingHeader.ValueOffset = 0;
    m_recordingHeader.XTitle = xTitle;
    m_recordingHeader.YTitle = yTitle;
}

// ---- Start sequence

void MeasurementSession::startMeasurement(const MeasurementRequest &request)
{
    beginCommand();
    m_request = request;
    m_launchType = request.launchType;
    const SamplingPlan &plan = request.plan;
    m_pendingReplies = 1;
    // 1..8: a count outside the board's memory would expect no blocks, or too many.
    m_sessionBlocks = quint16(std::clamp(plan.sramBlocks, 1, int(MemoryBlocks)));
    const quint8 mask = maskWithRange(plan.channels, request.rangeIndex);
    m_measurementMs = plan.measurementMs();
    m_transferMs = transferMs(m_sessionBlocks);
    m_transferAveraged = plan.averaging;
    startExchange(ExchangeKind::Measurement,
        buildStartFrame(m_launchType, mask, plan.d1, plan.d2, m_sessionBlocks), plan.channels,
        plan.averaging, request.rangeIndex, plan.channelIntervalUs(), request.xTitle,
        request.yTitle);
    setState(SessionState::Measuring);
    if (std::exchange(m_cancelledMayEnd, false))
        beginResync();
    else
        BeginExchange();
}

void MeasurementSession::BeginExchange()
{
    send(m_currentCommand);
}

// ---- Short read, re-read, tuning

void MeasurementSession::startShortRead(const ReadRequest &request)
{
    beginCommand();
    // A reply comes at once; nothing can tell late bytes of the exchange before from it.
    m_probation = 0;
    m_launchType = request.launchType;
    const quint8 mask = maskWithRange(request.channels, request.rangeIndex);
    // 250 fresh samples, never averaged.
    startExchange(ExchangeKind::ShortRead, buildShortReadCommand(m_launchType, mask),
        request.channels, false, request.rangeIndex, request.channelIntervalUs, request.xTitle,
        request.yTitle);
    setState(SessionState::ShortRead);
    send(m_currentCommand);
}

void MeasurementSession::startReRead(const ReadRequest &request)
{
    beginCommand();
    m_probation = 0;
    m_pendingReplies = 1;
    m_sessionBlocks = MemoryBlocks;
    m_transferMs = 7000;
    // The first block of the memory as it was recorded, raw.
    startExchange(ExchangeKind::ReRead, buildReReadCommand(), request.channels, false,
        request.rangeIndex, reReadChannelIntervalUs(), request.xTitle, request.yTitle);
    setState(SessionState::ShortRead);
    BeginExchange();
}

void MeasurementSession::tune(bool begin)
{
    beginCommand();
    m_probation = 0;
    // The status bytes of the tuning are the replies now.
    m_currentCommand = buildTuneCommand(begin);
    m_openingCommand = m_currentCommand;
    send(m_currentCommand);
}

// ---- Back in step after a cancel

void MeasurementSession::beginResync()
{
    m_resyncing = true;
    m_resyncBytes = 0;
    m_timResync.start(ResyncTimeoutMs);
    // From the computer whatever the launch type: the board answers at once.
    send(buildShortReadCommand(0, maskWithRange(m_request.plan.channels, m_request.rangeIndex)));
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

} // namespace acquisition
