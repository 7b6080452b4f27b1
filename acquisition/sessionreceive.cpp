#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "acquisition/sessionport.h"
#include "files/channels.h"
#include "signal/chartdecoder.h"

#include <QCoreApplication>
#include <algorithm>

// The session's receiving side: replies and blocks taken from the port, the quiet time
// that completes a transfer, and the delayed send of each block request.
namespace acquisition {

namespace {

constexpr char StatusTuningText[]
    = QT_TRANSLATE_NOOP("acquisition::MeasurementSession", "Подстройка усилителя фототока");

} // namespace

MeasurementSession::ReplyMode MeasurementSession::replyMode() const
{
    if (isShortReadOpening(m_openingCommand))
        return ReplyMode::ShortRead;
    if (isTransferCommand(m_currentCommand))
        return ReplyMode::Block;
    return ReplyMode::Single;
}

void MeasurementSession::arrival(int count)
{
    if (m_resyncing) {
        drainResync();
        return;
    }
    m_lastArrival = std::chrono::steady_clock::now();
    m_knownWaiting = std::max(0, count);
    if (m_settling && count > 0) {
        // The last block is in and nothing has been asked for since.
        fail(SessionFailure::OutOfStep);
        return;
    }
    if (replyMode() == ReplyMode::Single) {
        // Enabling a running timer does not restart its interval.
        if (!m_timRx.isActive())
            m_timRx.start();
        return;
    }
    takeReplies(false);
}

void MeasurementSession::TimRxTimer()
{
    // What is waiting now is unknown; the read tells.
    m_knownWaiting = 0;
    takeReplies(true);
}

void MeasurementSession::takeReplies(bool timerFired)
{
    m_timRx.stop();
    if (!m_port)
        return;
    // Each pass takes one reply; the loop ends when no whole reply is left. The bound only
    // guards against a port that keeps reporting bytes it never delivers.
    for (int pass = 0; pass < 4096; ++pass) {
        if (m_settling) {
            // Bytes that came in with or right behind the last block answer no request.
            if (m_port->inputCount() > 0)
                fail(SessionFailure::OutOfStep);
            return;
        }
        const ReplyMode mode = replyMode();
        if (mode == ReplyMode::Single) {
            if (m_rxFill == 0) {
                if (!timerFired) {
                    if (m_port->inputCount() > 0)
                        m_timRx.start();
                    return;
                }
                const int n = m_port->readBytes(m_rx.data(), ReceiveBufferBytes);
                if (n <= 0)
                    return;
                m_rxFill = n;
            }
            const int n = m_rxFill;
            m_rxFill = 0;
            handleReply(m_rx.data(), n);
            continue;
        }

        // Bytes that come before the transfer command has gone out answer nothing: they stay
        // queued and the send purges them, so that they are never stored as a data block.
        if (mode == ReplyMode::Block && m_state == SessionState::WaitingToTransfer)
            return;

        // A data block or a short-read reply: put the 501 bytes together.
        // A read of a port with nothing waiting returns 0 at once.
        if (m_rxFill < DataBlockBytes) {
            const int got = m_port->readBytes(m_rx.data() + m_rxFill, DataBlockBytes - m_rxFill);
            if (got > 0) {
                m_rxFill += got;
                m_knownWaiting = std::max(0, m_knownWaiting - got);
            }
        }
        if (m_rxFill >= DataBlockBytes) {
            m_rxFill = 0;
            if (m_knownWaiting > 0) {
                // More than the one block the request asked for: out of step. The block is
                // kept with the rest of what was received, and nothing more is asked for.
                if (mode == ReplyMode::Block) {
                    storeBlock(m_rx.data(), DataBlockBytes);
                } else {
                    m_buffer.resize(0);
                    rearrangeOddBytes(m_rx.data(), DataBlockBytes);
                    m_buffer.append(m_rx.data(), DataBlockBytes - 1);
                }
                fail(SessionFailure::OutOfStep);
                return;
            }
            handleReply(m_rx.data(), DataBlockBytes);
            continue;
        }
        if (mode == ReplyMode::ShortRead && m_rxFill > 0) {
            // A short-read reply may be shorter than a block: take it once the line is quiet.
            const auto quiet = std::chrono::steady_clock::now() - m_lastArrival;
            if (quiet >= std::chrono::milliseconds(SettleMs)) {
                const int n = m_rxFill;
                m_rxFill = 0;
                handleReply(m_rx.data(), n);
                continue;
            }
            m_timRx.start();
        }
        return;
    }
}

void MeasurementSession::handleReply(char *bytes, int count)
{
    const quint8 first = quint8(bytes[0]);
    if (count == 1) {
        if (first == StatusTuning)
            setStatusText(0, tr(StatusTuningText));
        else if (first == StatusTuned)
            setStatusText(0, QString());
    }

    if (isShortReadOpening(m_openingCommand)) {
        m_buffer.resize(0);
        rearrangeOddBytes(bytes, count);
        m_buffer.append(bytes, count - 1);
        m_recordingFaulty = false;
        // A whole block may still have a byte to come; a shorter reply was taken only once
        // the line had been quiet for the settle time already.
        setState(SessionState::ShortRead);
        if (count >= DataBlockBytes)
            startSettling();
        else
            complete();
        return;
    }

    const bool transfer = isTransferCommand(m_currentCommand);
    if (transfer)
        storeBlock(bytes, count);

    --m_pendingReplies;
    if (m_pendingReplies != 0) {
        if (transfer)
            send(buildNextBlockRequest(m_controls->averaging()));
        return;
    }
    if (!transfer && isEndOfMeasurement(first)) {
        transferStart();
        return;
    }
    if (transfer) {
        startSettling();
        return;
    }
    if (m_state == SessionState::Measuring)
        emit measurementEndedWithoutData();
    setState(SessionState::Drawing);
    buildChart();
    if (m_state == SessionState::Drawing)
        setState(SessionState::Idle);
}

void MeasurementSession::startSettling()
{
    m_settling = true;
    m_timSettle.start();
}

void MeasurementSession::settleTimer()
{
    if (!m_settling)
        return;
    // Bytes the port holds but has not announced yet count as much as announced ones.
    if (m_port && m_port->inputCount() > 0) {
        fail(SessionFailure::OutOfStep);
        return;
    }
    complete();
}

void MeasurementSession::complete()
{
    m_settling = false;
    m_timSettle.stop();
    const bool shortRead = isShortReadOpening(m_openingCommand);
    const files::Recording r = recording(
        shortRead ? files::RecordingOrigin::ShortRead : files::RecordingOrigin::Measurement, false);
    setState(SessionState::Drawing);
    if (shortRead)
        emit shortReadComplete(r);
    else
        emit transferComplete(r);
    buildChart();
    if (m_state == SessionState::Drawing)
        setState(SessionState::Idle);
}

void MeasurementSession::storeBlock(char *bytes, int count)
{
    rearrangeOddBytes(bytes, count);
    m_buffer.append(bytes, std::min(count, DataBlockPayload));
    ++m_blocksStored;
    emit blockStored(m_blocksStored, m_blocksExpected);
}

void MeasurementSession::transferStart()
{
    const bool averaging = m_controls->averaging();
    m_pendingReplies = quint16(expectedDataBlocks(m_sessionBlocks, averaging));
    m_blocksExpected = m_pendingReplies;
    m_blocksStored = 0;
    // The block code names the blocks this session recorded.
    m_currentCommand = buildTransferCommand(averaging, m_openingCommand, m_sessionBlocks);
    m_recordingHeader.ChartChannelBits
        = files::chartChannelBits(m_recordingHeader.ChartChannelBits, averaging);
    setXTitle(sig::timeTitle(m_controls->timeUnitName()));
    m_progress.lbPercent.clear();
    m_progress.lbRestPercent.clear();
    m_buffer.resize(0);
    m_recordingFaulty = false;
    if (m_port)
        m_port->purgeAll();
    m_rxFill = 0;
    m_timRx.stop();
    setStatusText(0, m_transferStatusText);

    m_clock.startTick = tick();
    startProgress(int(roundHalfEven(m_transferMs)), m_transferMs, !averaging);

    setFileCaption(tr("Комментарий"));
    m_timSendCmd.start();
    if (m_namesCycle)
        setStatusText(2, tr("Цикл №%1").arg(m_cycleNumber));
    setState(SessionState::WaitingToTransfer);
}

void MeasurementSession::timSendCmdTimer()
{
    m_timSendCmd.stop();
    if (isTransferCommand(m_currentCommand)) {
        // Nothing can be the reply to a command not yet sent.
        m_rxFill = 0;
        m_knownWaiting = 0;
        if (m_port && m_port->inputCount() > 0)
            m_port->purgeInput();
        setState(SessionState::Transferring);
    }
    send(m_currentCommand);
}

} // namespace acquisition
