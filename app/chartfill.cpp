#include "app/chartfill.h"

#include "chart/chart.h"

#include <algorithm>
#include <array>

namespace app {

void setAxisTitles(chart::TChart &chart, const sig::DecodedRecording &r)
{
    if (r.axisMode == sig::AxisMode::None)
        return;
    chart.LeftAxis()->Title().setCaption(r.leftTitle);
    chart.BottomAxis()->Title().setCaption(r.bottomTitle);
}

void addRecordingPoints(chart::TChart &chart, const sig::DecodedRecording &r)
{
    // The points, frame by frame: each frame's X is computed once for all its channels.
    std::array<chart::TChartSeries *, sig::ThermocoupleCount> lines {};
    std::array<const quint16 *, sig::ThermocoupleCount> codes {};
    int count = 0;
    for (int n = 1; n <= sig::ThermocoupleCount; ++n) {
        if (!r.hasChannel(n) || r.pointCount() == 0)
            continue;
        lines[size_t(count)] = chart.Series(n - 1);
        codes[size_t(count)] = r.codeData(n).data();
        ++count;
    }
    const int points = r.pointCount();
    const bool temperature = sig::isTemperatureMode(r.axisMode);
    const double scale = r.ValueScale;
    const double offset = r.ValueOffset;
    for (int p = 0; p < points; ++p) {
        const double x = r.x(p);
        for (int c = 0; c < count; ++c) {
            const double v = codes[size_t(c)][p];
            lines[size_t(c)]->AddPoint(x, temperature ? (v - offset) * scale : v);
        }
    }
    if (r.photodiodeDrawn) {
        chart::TChartSeries *fd = chart.Series(sig::PhotodiodeSeries);
        for (int p = 0; p < points; ++p)
            fd->AddPoint(r.x(p), r.photodiodeY(p));
    }
}

std::optional<QString> setValueAxisRange(chart::TChartAxis &left, int mode, int bottom, int top)
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
    } catch (const chart::AxisException &error) {
        return QString::fromUtf8(error.what());
    }
    return std::nullopt;
}

} // namespace app
