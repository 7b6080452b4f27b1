#include "app/sessionpresenter.h"

#include "app/statusbar.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <algorithm>
#include <chrono>

namespace app {

QString SessionPresenter::timeText(int seconds)
{
    return QString::asprintf("%.2d:%.2d", seconds / 60, seconds % 60);
}

QString SessionPresenter::transferStatusText(double transferMs)
{
    return tr("ПЕРЕДАЧА МАССИВА, %1с").arg(acquisition::roundHalfEven(transferMs / 1000));
}

QString SessionPresenter::failureText(acquisition::SessionFailure failure)
{
    using acquisition::SessionFailure;
    switch (failure) {
    case SessionFailure::OutOfStep:
        return tr("Сбой передачи: лишние байты от платы, запись неверна");
    case SessionFailure::Disconnected:
        return tr("Плата отключена");
    case SessionFailure::NoReply:
    case SessionFailure::NoTrigger:
        return tr("Нет ответа от платы");
    case SessionFailure::Incomplete:
        return tr("Сбой передачи: ответ платы неполон, запись неверна");
    case SessionFailure::NoData:
        return tr("Измерение завершено без данных");
    case SessionFailure::None:
        break;
    }
    return {};
}

QString SessionPresenter::provenOutOfStepText()
{
    return tr("Сбой передачи: байты от платы после конца записи, запись неверна");
}

SessionPresenter::SessionPresenter(acquisition::MeasurementSession &session, StatusBar &status,
    ProgressWidgets progress, QGroupBox *gbFile, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_status(status)
    , m_progress(progress)
    , m_gbFile(gbFile)
{
    m_timPrgssBar.setInterval(TimPrgssBarIntervalMs);
    connect(&m_timPrgssBar, &QTimer::timeout, this, &SessionPresenter::TimPrgssBarTimer);
    using acquisition::MeasurementSession;
    connect(&session, &MeasurementSession::stateChanged, this, &SessionPresenter::stateChanged);
    connect(&session, &MeasurementSession::exchangeEnded, this, &SessionPresenter::exchangeEnded);
    connect(&session, &MeasurementSession::statusByte, this, [this](quint8 byte) {
        if (byte == acquisition::StatusTuning)
            m_status.setPanelText(0, tr("Подстройка усилителя фототока"));
        else if (byte == acquisition::StatusTuned)
            m_status.setPanelText(0, QString());
    });
    m_gbFile->setTitle(tr("Комментарий"));
}

quint32 SessionPresenter::tick() const
{
    if (m_tickSource)
        return m_tickSource();
    using namespace std::chrono;
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SessionPresenter::showStatus(const QString &text)
{
    m_status.setPanelText(0, text);
}

QString SessionPresenter::statusText() const
{
    return m_status.panelText(0);
}

void SessionPresenter::stateChanged(acquisition::SessionState state)
{
    using acquisition::ExchangeKind;
    using acquisition::SessionState;
    const bool measuring = state == SessionState::Measuring;
    const bool reRead
        = state == SessionState::ShortRead && m_session.exchange() == ExchangeKind::ReRead;
    if (measuring || reRead) {
        // The recording wait: its progress when it is long, the clock from the command on.
        if (measuring && m_session.MeasurementMs() > 2000)
            startProgress(m_session.MeasurementMs(), true);
        m_clock.startTick = tick();
        clearPercentLabels();
        m_status.setPanelText(0, tr("ИЗМЕРЕНИЕ"));
        m_status.setPanelText(2, QString());
        return;
    }
    if (state != SessionState::WaitingToTransfer)
        return;
    clearPercentLabels();
    m_status.setPanelText(0, transferStatusText(m_session.TransferMs()));
    m_clock.startTick = tick();
    startProgress(m_session.TransferMs(), !m_session.transferAveraged());
    m_gbFile->setTitle(tr("Комментарий"));
    if (m_namesCycle && m_namesCycle())
        m_status.setPanelText(2, tr("Цикл №%1").arg(m_cycleNumber));
}

void SessionPresenter::exchangeEnded(const acquisition::ExchangeOutcome &outcome)
{
    using acquisition::ExchangeEnd;
    switch (outcome.end) {
    case ExchangeEnd::Completed:
    case ExchangeEnd::Interrupted:
        return;
    case ExchangeEnd::Failed:
        // A wait that ended without data draws what the chart holds, as a build does.
        if (outcome.failure == acquisition::SessionFailure::NoData
            && outcome.exchange == acquisition::ExchangeKind::Measurement)
            return;
        hideProgress();
        m_status.setPanelText(0, failureText(outcome.failure));
        return;
    case ExchangeEnd::Cancelled:
        hideProgress();
        m_status.setPanelText(0, tr("Измерение отменено"));
        return;
    }
}

void SessionPresenter::chartBuilt()
{
    setPanelVisible(false);
    clearPercentLabels();
    ++m_cycleNumber;
    m_status.setPanelText(0, tr("ПОСТРОЕНИЕ ГРАФИКА"));
}

void SessionPresenter::startProgress(double totalMs, bool show)
{
    m_maximum = std::max(1, acquisition::roundHalfEven(totalMs));
    m_progress.bar->setRange(0, m_maximum);
    m_progress.bar->setValue(0);
    // A panel already shown stays shown.
    if (show)
        setPanelVisible(true);
    m_timPrgssBar.start();
    m_clock.total = acquisition::roundHalfEven(totalMs / 1000);
    m_clock.elapsed = 0;
    m_clock.remaining = m_clock.total;
    m_clock.percent = 0;
    m_progress.elapsed->setText(timeText(m_clock.elapsed));
    m_progress.rest->setText(timeText(m_clock.remaining));
    m_progress.all->setText(timeText(m_clock.total));
}

void SessionPresenter::hideProgress()
{
    m_timPrgssBar.stop();
    setPanelVisible(false);
    clearPercentLabels();
}

void SessionPresenter::clearPercentLabels()
{
    m_progress.percent->clear();
    m_progress.restPercent->clear();
}

void SessionPresenter::setPanelVisible(bool visible)
{
    if (visible == m_progress.panel->isVisibleTo(m_progress.panel->parentWidget()))
        return;
    m_progress.panel->setVisible(visible);
    if (visible)
        m_progress.panel->raise();
}

void SessionPresenter::TimPrgssBarTimer()
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
    m_progress.percent->setText(QStringLiteral("%1%").arg(m_clock.percent));
    m_progress.restPercent->setText(QStringLiteral("%1%").arg(100 - m_clock.percent));
    m_progress.elapsed->setText(timeText(m_clock.elapsed));
    m_progress.rest->setText(timeText(m_clock.remaining));
    const int position = total > 0 ? int(qint64(m_maximum) * elapsed / total) : m_maximum;
    m_progress.bar->setValue(std::min(position, m_maximum));
    if (position >= m_maximum) {
        setPanelVisible(false);
        m_timPrgssBar.stop();
    }
}

} // namespace app
