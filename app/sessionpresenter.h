#pragma once

#include "acquisition/measurementsession.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QGroupBox;
class QLabel;
class QProgressBar;
class QWidget;

namespace app {

class StatusBar;

// The progress panel Panel1 with progressBar, lAll, lElapsed, lRest, and the percent labels
// lbPercent and lbRestPercent (which sit outside the panel).
struct ProgressWidgets
{
    QWidget *panel = nullptr;
    QProgressBar *bar = nullptr;
    QLabel *all = nullptr;
    QLabel *elapsed = nullptr;
    QLabel *rest = nullptr;
    QLabel *percent = nullptr;
    QLabel *restPercent = nullptr;
};

// ProgressClock: start tick (ms of a monotonic counter that wraps at 2^32), total, elapsed
// and remaining seconds, elapsed percent.
struct ProgressClock
{
    quint32 startTick = 0;
    int total = 0;
    int elapsed = 0;
    int remaining = 0;
    quint16 percent = 0;
};

// What the window shows of the session's exchanges: the first and third status panels, the
// progress of the recording and of the transfer (TimPrgssBar every 250 ms), the comment
// frame's caption at a transfer start and the words for a failed exchange. The session holds
// protocol state only; this turns its states into the window's texts.
class SessionPresenter : public QObject
{
    Q_OBJECT

public:
    static constexpr int TimPrgssBarIntervalMs = 250;

    SessionPresenter(acquisition::MeasurementSession &session, StatusBar &status,
        ProgressWidgets progress, QGroupBox *gbFile, QObject *parent = nullptr);

    // "%.2d:%.2d" of seconds / 60 and seconds mod 60: 125 gives 02:05, 6000 gives 100:00.
    static QString timeText(int seconds);
    // "ПЕРЕДАЧА МАССИВА, " + round(transferMs / 1000) + "с", halves to even.
    static QString transferStatusText(double transferMs);
    // The window's words for a failed exchange.
    static QString failureText(acquisition::SessionFailure failure);
    // Bytes after a completed recording proved it wrong.
    static QString provenOutOfStepText();

    // The millisecond tick counter of the progress clock (wraps at 2^32); a monotonic clock
    // unless replaced (tests step it by hand).
    void setTickSource(std::function<quint32()> source) { m_tickSource = std::move(source); }
    const ProgressClock &progressClock() const { return m_clock; }
    bool progressTimerActive() const { return m_timPrgssBar.isActive(); }
    void TimPrgssBarTimer();

    // Charts built since the last cycle start: shown at a cycle's transfer as "Цикл №".
    int CycleNumber() const { return m_cycleNumber; }
    void setCycleNumber(int number) { m_cycleNumber = number; }
    // Whether the measurement under way names its cycle at its transfer start.
    void setNamesCycle(std::function<bool()> namesCycle) { m_namesCycle = std::move(namesCycle); }

    // A chart was drawn: the progress panel hidden, the percent labels cleared, CycleNumber
    // + 1, "ПОСТРОЕНИЕ ГРАФИКА" in the first panel.
    void chartBuilt();
    // The first panel's text (a failure, the instrument's state).
    void showStatus(const QString &text);
    QString statusText() const;

private:
    void stateChanged(acquisition::SessionState state);
    void exchangeEnded(const acquisition::ExchangeOutcome &outcome);
    void startProgress(double totalMs, bool show);
    void hideProgress();
    void clearPercentLabels();
    void setPanelVisible(bool visible);
    quint32 tick() const;

    acquisition::MeasurementSession &m_session;
    StatusBar &m_status;
    ProgressWidgets m_progress;
    QGroupBox *m_gbFile;
    std::function<quint32()> m_tickSource;
    std::function<bool()> m_namesCycle;
    QTimer m_timPrgssBar;
    ProgressClock m_clock;
    int m_maximum = 100;
    int m_cycleNumber = 0;
};

} // namespace app
