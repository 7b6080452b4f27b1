#include "acquisition/replywatch.h"

#include "acquisition/measurementsession.h"

namespace acquisition {

ReplyWatch::ReplyWatch(MeasurementSession *session, QObject *parent)
    : QObject(parent)
    , m_session(session)
{
    m_timer.setInterval(CheckIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ReplyWatch::check);
    connect(m_session, &MeasurementSession::stateChanged, this, [this](SessionState state) {
        // A new phase: the recording wait, the wait for the transfer, a short read.
        if (state == SessionState::Measuring || state == SessionState::ShortRead
            || state == SessionState::WaitingToTransfer) {
            m_phase.restart();
            m_sinceBlock.restart();
            if (state != SessionState::WaitingToTransfer)
                m_announcedTrigger = false;
        }
    });
    connect(m_session, &MeasurementSession::blockStored, this, [this] { m_sinceBlock.restart(); });
}

void ReplyWatch::start()
{
    m_phase.start();
    m_sinceBlock.start();
    m_announcedTrigger = false;
    m_timer.start();
}

void ReplyWatch::stop()
{
    m_timer.stop();
}

void ReplyWatch::giveUp(SessionFailure failure)
{
    m_session->giveUp(failure);
}

void ReplyWatch::check()
{
    const bool photodiode = m_session->launchType() == 1;
    const qint64 elapsed = m_phase.elapsed();
    const auto announce = [this] {
        if (!m_announcedTrigger) {
            m_announcedTrigger = true;
            emit waitingForTrigger();
        }
    };
    switch (m_session->state()) {
    case SessionState::Measuring: {
        const qint64 recording = qint64(m_session->MeasurementMs());
        if (!photodiode) {
            if (elapsed > recording + ReplyGraceMs)
                giveUp(SessionFailure::NoReply);
            return;
        }
        if (elapsed <= recording)
            return;
        announce();
        if (m_triggerTimeoutMs && elapsed > recording + *m_triggerTimeoutMs)
            giveUp(SessionFailure::NoTrigger);
        return;
    }
    case SessionState::ShortRead:
        if (!photodiode) {
            if (elapsed > ReplyGraceMs)
                giveUp(SessionFailure::NoReply);
            return;
        }
        announce();
        if (m_triggerTimeoutMs && elapsed > *m_triggerTimeoutMs)
            giveUp(SessionFailure::NoTrigger);
        return;
    case SessionState::WaitingToTransfer:
    case SessionState::Transferring:
        if (m_sinceBlock.elapsed() > ReplyGraceMs)
            giveUp(SessionFailure::NoReply);
        return;
    case SessionState::Idle:
        return;
    }
}

} // namespace acquisition
