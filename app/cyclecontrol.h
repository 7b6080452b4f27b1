#pragma once

#include "acquisition/cyclerun.h"

#include <QObject>
#include <functional>
#include <memory>

class QAction;

namespace acquisition {
class SamplingParameters;
}
namespace files {
class UnsavedWork;
}

namespace app {

// The window side of the cycle mode. The run, timCycle and the storing of each cycle live in
// acquisition::CycleRun, the cycles themselves in the keeper's cycle store; this binds them
// to the cycle command (btCycle's caption and colour), makes every following cycle start as a press
// of btStart does, and says why a run ended by itself once the handler that ended it has returned.
// sePointChart and cbChartClear act through BuildChart; the three options of the cycle mode persist
// in the settings' "Cycle" section.
class CycleControl : public QObject
{
    Q_OBJECT

public:
    // `request` gives each cycle's measurement; `restart` does what a press of btStart does
    // besides, before every cycle after the first.
    CycleControl(acquisition::MeasurementSession &session, acquisition::SamplingParameters &panel,
        files::UnsavedWork &work, QAction *cycleCommand,
        std::function<acquisition::MeasurementRequest()> request, std::function<void()> restart,
        std::function<void(const QString &)> showMessage);
    ~CycleControl() override;

    acquisition::CycleRun &run() { return *m_run; }
    const acquisition::CycleRun &run() const { return *m_run; }

    // btCycle: "ЦИКЛ" starts a run, "Стоп" stops it; either way a save writes the cycles.
    void btCycleClick();

    static QString lowMemoryMessage();

private:
    void mirrorButton();
    void ended(acquisition::CycleRun::Ending ending);

    files::UnsavedWork &m_work;
    QAction *m_command;
    std::function<void(const QString &)> m_showMessage;
    std::unique_ptr<acquisition::CycleRun> m_run;
    bool m_first = false;
};

} // namespace app
