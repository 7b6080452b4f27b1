#pragma once

#include "chart/chartaxis.h"
#include "files/channels.h"
#include "signal/chartdecoder.h"

#include <QLocale>
#include <QString>
#include <array>
#include <optional>
#include <vector>

// The chart of the instrument's channels and the steps of a chart build that put a decoded
// recording into it. The window's ChartBuilder and `ferrun-cli plot` both draw through them;
// the chart component itself knows nothing of channels or recordings.
namespace chart {

class ChartRenderer;
class TChartAxis;
class TChartSeries;
class TFastLineSeries;

// The series that draw the channels T1..T7 and FD of one recording, in channel order.
using ChannelSeries = std::array<TChartSeries *, files::ChannelCount>;

// One series per channel, T1..T7 and FD in channel order (series index = channel index),
// each in the colour the window is designed with (its settings replace them).
void addChannelSeries(ChartRenderer &chart);

// The chart as the window is designed with it, before any recording: no margins, the value
// axis titled "единицы АЦП" and the time axis "Выборки", and the channel series.
void setUpChannelChart(ChartRenderer &chart);

// The chart's own channel series, the first eight.
ChannelSeries channelSeries(ChartRenderer &chart);

// Shows the series of the channels the recording draws: its thermocouples, and FD when the
// photodiode line is asked for.
void showRecordingChannels(const ChannelSeries &series, const sig::DecodedRecording &recording);

// The left and bottom axis titles of the recording's axis mode; left as they were when no
// mode is selected.
void setAxisTitles(ChartRenderer &chart, const sig::DecodedRecording &recording);

// Adds the recording's points behind those the channel series already hold: one per
// drawn frame to the series of each checked thermocouple, and the two-level photodiode
// line to FD when it is drawn. `xs` is scratch room for the points' X values, kept by a
// caller that builds again so that its memory is reused. Every X is moved by `shift`.
void addRecordingPoints(const ChannelSeries &series, const sig::DecodedRecording &recording,
    std::vector<double> &xs, double shift = 0);
void addRecordingPoints(
    ChartRenderer &chart, const sig::DecodedRecording &recording, std::vector<double> &xs);

// A recording laid over the chart's own to compare them ("overlay"): its channels drawn in
// the colours of the chart's channel series with a dash pattern of its own, and one legend
// row that names it beside a line of that pattern. Its channel series have no legend rows:
// those of the chart's own channels tell the colours, so the legend grows by one row per
// overlay. The series follow all others of the chart and are painted over its own lines,
// which show through the gaps of the dashes.
struct OverlaySeries
{
    TFastLineSeries *entry = nullptr; // the legend row; it holds no points
    ChannelSeries channels {};
};

// Adds the series of an overlay named `name`. `index` chooses the dash pattern (the first
// overlay of a chart 0, the next 1, ...); the patterns repeat after six.
OverlaySeries addOverlaySeries(ChartRenderer &chart, const QString &name, int index);
void removeOverlaySeries(ChartRenderer &chart, const OverlaySeries &overlay);
// The overlay's channel series take the present colours of the chart's channel series.
void followChannelColours(ChartRenderer &chart, const OverlaySeries &overlay);
// Replaces the overlay's points with the recording's, each X moved by `shift`, and shows the
// series of the channels it draws.
void setOverlayPoints(const OverlaySeries &overlay, const sig::DecodedRecording &recording,
    double shift, std::vector<double> &xs);
// The legend's name of an overlaid data file: its name without the folder, shortened in
// the middle beyond 40 characters.
QString overlayName(const QString &path);
// An overlay's shift as its legend row shows it after the name: "+5 мс", "−2.5 мс", "+100
// выб." in `locale`; empty for no shift.
QString shiftCaption(double shift, const QString &unit, const QLocale &locale);
// The unit of a shift along the sample axis, "выб.".
QString samplesShiftUnit();
// The overlay's legend row reads its name followed by `shift` (shiftCaption).
void setOverlayShift(const OverlaySeries &overlay, const QString &shift);

// A recording read in pieces drawn with bounded memory, in two passes over its pieces. The
// first gathers the extremes of each series' points (RecordingExtent); two points per series
// spanning them lay the chart out as all of the points would. The second keeps, per series
// and pixel column of that layout, only the points the fast line series draws from
// (ColumnReduction): the first, the lowest, the highest and the last, in their order. The
// chart then draws the same lines as with every point, at that size.
//
// Several recordings drawn in one chart (overlays) each have their own extent and reduction,
// with the X shift of their series; the span points of all of them lay the chart out before
// the first is reduced.
class RecordingExtent
{
public:
    explicit RecordingExtent(double shift = 0)
        : m_shift(shift)
    {
    }
    // Takes a piece's points (those of a whole decode too).
    void add(const sig::DecodedRecording &piece);
    // Whether the points can be reduced: X finite and ascending, as the series keeps it.
    bool reducible() const { return m_reducible; }
    // Two points per drawn series, first its lowest Y at the first X, then its highest Y at
    // the last X. `recording` is the stream's after the whole first pass: the levels of the
    // photodiode line are known then.
    void addSpanPoints(const ChannelSeries &series, const sig::DecodedRecording &recording) const;
    void addSpanPoints(ChartRenderer &chart, const sig::DecodedRecording &recording) const;

private:
    struct Span
    {
        bool any = false;
        double low = 0, high = 0;
    };
    double m_shift;
    bool m_reducible = true;
    bool m_any = false;
    double m_firstX = 0, m_lastX = 0;
    std::array<Span, files::ThermocoupleCount> m_codes;
    bool m_photodiodeLow = false, m_photodiodeHigh = false;
};

class ColumnReduction
{
public:
    // Columns of `horizontal`, the bottom axis as laid out with the span points; every X
    // is moved by `shift`.
    explicit ColumnReduction(const PixelMapper &horizontal, double shift = 0);
    void add(const sig::DecodedRecording &piece);
    // Replaces the points of the channel series by the points kept.
    void fill(const ChannelSeries &series);
    void fill(ChartRenderer &chart);

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
    double m_shift;
    std::array<Series, files::ChannelCount> m_series;
    std::vector<double> m_x; // scratch: the X of a piece's points
    std::vector<int> m_columns; // ... and their columns
};

// The value-axis step of a build: in the temperature modes (0 and 2) with top above 0 the
// fixed range bottom..top, otherwise automatic scaling. With bottom above top the maximum
// is taken and the axis refuses the minimum: a message saying so is returned, in the
// window's language.
std::optional<QString> setValueAxisRange(TChartAxis &left, int mode, int bottom, int top);

} // namespace chart
