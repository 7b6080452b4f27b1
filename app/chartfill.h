#pragma once

#include "signal/chartdecoder.h"

#include <QString>
#include <optional>
#include <vector>

namespace chart {
class TChart;
class TChartAxis;
} // namespace chart

// The steps of a chart build that put a decoded recording into a chart. The window's
// ChartBuilder and `ferrun-cli plot` both draw through them.
namespace app {

// The chart as the window is designed with it, before any recording: no margins, the value
// axis titled "единицы АЦП" and the time axis "Выборки", and the series T1..T7 and FD.
void setUpChannelChart(chart::TChart &chart);

// The left and bottom axis titles of the recording's axis mode; left as they were when no
// mode is selected.
void setAxisTitles(chart::TChart &chart, const sig::DecodedRecording &recording);

// Adds the recording's points behind those the series T1..T7 and FD already hold: one per
// drawn frame to the series of each checked thermocouple, and the two-level photodiode
// line to FD when it is drawn. `xs` is scratch room for the points' X values, kept by a
// caller that builds again so that its memory is reused.
void addRecordingPoints(
    chart::TChart &chart, const sig::DecodedRecording &recording, std::vector<double> &xs);

// The value-axis step of a build: in the temperature modes (0 and 2) with top above 0 the
// fixed range bottom..top, otherwise automatic scaling. With bottom above top the maximum
// is taken and the axis refuses the minimum: the chart's message is returned.
std::optional<QString> setValueAxisRange(chart::TChartAxis &left, int mode, int bottom, int top);

} // namespace app
