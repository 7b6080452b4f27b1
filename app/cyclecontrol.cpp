#include "app/cyclecontrol.h"

#include "app/commandbuttons.h"
#include "files/unsavedwork.h"

#include <QAction>
#include <QTimer>

namespace app {

QString CycleControl::lowMemoryMessage()
{
    return tr("Измерение завершено: свободной оперативной памяти менее 512К");
}

CycleControl::CycleControl(acquisition::MeasurementSession &session,
    acquisition::SamplingParameters &panel, files::UnsavedWork &work, QAction *cycleCommand,
    std::function<acquisition::MeasurementRequest()> request, std::function<void()> restart,
    std::function<void(const QString &)> showMessage)
    : QObject(nullptr)
    , m_work(work)
    , m_command(cycleCommand)
    , m_showMessage(std::move(showMessage))
    , m_run(std::make_unique<acquisition::CycleRun>(&session, &panel, &work.cycles()))
{
    // The first cycle starts as the cycle start says; every following one as btStart does.
    m_run->setRequestSource([this, request = std::move(request), restart = std::move(restart)] {
        if (!std::exchange(m_first, false))
            restart();
        return request();
    });
    connect(m_run.get(), &acquisition::CycleRun::runningChanged, this, &CycleControl::mirrorButton);
    connect(m_run.get(), &acquisition::CycleRun::ended, this, &CycleControl::ended);
    mirrorButton();
}

CycleControl::~CycleControl() = default;

void CycleControl::btCycleClick()
{
    m_work.setRecordedByCycle(true);
    if (m_run->CycleRunning() || m_run->lowMemoryStopped()) {
        m_run->stop();
        return;
    }
    m_first = true;
    m_run->start();
}

void CycleControl::mirrorButton()
{
    const bool running = m_run->CycleRunning();
    setCommandCaption(m_command, running ? tr("Стоп") : tr("ЦИКЛ"), running);
}

void CycleControl::ended(acquisition::CycleRun::Ending ending)
{
    using Ending = acquisition::CycleRun::Ending;
    QString text;
    switch (ending) {
    case Ending::LowMemory:
        text = lowMemoryMessage();
        break;
    case Ending::OutOfStep:
        text = tr("Цикл отброшен: байты от платы после конца записи. Сохранённые циклы до него "
                  "верны");
        break;
    case Ending::NotWritten:
        text = tr("Цикл не записан на диск, измерение завершено: %1").arg(m_run->writeError());
        break;
    case Ending::Failed:
    case Ending::Cancelled:
        // The failure is said with the exchange; a cancel was the user's.
        return;
    }
    // The message box opens once the handler that ended the run has returned, so that no
    // exchange handler runs inside it.
    QTimer::singleShot(0, this, [this, text] { m_showMessage(text); });
}

} // namespace app
