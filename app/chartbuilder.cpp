#include "app/chartbuilder.h"

#include "acquisition/measurementsession.h"
#include "chart/channelchart.h"
#include "chart/chart.h"
#include "files/channels.h"
#include "files/recordingdocument.h"

namespace app {

ChartBuilder::ChartBuilder(chart::TChart &chart, acquisition::MeasurementSession &session,
    files::RecordingDocument &document, ChartControls controls)
    : m_chart(chart)
    , m_session(session)
    , m_document(document)
    , m_controls(std::move(controls))
{
}

sig::DisplaySettings ChartBuilder::displaySettings() const
{
    sig::DisplaySettings s = m_controls.displaySettings();
    s.channelIntervalUs = m_document.recording().header.ChannelIntervalUs;
    return s;
}

void ChartBuilder::BuildChart()
{
    files::Recording &recording = m_document.recording();
    if (recording.data.isEmpty())
        return;
    // The integration length and every other display setting are read once, here.
    const sig::DisplaySettings settings = displaySettings();
    m_session.hideProgressPanel();
    if (!m_last)
        m_last.emplace();
    m_decoder.decode(recording.data, settings, *m_last);
    const sig::DecodedRecording &r = *m_last;
    m_session.setXTitle(r.XTitle);
    // The header record a save writes describes the controls of the last build.
    recording.header.ChartChannelBits = r.ChartChannelBits;
    recording.header.ValueScale = r.ValueScale;
    recording.header.ValueOffset = r.ValueOffset;
    recording.header.XTitle = r.XTitle;
    m_session.clearPercentLabels();

    if (m_controls.clearFirst())
        for (int i = 0; i < files::ChannelCount; ++i)
            m_chart.Series(i)->Clear();
    chart::setAxisTitles(m_chart, r);
    if (r.axisMode != sig::AxisMode::None)
        m_valueAxisTitle = r.leftTitle;
    m_session.setCycleNumber(m_session.CycleNumber() + 1);

    chart::addRecordingPoints(m_chart, r, m_x);

    // CurrentCommand 0x00 and "ПОСТРОЕНИЕ ГРАФИКА": the status stays while the chart draws.
    m_session.chartBuilt();
    if (cycleStep && !cycleStep())
        return; // low memory: the cycle run stops here
    setValueAxisRange(settings.axisMode);
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
