#include "app/chartbuilder.h"

#include "chart/channelchart.h"
#include "chart/chart.h"
#include "files/channels.h"
#include "files/recording.h"

namespace app {

ChartBuilder::ChartBuilder(chart::TChart &chart, ChartControls controls)
    : m_chart(chart)
    , m_controls(std::move(controls))
{
}

sig::DisplaySettings ChartBuilder::displaySettings(const files::DataFileHeader &header) const
{
    sig::DisplaySettings s = m_controls.displaySettings();
    sig::applyFileHeader(s, header);
    return s;
}

bool ChartBuilder::BuildChart(const files::Recording &recording)
{
    if (recording.data.isEmpty())
        return false;
    // The integration length and every other display setting are read once, here.
    const sig::DisplaySettings settings = displaySettings(recording.header);
    if (!m_last)
        m_last.emplace();
    m_decoder.decode(recording.data, settings, *m_last);
    const sig::DecodedRecording &r = *m_last;

    if (m_controls.clearFirst())
        for (int i = 0; i < files::ChannelCount; ++i)
            m_chart.Series(i)->Clear();
    chart::setAxisTitles(m_chart, r);
    if (r.axisMode != sig::AxisMode::None)
        m_valueAxisTitle = r.leftTitle;
    chart::addRecordingPoints(m_chart, r, m_x);
    setValueAxisRange(settings.axisMode);
    return true;
}

void ChartBuilder::setValueAxisRange(sig::AxisMode mode)
{
    const auto [bottom, top] = m_controls.valueRange();
    const std::optional<QString> refused
        = chart::setValueAxisRange(*m_chart.LeftAxis(), int(mode), bottom, top);
    if (refused && reportError)
        reportError(*refused);
}

} // namespace app
