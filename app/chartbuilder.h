#pragma once

#include "signal/chartdecoder.h"

#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace chart {
class TChart;
}
namespace files {
struct Recording;
}

namespace app {

// What a chart build reads of the window's controls, each at the moment of the build.
struct ChartControls
{
    // cbFD, cbXscale, cbShowK, cbTrng, cbInt, seInt and sePointChart (the channels, the
    // averaging, the interval and the scale are the recording's own).
    std::function<sig::DisplaySettings()> displaySettings;
    // cbChartClear: the series are emptied first.
    std::function<bool()> clearFirst;
    // seYmin and seYmax, within their bounds.
    std::function<std::pair<int, int>()> valueRange;
};

// The window's chart build: decodes a recording with the display controls as they are now and
// puts the points into the series T1..T7 and FD, then sets the titles and the value axis. The
// recording is read, never written: its channels, averaging, interval and scale decide how its
// bytes are decoded, whatever the channel boxes show. The decoding itself is
// sig::ChartDecoder, shared with the command line.
class ChartBuilder
{
public:
    ChartBuilder(chart::TChart &chart, ChartControls controls);

    // Does nothing (false) when the recording is empty.
    bool BuildChart(const files::Recording &recording);

    // The display controls as the decoder reads them, alone and for a recording with this
    // header (its channels, averaging, interval and scale then decide).
    sig::DisplaySettings displaySettings() const { return m_controls.displaySettings(); }
    sig::DisplaySettings displaySettings(const files::DataFileHeader &header) const;

    // The last build's recording and values; none before the first build.
    const sig::DecodedRecording *lastRecording() const { return m_last ? &*m_last : nullptr; }
    // Values of the last build that other parts read (the transfer start, the cursor readout).
    double TimeDivisor() const { return m_last ? m_last->TimeDivisor : m_decoder.unitDivisor(); }
    QString TimeUnitName() const { return m_last ? m_last->TimeUnitName : QString(); }
    double PointStep() const { return m_decoder.pointStep(); }
    // The value axis's title as a data file stores it (the YTitle a save writes): the chart
    // shows it in the window's language, the file keeps it in Russian.
    const QString &valueAxisTitle() const { return m_valueAxisTitle; }
    // The decoder as the builds left it: the time unit and point step kept for a build with
    // no unit or no axis mode selected. Other recordings drawn with the window's controls
    // (the overlays) decode with a copy of it.
    const sig::ChartDecoder &decoder() const { return m_decoder; }

    // How an axis range the chart refuses is reported.
    std::function<void(const QString &)> reportError;

    // ---- A recording drawn as its blocks arrive
    // Begins drawing a recording of `length` bytes with this header: the series emptied, the
    // titles and the value axis set as a build sets them, and the time axis spanning the whole
    // recording from now on, so that nothing jumps. False (nothing done) when the display
    // draws recordings over one another ("Очищать график" off): the recording is drawn whole
    // when it is complete. The photodiode line is drawn then too, since its two levels are the
    // range of the whole recording.
    bool beginLive(const files::DataFileHeader &header, qint64 length);
    // The next bytes of the recording: their points are appended behind those drawn, and the
    // readout's recording (lastRecording()) holds every point drawn so far.
    void appendLive(const QByteArray &bytes);
    // The recording is complete or has failed: the time axis is free again (the full build
    // that follows draws it as every build does).
    void endLive();
    bool live() const { return m_stream.has_value(); }

private:
    void setValueAxisRange(sig::AxisMode mode);

    chart::TChart &m_chart;
    ChartControls m_controls;
    sig::ChartDecoder m_decoder;
    std::optional<sig::DecodedRecording> m_last;
    std::optional<sig::ChartStream> m_stream; // the recording drawn as it arrives
    std::vector<double> m_x; // X of the points of a build
    // The chart starts with the value axis titled in ADC units (chart::setUpChannelChart);
    // a build in no axis mode leaves the title as it was.
    QString m_valueAxisTitle = QString::fromUtf8(sig::AdcUnitsTitle);
};

} // namespace app
