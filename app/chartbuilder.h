#pragma once

#include "signal/chartdecoder.h"

#include <QString>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace acquisition {
class MeasurementSession;
}
namespace chart {
class TChart;
}
namespace files {
class RecordingDocument;
}

namespace app {

// What a chart build reads of the window's controls, each at the moment of the build.
struct ChartControls
{
    // The channel boxes, cbAvgMC, cbXscale, cbShowK, cbTrng, cbInt, seInt and sePointChart
    // (the channel interval is the recording's own).
    std::function<sig::DisplaySettings()> displaySettings;
    // cbChartClear: the series are emptied first.
    std::function<bool()> clearFirst;
    // seYmin and seYmax, within their bounds.
    std::function<std::pair<int, int>()> valueRange;
};

// The window's chart build: decodes the current recording with the display controls as they
// are now and puts the points into the series T1..T7 and FD, then sets the titles, the
// status and the value axis, and writes the build's values into the recording's header
// record (channel bits, value scale and offset, time title). The decoding itself is
// sig::ChartDecoder, shared with the command line.
class ChartBuilder
{
public:
    ChartBuilder(chart::TChart &chart, acquisition::MeasurementSession &session,
        files::RecordingDocument &document, ChartControls controls);

    // Does nothing when the recording is empty.
    void BuildChart();

    // The display controls as the decoder reads them, with the recording's channel interval.
    sig::DisplaySettings displaySettings() const;

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
    // The cycle step, run after the status text and before the value-axis range while a
    // cycle run is going. Returns false on low memory, which ends the build there.
    std::function<bool()> cycleStep;

private:
    void setValueAxisRange(sig::AxisMode mode);

    chart::TChart &m_chart;
    acquisition::MeasurementSession &m_session;
    files::RecordingDocument &m_document;
    ChartControls m_controls;
    sig::ChartDecoder m_decoder;
    std::optional<sig::DecodedRecording> m_last;
    std::vector<double> m_x; // X of the points of a build
    // The chart starts with the value axis titled in ADC units (chart::setUpChannelChart);
    // a build in no axis mode leaves the title as it was.
    QString m_valueAxisTitle = QString::fromUtf8(sig::AdcUnitsTitle);
};

} // namespace app
