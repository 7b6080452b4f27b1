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

void ReplyWatch::giveUp(const QString &reason)
{
    emit noReply(reason);
    m_session->giveUp();
}

void ReplyWatch::check()
{
    const bool photodiode = m_session->LaunchType() == 1;
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
                giveUp(QStringLiteral("no reply from the instrument"));
            return;
        }
        if (elapsed <= recording)
            return;
        announce();
        if (m_triggerTimeoutMs && elapsed > recording + *m_triggerTimeoutMs)
            giveUp(QStringLiteral("no photodiode trigger: no recording %1 s after the "
                                  "recording time")
                       .arg(*m_triggerTimeoutMs / 1000.0));
        return;
    }
    case SessionState::ShortRead:
        if (!photodiode) {
            if (elapsed > ReplyGraceMs)
                giveUp(QStringLiteral("no reply from the instrument"));
            return;
        }
        announce();
        if (m_triggerTimeoutMs && elapsed > *m_triggerTimeoutMs)
            giveUp(QStringLiteral("no photodiode trigger within %1 s")
                       .arg(*m_triggerTimeoutMs / 1000.0));
        return;
    case SessionState::WaitingToTransfer:
    case SessionState::Transferring:
        if (m_sinceBlock.elapsed() > ReplyGraceMs)
            giveUp(QStringLiteral("no reply from the instrument"));
        return;
    case SessionState::Idle:
    case SessionState::Drawing:
        return;
    }
}

} // namespace acquisition
