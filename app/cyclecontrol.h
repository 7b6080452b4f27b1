#pragma once

#include "acquisition/cyclerun.h"

#include <QObject>
#include <functional>
#include <memory>

class QAbstractButton;
class QCheckBox;

namespace app {

// The window side of the cycle mode. The state, both stores, timCycle and the cycle step
// live in acquisition::CycleRun; this binds them to btCycle (its caption and colour) and
// cb1file, restarts every following cycle through the window's btStart handler, and
// shows the low-memory message once the handler that stopped the run has returned.
// sePointChart and cbChartClear act through BuildChart; all three options persist in the
// settings' "Cycle" section.
class CycleControl : public QObject
{
    Q_OBJECT

public:
    CycleControl(acquisition::MeasurementSession &session, acquisition::SamplingParameters &panel,
        QAbstractButton *btCycle, QCheckBox *cb1file, std::function<void()> btStartClick,
        std::function<void(const QString &)> showMessage);
    ~CycleControl() override;

    acquisition::CycleRun &run() { return *m_run; }
    const acquisition::CycleRun &run() const { return *m_run; }

    // btCycle: "ЦИКЛ" starts a run, "Стоп" stops it.
    void btCycleClick();

private:
    void mirrorButton();

    QAbstractButton *m_button;
    std::unique_ptr<acquisition::CycleRun> m_run;
};

} // namespace app
