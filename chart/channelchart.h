#pragma once

#include "chart/chartaxis.h"
#include "files/channels.h"
#include "signal/chartdecoder.h"

#include <QString>
#include <array>
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

// A recording read in pieces drawn with bounded memory, in two passes over its pieces. The
// first gathers the extremes of each series' points (RecordingExtent); two points per series
// spanning them lay the chart out as all of the points would. The second keeps, per series
// and pixel column of that layout, only the points the fast line series draws from
// (ColumnReduction): the first, the lowest, the highest and the last, in their order. The
// chart then draws the same lines as with every point, at that size.
class RecordingExtent
{
public:
    // Takes a piece's points (those of a whole decode too).
    void add(const sig::DecodedRecording &piece);
    // Whether the points can be reduced: X finite and ascending, as the series keeps it.
    bool reducible() const { return m_reducible; }
    // Two points per drawn series, first its lowest Y at the first X, then its highest Y at
    // the last X. `recording` is the stream's after the whole first pass: the levels of the
    // photodiode line are known then.
    void addSpanPoints(TChart &chart, const sig::DecodedRecording &recording) const;

private:
    struct Span
    {
        bool any = false;
        double low = 0, high = 0;
    };
    bool m_reducible = true;
    bool m_any = false;
    double m_firstX = 0, m_lastX = 0;
    std::array<Span, files::ThermocoupleCount> m_codes;
    bool m_photodiodeLow = false, m_photodiodeHigh = false;
};

class ColumnReduction
{
public:
    // Columns of `horizontal`, the bottom axis as laid out with the span points.
    explicit ColumnReduction(const PixelMapper &horizontal);
    void add(const sig::DecodedRecording &piece);
    // Replaces the points of the channel series by the points kept.
    void fill(TChart &chart);

private:
    struct Point
    {
        qint64 index;
        double x, y;
    };
    struct Series
    {
        std::vector<double> x, y; // the points kept
        bool open = false; // a column is being gathered
        int column = 0;
        Point first {}, last {}, low {}, high {};
        void take(qint64 index, double x, double y, int column);
        void close();
    };

    PixelMapper m_mapper;
    std::array<Series, files::ChannelCount> m_series;
    std::vector<double> m_x; // scratch: the X of a piece's points
    std::vector<int> m_columns; // ... and their columns
};

// The value-axis step of a build: in the temperature modes (0 and 2) with top above 0 the
// fixed range bottom..top, otherwise automatic scaling. With bottom above top the maximum
// is taken and the axis refuses the minimum: the chart's message is returned.
std::optional<QString> setValueAxisRange(TChartAxis &left, int mode, int bottom, int top);

} // namespace chart
