#include "acquisition/measurementsession.h"
#include "acquisition/sessionport.h"

#include <algorithm>

// The session's receiving side: replies and blocks taken from the port, the quiet time that
// completes an exchange, the delayed send of the transfer command, and the bytes that answer
// no request.
namespace acquisition {

MeasurementSession::ReplyMode MeasurementSession::replyMode() const
{
    switch (m_state) {
    case SessionState::ShortRead:
        return ReplyMode::ShortRead;
    case SessionState::WaitingToTransfer:
    case SessionState::Transferring:
        return ReplyMode::Block;
    case SessionState::Idle:
    case SessionState::Measuring:
        break;
    }
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
    if (count <= 0)
        return;
    if (m_settling) {
        // The reply is in and nothing has been asked for since: the last block was not what
        // it seemed.
        fail(SessionFailure::OutOfStep, false);
        return;
    }
    if (m_state == SessionState::WaitingToTransfer) {
        // The board sends nothing between its end byte and the transfer command.
        failOutOfStepWithPrevious();
        return;
    }
    if (m_state == SessionState::Idle && m_probation) {
        checkLateBytes();
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
            // Bytes that came in with or right behind the reply answer no request.
            if (m_port->inputCount() > 0)
                fail(SessionFailure::OutOfStep, false);
            return;
        }
        if (m_state == SessionState::WaitingToTransfer) {
            if (m_port->inputCount() > 0)
                failOutOfStepWithPrevious();
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
                // not stored (a stray byte may lie inside it); a short read's reply is kept
                // for a look as it came.
                if (mode == ReplyMode::ShortRead) {
                    rearrangeOddBytes(m_rx.data(), DataBlockBytes);
                    m_buffer = QByteArray(m_rx.data(), DataBlockBytes - 1);
                }
                fail(SessionFailure::OutOfStep);
                return;
            }
            handleReply(m_rx.data(), DataBlockBytes);
            continue;
        }
        if (mode == ReplyMode::ShortRead && m_rxFill > 0) {
            // A reply shorter than a block is taken once the line is quiet.
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
    if (count == 1 && (first == StatusTuning || first == StatusTuned))
        emit statusByte(first);

    switch (m_state) {
    case SessionState::Idle:
        if (m_probation) {
            emit provenOutOfStep(std::exchange(m_probation, 0));
            return;
        }
        // A reply while Idle answers nothing.
        --m_pendingReplies;
        return;
    case SessionState::ShortRead:
        handleShortReadReply(bytes, count);
        return;
    case SessionState::Measuring:
        handleMeasuringReply(bytes, count);
        return;
    case SessionState::WaitingToTransfer:
        failOutOfStepWithPrevious();
        return;
    case SessionState::Transferring:
        break;
    }
    storeBlock(bytes, count);
    --m_pendingReplies;
    if (m_pendingReplies != 0)
        send(buildNextBlockRequest(m_transferAveraged));
    else
        startSettling();
}

void MeasurementSession::handleMeasuringReply(const char *bytes, int count)
{
    --m_pendingReplies;
    if (count == 1 && isEndOfMeasurement(quint8(bytes[0]))) {
        transferStart();
        return;
    }
    // Anything else ends the wait without a recording. More than one byte, or any byte while
    // the exchange before is not yet confirmed, answers no request: out of step.
    if (count > 1 || m_probation) {
        failOutOfStepWithPrevious();
        return;
    }
    fail(SessionFailure::NoData);
}

void MeasurementSession::handleShortReadReply(char *bytes, int count)
{
    rearrangeOddBytes(bytes, count);
    m_buffer = QByteArray(bytes, count - 1);
    if (count >= DataBlockBytes) {
        // A whole block may still have a byte to come.
        startSettling();
        return;
    }
    // A shorter reply was taken only once the line had been quiet for the settle time.
    fail(count == 1 ? SessionFailure::NoData : SessionFailure::Incomplete);
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
        fail(SessionFailure::OutOfStep, false);
        return;
    }
    complete();
}

void MeasurementSession::complete()
{
    m_settling = false;
    m_timSettle.stop();
    m_currentCommand = QByteArray(1, '\0');
    // Until the next measurement's transfer command, a byte proves this exchange wrong.
    m_probation = m_exchangeId;
    finish(ExchangeEnd::Completed, SessionFailure::None, recording(m_buffer.size(), false));
}

void MeasurementSession::storeBlock(char *bytes, int count)
{
    rearrangeOddBytes(bytes, count);
    const int payload = std::min(count, DataBlockPayload);
    m_buffer.append(bytes, payload);
    ++m_blocksStored;
    emit blockStored(m_blocksStored, m_blocksExpected, QByteArray(bytes, payload));
}

void MeasurementSession::transferStart()
{
    m_pendingReplies = quint16(expectedDataBlocks(m_sessionBlocks, m_transferAveraged));
    m_blocksExpected = m_pendingReplies;
    m_blocksStored = 0;
    // The block code names the blocks this session recorded.
    m_currentCommand
        = buildTransferCommand(m_transferAveraged, m_openingCommand, m_sessionBlocks);
    m_buffer.resize(0);
    m_rxFill = 0;
    m_timRx.stop();
    // The end byte is the whole reply: bytes that came with it answer nothing.
    if (m_port && m_port->inputCount() > 0) {
        setState(SessionState::WaitingToTransfer);
        failOutOfStepWithPrevious();
        return;
    }
    if (m_port)
        m_port->purgeAll();
    m_timSendCmd.start();
    setState(SessionState::WaitingToTransfer);
}

void MeasurementSession::timSendCmdTimer()
{
    m_timSendCmd.stop();
    if (m_state != SessionState::WaitingToTransfer)
        return;
    // Nothing can be the reply to a command not yet sent.
    if (m_port && m_port->inputCount() > 0) {
        failOutOfStepWithPrevious();
        return;
    }
    m_rxFill = 0;
    m_knownWaiting = 0;
    // Nothing came between the exchange before and this command: it stands.
    m_probation = 0;
    setState(SessionState::Transferring);
    send(m_currentCommand);
}

} // namespace acquisition
