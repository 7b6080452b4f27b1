#include "chart/channelchart.h"

#include "chart/chart.h"
#include "files/channels.h"

#include <algorithm>
#include <array>

namespace chart {

namespace {

// The loops that fill one series. Flattened: the series' point appends are inlined into
// them, which halves the cost of a point against a call per value list.
[[gnu::flatten]] void addPoints(TChartSeries &line, const double *x, const quint16 *codes,
    int points, double offset, double scale)
{
    for (int p = 0; p < points; ++p)
        line.AddPoint(x[p], (codes[p] - offset) * scale);
}

[[gnu::flatten]] void addLevels(
    TChartSeries &line, const double *x, const quint8 *states, int points, double low, double high)
{
    for (int p = 0; p < points; ++p)
        line.AddPoint(x[p], states[p] ? high : low);
}

} // namespace

void addChannelSeries(TChart &chart)
{
    // The colours the window is designed with (its settings replace them).
    static const QColor colours[files::ChannelCount] = {
        QColor(0, 128, 0), // T1
        QColor(255, 255, 0), // T2
        QColor(0, 128, 64), // T3
        QColor(0, 0, 0), // T4
        QColor(0, 0, 255), // T5
        QColor(255, 0, 0), // T6
        QColor(255, 255, 255), // T7
        QColor(128, 128, 128), // FD
    };
    for (int i = 0; i < files::ChannelCount; ++i)
        chart.addFastLineSeries(QString::fromLatin1(files::channelName(files::ChannelId(i))))
            ->setSeriesColor(colours[i]);
}

void setUpChannelChart(TChart &chart)
{
    chart.setMargins(0, 0, 0, 0);
    chart.LeftAxis()->Title().setCaption(QStringLiteral("единицы АЦП"));
    chart.BottomAxis()->Title().setCaption(QStringLiteral("Выборки"));
    addChannelSeries(chart);
}

void setAxisTitles(TChart &chart, const sig::DecodedRecording &r)
{
    if (r.axisMode == sig::AxisMode::None)
        return;
    chart.LeftAxis()->Title().setCaption(r.leftTitle);
    chart.BottomAxis()->Title().setCaption(r.bottomTitle);
}

void addRecordingPoints(TChart &chart, const sig::DecodedRecording &r, std::vector<double> &xs)
{
    // The X of every point once, in a plain loop the compiler can vectorise, then each
    // series in turn.
    const int points = r.pointCount();
    xs.resize(size_t(points));
    for (int p = 0; p < points; ++p)
        xs[size_t(p)] = r.x(p);
    const bool temperature = sig::isTemperatureMode(r.axisMode);
    const double scale = temperature ? r.ValueScale : 1;
    const double offset = temperature ? r.ValueOffset : 0;
    for (int n = 1; n <= files::ThermocoupleCount && points > 0; ++n) {
        if (r.hasChannel(n))
            addPoints(*chart.Series(int(files::thermocouple(n))), xs.data(), r.codeData(n).data(),
                points, offset, scale);
    }
    if (r.photodiodeDrawn)
        addLevels(*chart.Series(int(files::ChannelId::FD)), xs.data(), r.photodiodeData().data(),
            points, r.valueMinimum, r.valueMaximum);
    // Only a full recording's worth is kept for the next build.
    if (xs.capacity() > 240000)
        std::vector<double>().swap(xs);
}

std::optional<QString> setValueAxisRange(TChartAxis &left, int mode, int bottom, int top)
{
    if (top <= 0 || (mode != 0 && mode != 2)) {
        left.setAutomatic(true);
        return std::nullopt;
    }
    if (bottom <= top) {
        // Both ends at once: the fixed range replaces whatever the axis showed before.
        left.SetRange(bottom, top);
        return std::nullopt;
    }
    // The maximum is taken and the minimum refused with the chart's own message. The axis
    // keeps its minimum unless that lies above the new maximum.
    left.SetRange(std::min(left.Minimum(), double(top)), top);
    try {
        left.setMinimum(bottom);
    } catch (const AxisException &error) {
        return QString::fromUtf8(error.what());
    }
    return std::nullopt;
}

} // namespace chart
