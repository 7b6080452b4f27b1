#pragma once

#include "acquisition/measurementsession.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <optional>

namespace acquisition {

class MeasurementSession;

// How long a silent instrument is waited for beyond what its exchange is expected to take,
// before a front end without a user gives the exchange up: the recording time of a launch
// from the computer plus this, the pause between two blocks of a transfer, the wait for a
// short-read reply. The window has a user to decide and waits without limit.
inline constexpr int ReplyGraceMs = 10000;

// Watches a session for an instrument that has fallen silent, by the one rule above. With a
// launch on the photodiode signal the board records only once the trigger has come, which
// may take any time: the wait for it is bounded only by the trigger time-out, when one is
// given.
class ReplyWatch : public QObject
{
    Q_OBJECT

public:
    // How often the session's state is looked at.
    static constexpr int CheckIntervalMs = 100;

    explicit ReplyWatch(MeasurementSession *session, QObject *parent = nullptr);

    // The longest wait for the photodiode trigger once the recording time has passed (for a
    // short read: after the request); none waits without limit.
    void setTriggerTimeoutMs(std::optional<qint64> timeout) { m_triggerTimeoutMs = timeout; }

    // Starts watching (again), from the session's state now.
    void start();
    void stop();

    // Time since the current phase (recording wait, transfer) began, and since the last block.
    qint64 phaseElapsedMs() const { return m_phase.elapsed(); }

signals:
    // The recording time has passed and the board waits for its photodiode trigger (once per
    // exchange).
    void waitingForTrigger();

private:
    void check();
    void giveUp(SessionFailure failure);

    MeasurementSession *m_session;
    std::optional<qint64> m_triggerTimeoutMs;
    QTimer m_timer;
    QElapsedTimer m_phase;
    QElapsedTimer m_sinceBlock;
    bool m_announcedTrigger = false;
};

} // namespace acquisition
