#pragma once

#include "acquisition/cyclerun.h"

#include <QObject>
#include <memory>

namespace app {

class TForm1;

// The window side of the cycle mode. The state, both stores, timCycle and the cycle step
// live in acquisition::CycleRun; this binds them to the window: btCycle's clicks, caption
// and colour, TForm1::CycleRunning, the cycle step that BuildChart calls, cb1file, the
// restart through the window's btStart handler and the low-memory message.
// sePointChart and cbChartClear act through BuildChart; all three options persist in the
// settings' "Cycle" section. Owned by the window, which destroys it before the session.
class CycleControl : public QObject
{
    Q_OBJECT

public:
    explicit CycleControl(TForm1 &form);
    ~CycleControl() override;

    acquisition::CycleRun &run() { return *m_run; }
    const acquisition::CycleRun &run() const { return *m_run; }

    // btCycle: "ЦИКЛ" starts a run, "Стоп" stops it.
    void btCycleClick();

private:
    void mirrorButton();

    TForm1 &m_form;
    std::unique_ptr<acquisition::CycleRun> m_run;
};

} // namespace app
