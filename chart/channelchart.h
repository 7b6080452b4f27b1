#pragma once

#include "signal/chartdecoder.h"

#include <QString>
#include <optional>
#include <vector>

// The chart of the instrument's channels and the steps of a chart build that put a decoded
// recording into it. The window's ChartBuilder and `ferrun-cli plot` both draw through them;
// the chart component itself knows nothing of channels or recordings.
namespace chart {

class TChart;
class TChartAxis;

// One series per channel, T1..T7 and FD in channel order (series index = channel index),
// each in the colour the window is designed with (its settings replace them).
void addChannelSeries(TChart &chart);

// The chart as the window is designed with it, before any recording: no margins, the value
// axis titled "единицы АЦП" and the time axis "Выборки", and the channel series.
void setUpChannelChart(TChart &chart);

// The left and bottom axis titles of the recording's axis mode; left as they were when no
// mode is selected.
void setAxisTitles(TChart &chart, const sig::DecodedRecording &recording);

// Adds the recording's points behind those the channel series already hold: one per
// drawn frame to the series of each checked thermocouple, and the two-level photodiode
// line to FD when it is drawn. `xs` is scratch room for the points' X values, kept by a
// caller that builds again so that its memory is reused.
void addRecordingPoints(
    TChart &chart, const sig::DecodedRecording &recording, std::vector<double> &xs);

// The value-axis step of a build: in the temperature modes (0 and 2) with top above 0 the
// fixed range bottom..top, otherwise automatic scaling. With bottom above top the maximum
// is taken and the axis refuses the minimum: the chart's message is returned.
std::optional<QString> setValueAxisRange(TChartAxis &left, int mode, int bottom, int top);

} // namespace chart
