#include "channelchart/channelchart.h"

#include "chart/chartrenderer.h"
#include "files/channels.h"
#include "files/folderbrowser.h"

#include <QCoreApplication>
#include <QPen>
#include <algorithm>
#include <array>
#include <cmath>

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

void addChannelSeries(ChartRenderer &chart)
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

void setUpChannelChart(ChartRenderer &chart)
{
    chart.setMargins(0, 0, 0, 0);
    chart.LeftAxis()->Title().setCaption(sig::displayedAxisTitle(sig::AdcUnitsTitle));
    chart.BottomAxis()->Title().setCaption(sig::displayedAxisTitle(sig::SamplesTitle));
    addChannelSeries(chart);
}

ChannelSeries channelSeries(ChartRenderer &chart)
{
    ChannelSeries series {};
    for (int i = 0; i < files::ChannelCount; ++i)
        series[size_t(i)] = chart.Series(i);
    return series;
}

void showRecordingChannels(const ChannelSeries &series, const sig::DecodedRecording &r)
{
    for (int i = 0; i < files::ChannelCount; ++i)
        series[size_t(i)]->setActive(
            files::ChannelId(i) == files::ChannelId::FD ? r.photodiode : r.hasChannel(i + 1));
}

void setAxisTitles(ChartRenderer &chart, const sig::DecodedRecording &r)
{
    if (r.axisMode == sig::AxisMode::None)
        return;
    // Shown in the window's language; the recording keeps the stored titles.
    chart.LeftAxis()->Title().setCaption(sig::displayedAxisTitle(r.leftTitle));
    chart.BottomAxis()->Title().setCaption(sig::displayedAxisTitle(r.bottomTitle));
}

void addRecordingPoints(
    ChartRenderer &chart, const sig::DecodedRecording &r, std::vector<double> &xs)
{
    addRecordingPoints(channelSeries(chart), r, xs);
}

void addRecordingPoints(const ChannelSeries &series, const sig::DecodedRecording &r,
    std::vector<double> &xs, double shift)
{
    // The X of every point once, in a plain loop the compiler can vectorise, then each
    // series in turn. A shift of 0 leaves every X as it is.
    const int points = r.pointCount();
    xs.resize(size_t(points));
    for (int p = 0; p < points; ++p)
        xs[size_t(p)] = r.x(p) + shift;
    const bool temperature = sig::isTemperatureMode(r.axisMode);
    const double scale = temperature ? r.ValueScale : 1;
    const double offset = temperature ? r.ValueOffset : 0;
    for (int n = 1; n <= files::ThermocoupleCount && points > 0; ++n) {
        if (r.hasChannel(n))
            addPoints(*series[size_t(files::thermocouple(n))], xs.data(), r.codeData(n).data(),
                points, offset, scale);
    }
    if (r.photodiodeDrawn)
        addLevels(*series[size_t(files::ChannelId::FD)], xs.data(), r.photodiodeData().data(),
            points, r.valueMinimum, r.valueMaximum);
    // Only a full recording's worth is kept for the next build.
    if (xs.capacity() > 240000)
        std::vector<double>().swap(xs);
}

void RecordingExtent::add(const sig::DecodedRecording &r)
{
    const int points = r.pointCount();
    if (points == 0)
        return;
    for (int p = 0; p < points && m_reducible; ++p) {
        const double x = r.x(p) + m_shift;
        m_reducible = std::isfinite(x) && (!m_any || !(x < m_lastX));
        if (!m_any)
            m_firstX = x;
        m_any = true;
        m_lastX = x;
    }
    for (int n = 1; n <= files::ThermocoupleCount; ++n) {
        if (!r.hasChannel(n))
            continue;
        const auto [low, high] = std::minmax_element(r.codeData(n).begin(), r.codeData(n).end());
        Span &span = m_codes[size_t(n - 1)];
        span.low = span.any ? std::min(span.low, double(*low)) : *low;
        span.high = span.any ? std::max(span.high, double(*high)) : *high;
        span.any = true;
    }
    if (r.photodiodeDrawn)
        for (const quint8 state : r.photodiodeData())
            (state ? m_photodiodeHigh : m_photodiodeLow) = true;
}

void RecordingExtent::addSpanPoints(ChartRenderer &chart, const sig::DecodedRecording &r) const
{
    addSpanPoints(channelSeries(chart), r);
}

void RecordingExtent::addSpanPoints(
    const ChannelSeries &channels, const sig::DecodedRecording &r) const
{
    if (!m_any)
        return;
    // Y as the series receive it: codes are scaled in the temperature modes, which keeps
    // their order (the scale is positive).
    for (int n = 1; n <= files::ThermocoupleCount; ++n) {
        const Span &span = m_codes[size_t(n - 1)];
        if (!r.hasChannel(n) || !span.any)
            continue;
        TChartSeries &series = *channels[size_t(files::thermocouple(n))];
        series.AddPoint(m_firstX, r.valueOf(span.low));
        series.AddPoint(m_lastX, r.valueOf(span.high));
    }
    if (r.photodiodeDrawn) {
        TChartSeries &series = *channels[size_t(files::ChannelId::FD)];
        series.AddPoint(m_firstX, m_photodiodeLow ? r.valueMinimum : r.valueMaximum);
        series.AddPoint(m_lastX, m_photodiodeHigh ? r.valueMaximum : r.valueMinimum);
    }
}

ColumnReduction::ColumnReduction(const PixelMapper &horizontal, double shift)
    : m_mapper(horizontal)
    , m_shift(shift)
{
}

void ColumnReduction::Series::take(qint64 index, double x, double y, int c)
{
    if (open && c == column) {
        last = { index, x, y };
        if (y < low.y)
            low = last;
        if (y > high.y)
            high = last;
        return;
    }
    close();
    open = true;
    column = c;
    first = last = low = high = { index, x, y };
}

void ColumnReduction::Series::close()
{
    if (!open)
        return;
    open = false;
    const auto keep = [this](const Point &p) {
        x.push_back(p.x);
        y.push_back(p.y);
    };
    keep(first);
    // The lowest and the highest in their order, each once.
    const Point &a = low.index < high.index ? low : high;
    const Point &b = low.index < high.index ? high : low;
    if (a.index != first.index && a.index != last.index)
        keep(a);
    if (b.index != first.index && b.index != last.index && b.index != a.index)
        keep(b);
    if (last.index != first.index)
        keep(last);
}

void ColumnReduction::add(const sig::DecodedRecording &r)
{
    const int points = r.pointCount();
    m_x.resize(size_t(points));
    m_columns.resize(size_t(points));
    for (int p = 0; p < points; ++p) {
        m_x[size_t(p)] = r.x(p) + m_shift;
        m_columns[size_t(p)] = m_mapper(m_x[size_t(p)]);
    }
    const qint64 first = r.firstPoint();
    const bool temperature = sig::isTemperatureMode(r.axisMode);
    const double scale = temperature ? r.ValueScale : 1;
    const double offset = temperature ? r.ValueOffset : 0;
    for (int n = 1; n <= files::ThermocoupleCount && points > 0; ++n) {
        if (!r.hasChannel(n))
            continue;
        Series &series = m_series[size_t(files::thermocouple(n))];
        const quint16 *codes = r.codeData(n).data();
        for (int p = 0; p < points; ++p)
            series.take(
                first + p, m_x[size_t(p)], (codes[p] - offset) * scale, m_columns[size_t(p)]);
    }
    if (r.photodiodeDrawn) {
        Series &series = m_series[size_t(files::ChannelId::FD)];
        const quint8 *states = r.photodiodeData().data();
        for (int p = 0; p < points; ++p)
            series.take(first + p, m_x[size_t(p)], states[p] ? r.valueMaximum : r.valueMinimum,
                m_columns[size_t(p)]);
    }
}

void ColumnReduction::fill(ChartRenderer &chart)
{
    fill(channelSeries(chart));
}

void ColumnReduction::fill(const ChannelSeries &channels)
{
    for (int i = 0; i < files::ChannelCount; ++i) {
        Series &series = m_series[size_t(i)];
        series.close();
        TChartSeries &target = *channels[size_t(i)];
        target.Clear();
        for (size_t p = 0; p < series.x.size(); ++p)
            target.AddPoint(series.x[p], series.y[p]);
    }
}

namespace {

// The dash patterns of overlays in turn, in pen widths: dashes, dots, dash-dot,
// dash-dot-dot, long dashes, long dash-dot.
QList<qreal> overlayPattern(int index)
{
    static const QList<qreal> patterns[]
        = { { 4, 2 }, { 1, 2 }, { 4, 2, 1, 2 }, { 4, 2, 1, 2, 1, 2 }, { 9, 3 }, { 9, 2, 2, 2 } };
    return patterns[size_t(index) % std::size(patterns)];
}

QPen overlayPen(const QColor &colour, int index)
{
    QPen pen(colour, 1, Qt::CustomDashLine);
    pen.setDashPattern(overlayPattern(index));
    return pen;
}

} // namespace

OverlaySeries addOverlaySeries(ChartRenderer &chart, const QString &name, int index)
{
    OverlaySeries overlay;
    overlay.entry = chart.addFastLineSeries(name);
    overlay.entry->setLinePen(overlayPen(chart.Legend().FontColor, index));
    for (int i = 0; i < files::ChannelCount; ++i) {
        TFastLineSeries *series = chart.addFastLineSeries(
            name + u' ' + QString::fromLatin1(files::channelName(files::ChannelId(i))));
        series->setLinePen(overlayPen(chart.Series(i)->SeriesColor(), index));
        series->setShowInLegend(false);
        series->setActive(false);
        overlay.channels[size_t(i)] = series;
    }
    return overlay;
}

void removeOverlaySeries(ChartRenderer &chart, const OverlaySeries &overlay)
{
    for (TChartSeries *series : overlay.channels)
        chart.removeSeries(series);
    chart.removeSeries(overlay.entry);
}

void followChannelColours(ChartRenderer &chart, const OverlaySeries &overlay)
{
    for (int i = 0; i < files::ChannelCount; ++i)
        overlay.channels[size_t(i)]->setSeriesColor(chart.Series(i)->SeriesColor());
}

void setOverlayPoints(const OverlaySeries &overlay, const sig::DecodedRecording &r, double shift,
    std::vector<double> &xs)
{
    // Room for exactly the recording's points: the component-wide reservation is made for
    // the window's own recording and would cost as much again for each series here.
    showRecordingChannels(overlay.channels, r);
    for (int i = 0; i < files::ChannelCount; ++i) {
        const bool drawn
            = files::ChannelId(i) == files::ChannelId::FD ? r.photodiodeDrawn : r.hasChannel(i + 1);
        overlay.channels[size_t(i)]->Clear(drawn ? r.pointCount() : 0);
    }
    addRecordingPoints(overlay.channels, r, xs, shift);
}

QString overlayName(const QString &path)
{
    constexpr qsizetype Longest = 40;
    const QString name = files::namePart(path);
    if (name.size() <= Longest)
        return name;
    const qsizetype head = (Longest - 1) / 2;
    return name.left(head) + QChar(0x2026) + name.right(Longest - 1 - head);
}

QString shiftCaption(double shift, const QString &unit, const QLocale &locale)
{
    if (shift == 0 || !std::isfinite(shift))
        return {};
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    // The shortest text of the shift as the dialog took it (three decimals at most).
    QString number = plain.toString(std::abs(shift), 'f', 3);
    if (number.contains(plain.decimalPoint())) {
        while (number.endsWith(u'0'))
            number.chop(1);
        if (number.endsWith(plain.decimalPoint()))
            number.chop(1);
    }
    return (shift > 0 ? u'+' : QChar(0x2212)) + number + (unit.isEmpty() ? QString() : u' ' + unit);
}

QString samplesShiftUnit()
{
    return QCoreApplication::translate("chart::Overlay", "выб.");
}

void setOverlayShift(const OverlaySeries &overlay, const QString &shift)
{
    const QString name = overlay.entry->Name();
    overlay.entry->setTitle(shift.isEmpty() ? name : name + QStringLiteral("  ") + shift);
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
    } catch (const AxisException &) {
        // The axis's own message is English; the window says it in its language.
        return QCoreApplication::translate(
            "chart::TChartAxis", "Минимум оси должен быть не больше максимума");
    }
    return std::nullopt;
}

} // namespace chart
