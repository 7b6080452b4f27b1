#include "app/cyclecontrol.h"

#include "app/form1.h"

#include <QCheckBox>
#include <QTimer>
#include <QToolButton>

namespace app {

namespace {

// A Windows colour value 0x00BBGGRR.
QColor colourOf(quint32 value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

} // namespace

CycleControl::CycleControl(TForm1 &form)
    : QObject(nullptr)
    , m_form(form)
    , m_run(std::make_unique<acquisition::CycleRun>(form.session.get(), form.sampling))
{
    acquisition::CycleRun *run = m_run.get();
    // Every following cycle starts as a click on btStart does.
    run->setStartHandler([this] { m_form.btStartClick(); });
    run->setOneFile(form.cb1file->isChecked());
    connect(form.cb1file, &QCheckBox::toggled, run, &acquisition::CycleRun::setOneFile);
    connect(&form, &TForm1::cycleRequested, this, &CycleControl::btCycleClick);
    connect(run, &acquisition::CycleRun::cycleButtonChanged, this, &CycleControl::mirrorButton);
    connect(run, &acquisition::CycleRun::runningChanged, this,
        [this](bool running) { m_form.CycleRunning = running; });
    // The message box opens once the chart build and the reply handler around it have
    // returned, so that no exchange handler runs inside it.
    connect(run, &acquisition::CycleRun::lowMemory, this, [this](const QString &text) {
        QTimer::singleShot(0, &m_form, [form = &m_form, text] {
            if (form->showMessage)
                form->showMessage(text);
        });
    });
    form.cycleStep
        = [run] { return run->cycleStep() != acquisition::CycleRun::StepResult::LowMemory; };
    mirrorButton();
}

CycleControl::~CycleControl()
{
    m_form.cycleStep = nullptr;
}

void CycleControl::btCycleClick()
{
    m_run->btCycleClick();
}

void CycleControl::mirrorButton()
{
    const acquisition::ButtonLook &look = m_run->cycleButton();
    m_form.btCycle->setText(look.caption);
    TForm1::setCaptionColor(m_form.btCycle, colourOf(look.colour));
}

} // namespace app
