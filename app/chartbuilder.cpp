#include "app/chartbuilder.h"

#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/form1.h"
#include "app/spinedit.h"
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
    s.checkedChannels = 0;
    for (int n = 1; n <= 7; ++n)
        if (m_form.channelBoxes.at(n - 1)->isChecked())
            s.checkedChannels |= quint8(1 << (n - 1));
    s.photodiode = m_form.channelBoxes.at(7)->isChecked();
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
    m_last = m_decoder.decode(*buffer, settings);
    const sig::DecodedRecording &r = *m_last;
    session.setXTitle(r.XTitle);
    session.clearPercentLabels();

    chart::TChart *chart = m_form.Chart1;
    if (m_form.cbChartClear->isChecked())
        for (int i = 0; i < 8; ++i)
            chart->Series(i)->Clear();
    if (r.axisMode != sig::AxisMode::None) {
        chart->LeftAxis()->Title().setCaption(r.leftTitle);
        chart->BottomAxis()->Title().setCaption(r.bottomTitle);
    }
    session.setCycleNumber(session.CycleNumber() + 1);

    // The points, frame by frame: each frame's X is computed once for all its channels.
    std::array<chart::TChartSeries *, sig::ThermocoupleCount> lines {};
    std::array<const quint16 *, sig::ThermocoupleCount> codes {};
    int count = 0;
    for (int n = 1; n <= sig::ThermocoupleCount; ++n) {
        if (!r.hasChannel(n) || r.pointCount() == 0)
            continue;
        lines[size_t(count)] = chart->Series(n - 1);
        codes[size_t(count)] = r.codeData(n).data();
        ++count;
    }
    const int points = r.pointCount();
    const bool temperature = sig::isTemperatureMode(r.axisMode);
    const double scale = r.ValueScale;
    const double offset = r.ValueOffset;
    for (int p = 0; p < points; ++p) {
        const double x = r.x(p);
        for (int c = 0; c < count; ++c) {
            const double v = codes[size_t(c)][p];
            lines[size_t(c)]->AddPoint(x, temperature ? (v - offset) * scale : v);
        }
    }
    if (r.photodiodeDrawn) {
        chart::TChartSeries *fd = chart->Series(int(ChannelId::FD));
        for (int p = 0; p < points; ++p)
            fd->AddPoint(r.x(p), r.photodiodeY(p));
    }

    // CurrentCommand 0x00 and "ПОСТРОЕНИЕ ГРАФИКА": the status stays while the chart draws.
    session.chartBuilt();
    if (m_form.CycleRunning && m_form.cycleStep && !m_form.cycleStep())
        return; // low memory: the cycle run stops here
    setValueAxisRange();
}

void ChartBuilder::setValueAxisRange()
{
    chart::TChartAxis *left = m_form.Chart1->LeftAxis();
    const int mode = m_form.cbShowK->currentIndex();
    const int top = boundedValue(m_form.seYmax);
    const int bottom = boundedValue(m_form.seYmin);
    if (top <= 0 || (mode != 0 && mode != 2)) {
        left->setAutomatic(true);
        return;
    }
    if (bottom <= top) {
        // Both ends at once: the fixed range replaces whatever the axis showed before.
        left->SetRange(bottom, top);
        return;
    }
    // The maximum is taken and the minimum refused with the chart's own message. The axis
    // keeps its minimum unless that lies above the new maximum.
    left->SetRange(std::min(left->Minimum(), double(top)), top);
    try {
        left->setMinimum(bottom);
    } catch (const chart::AxisException &error) {
        if (reportError)
            reportError(QString::fromUtf8(error.what()));
    }
}

} // namespace app
