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

// The loops that fill one series. Flattened: the series' point appends are inlined into
// them, which halves the cost of a point against a call per value list.
[[gnu::flatten]] void addPoints(chart::TChartSeries &line, const double *x, const quint16 *codes,
    int points, double offset, double scale)
{
    for (int p = 0; p < points; ++p)
        line.AddPoint(x[p], (codes[p] - offset) * scale);
}

[[gnu::flatten]] void addLevels(chart::TChartSeries &line, const double *x, const quint8 *states,
    int points, double low, double high)
{
    for (int p = 0; p < points; ++p)
        line.AddPoint(x[p], states[p] ? high : low);
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
    if (!m_last)
        m_last.emplace();
    m_decoder.decode(*buffer, settings, *m_last);
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

    // The X of every point once, in a plain loop the compiler can vectorise, then each
    // series in turn.
    const int points = r.pointCount();
    m_x.resize(size_t(points));
    for (int p = 0; p < points; ++p)
        m_x[size_t(p)] = r.x(p);
    const bool temperature = sig::isTemperatureMode(r.axisMode);
    const double scale = temperature ? r.ValueScale : 1;
    const double offset = temperature ? r.ValueOffset : 0;
    for (int n = 1; n <= sig::ThermocoupleCount && points > 0; ++n) {
        if (!r.hasChannel(n))
            continue;
        addPoints(*chart->Series(n - 1), m_x.data(), r.codeData(n).data(), points, offset, scale);
    }
    if (r.photodiodeDrawn)
        addLevels(*chart->Series(int(ChannelId::FD)), m_x.data(), r.photodiodeData().data(), points,
            r.valueMinimum, r.valueMaximum);
    // The lists are kept for the next build; only a full recording's worth is.
    if (m_x.capacity() > 240000)
        std::vector<double>().swap(m_x);

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
