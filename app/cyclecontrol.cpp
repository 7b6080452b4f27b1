#include "app/cyclecontrol.h"

#include "app/form1.h"
#include "app/statusbar.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QTimer>

namespace app {

CycleControl::CycleControl(acquisition::MeasurementSession &session,
    acquisition::SamplingParameters &panel, QAbstractButton *btCycle, QCheckBox *cb1file,
    std::function<void()> btStartClick, std::function<void(const QString &)> showMessage)
    : QObject(nullptr)
    , m_button(btCycle)
    , m_run(std::make_unique<acquisition::CycleRun>(&session, &panel))
{
    acquisition::CycleRun *run = m_run.get();
    // Every following cycle starts as a click on btStart does.
    run->setStartHandler(std::move(btStartClick));
    run->setOneFile(cb1file->isChecked());
    connect(cb1file, &QCheckBox::toggled, run, &acquisition::CycleRun::setOneFile);
    connect(run, &acquisition::CycleRun::cycleButtonChanged, this, &CycleControl::mirrorButton);
    // The message box opens once the chart build and the reply handler around it have
    // returned, so that no exchange handler runs inside it.
    connect(run, &acquisition::CycleRun::lowMemory, this,
        [show = std::move(showMessage)](
            const QString &text) { QTimer::singleShot(0, [show, text] { show(text); }); });
    mirrorButton();
}

CycleControl::~CycleControl() = default;

void CycleControl::btCycleClick()
{
    m_run->btCycleClick();
}

void CycleControl::mirrorButton()
{
    const acquisition::ButtonLook &look = m_run->cycleButton();
    m_button->setText(look.caption);
    TForm1::setCaptionColor(m_button, colorFromValue(look.colour));
}

} // namespace app
