#include "app/chartbuilder.h"

#include "channelchart/channelchart.h"
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
    endLive();
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

bool ChartBuilder::beginLive(const files::DataFileHeader &header, qint64 length)
{
    endLive();
    if (!m_controls.clearFirst())
        return false;
    sig::DisplaySettings settings = displaySettings(header);
    // The photodiode's two levels are the raw range of the whole recording.
    settings.photodiode = false;
    m_stream.emplace(m_decoder, length, settings);
    const sig::DecodedRecording &r = m_stream->recording();
    if (r.axisMode == sig::AxisMode::None || m_stream->totalPoints() == 0) {
        m_stream.reset();
        return false;
    }
    for (int i = 0; i < files::ChannelCount; ++i)
        m_chart.Series(i)->Clear();
    chart::setAxisTitles(m_chart, r);
    m_valueAxisTitle = r.leftTitle;
    m_last = r;
    m_chart.BottomAxis()->setReservedRange(r.x(0), r.x(m_stream->totalPoints() - 1));
    setValueAxisRange(settings.axisMode);
    return true;
}

void ChartBuilder::appendLive(const QByteArray &bytes)
{
    if (!m_stream)
        return;
    m_stream->decode(bytes.constData(), bytes.size());
    const sig::DecodedRecording &piece = m_stream->recording();
    chart::addRecordingPoints(m_chart, piece, m_x);
    m_last->appendPiece(piece);
}

void ChartBuilder::endLive()
{
    if (!m_stream)
        return;
    m_stream.reset();
    m_chart.BottomAxis()->clearReservedRange();
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
