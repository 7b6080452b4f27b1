#include "app/chartbuilder.h"

#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/form1.h"
#include "app/spinedit.h"
#include "chart/channelchart.h"
#include "chart/chart.h"

#include <QCheckBox>
#include <QComboBox>
#include <algorithm>

namespace app {

namespace {

// The value of a spin edit as the build reads it: the typed value within its bounds.
int boundedValue(const SpinEdit *edit)
{
    return std::clamp(edit->currentValue(), edit->minimumValue(),
        std::max(edit->minimumValue(), edit->maximumValue()));
}

} // namespace

ChartBuilder::ChartBuilder(TForm1 &form)
    : m_form(form)
{
}

sig::DisplaySettings ChartBuilder::displaySettings() const
{
    sig::DisplaySettings s;
    s.checkedChannels = m_form.checkedThermocouples();
    s.photodiode = m_form.channelBoxes.at(int(files::ChannelId::FD))->isChecked();
    s.averaging = m_form.cbAvgMC->isChecked();
    s.timeUnitIndex = m_form.cbXscale->currentIndex();
    const int mode = m_form.cbShowK->currentIndex();
    s.axisMode = mode >= 0 && mode <= 3 ? sig::AxisMode(mode) : sig::AxisMode::None;
    s.rangeIndex = m_form.cbTrng->currentIndex();
    s.integrate = m_form.cbInt->isChecked();
    s.integrationLength = boundedValue(m_form.seInt);
    s.pointSkip = std::max(1, m_form.sampling->value(acquisition::Field::sePointChart));
    s.channelIntervalUs = m_form.session->ChannelIntervalUs();
    return s;
}

void ChartBuilder::BuildChart()
{
    const QByteArray *buffer = m_form.AcquisitionBuffer();
    if (!buffer || buffer->isEmpty())
        return;
    acquisition::MeasurementSession &session = *m_form.session;
    // The integration length and every other display setting are read once, here.
    const sig::DisplaySettings settings = displaySettings();
    session.hideProgressPanel();
    if (!m_last)
        m_last.emplace();
    m_decoder.decode(*buffer, settings, *m_last);
    const sig::DecodedRecording &r = *m_last;
    session.setXTitle(r.XTitle);
    session.clearPercentLabels();

    chart::TChart *chart = m_form.Chart1;
    if (m_form.cbChartClear->isChecked())
        for (int i = 0; i < files::ChannelCount; ++i)
            chart->Series(i)->Clear();
    chart::setAxisTitles(*chart, r);
    session.setCycleNumber(session.CycleNumber() + 1);

    chart::addRecordingPoints(*chart, r, m_x);

    // CurrentCommand 0x00 and "ПОСТРОЕНИЕ ГРАФИКА": the status stays while the chart draws.
    session.chartBuilt();
    if (m_form.CycleRunning && m_form.cycleStep && !m_form.cycleStep())
        return; // low memory: the cycle run stops here
    setValueAxisRange();
}

void ChartBuilder::setValueAxisRange()
{
    const std::optional<QString> refused = chart::setValueAxisRange(*m_form.Chart1->LeftAxis(),
        m_form.cbShowK->currentIndex(), boundedValue(m_form.seYmin), boundedValue(m_form.seYmax));
    if (refused && reportError)
        reportError(*refused);
}

} // namespace app
