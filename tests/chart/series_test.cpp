#include "chart/chart.h"
#include "chartfixture.h"

#include <QImage>
#include <QPainter>
#include <cmath>
#include <limits>
#include <random>
#include <string>

using namespace chart;

namespace {

std::vector<double> xs(const TChartSeries &s)
{
    std::vector<double> v;
    for (int i = 0; i < s.Count(); ++i)
        v.push_back(s.XValue(i));
    return v;
}

std::vector<double> ys(const TChartSeries &s)
{
    std::vector<double> v;
    for (int i = 0; i < s.Count(); ++i)
        v.push_back(s.YValue(i));
    return v;
}

} // namespace

TEST(FastLineSeriesValues, OutOfOrderXIsInsertedAndEqualXKeepArrivalOrder)
{
    TFastLineSeries s(QStringLiteral("T1"));
    EXPECT_EQ(s.AddPoint(5, 50), 0);
    EXPECT_EQ(s.AddPoint(3, 30), 0);
    EXPECT_EQ(s.AddPoint(4, 40), 1);
    EXPECT_EQ(xs(s), (std::vector<double> { 3, 4, 5 }));
    EXPECT_EQ(ys(s), (std::vector<double> { 30, 40, 50 }));

    EXPECT_EQ(s.AddPoint(4, 41), 2); // after the 4 already there
    EXPECT_EQ(s.AddPoint(5, 51), 4);
    EXPECT_EQ(s.AddPoint(-1, -10), 0);
    EXPECT_EQ(xs(s), (std::vector<double> { -1, 3, 4, 4, 5, 5 }));
    EXPECT_EQ(ys(s), (std::vector<double> { -10, 30, 40, 41, 50, 51 }));

    // The Y list keeps arrival order; a descending list mirrors the ascending rule.
    TChartValueList down(QStringLiteral("D"), loDescending);
    for (double v : { 5.0, 7.0, 6.0, 6.0, 1.0 })
        down.insertAt(down.insertionIndex(v), v);
    std::vector<double> got;
    for (int i = 0; i < down.Count(); ++i)
        got.push_back(down.Value(i));
    EXPECT_EQ(got, (std::vector<double> { 7, 6, 6, 5, 1 }));
}

TEST(FastLineSeriesValues, StatisticsMultiplierAndClear)
{
    setDefaultListCapacity(1000);
    TChart c;
    TFastLineSeries &s = *c.addFastLineSeries(QStringLiteral("T1"));
    EXPECT_EQ(s.MinYValue(), 0);
    EXPECT_EQ(s.MaxYValue(), 0);
    s.AddPoint(1, -2);
    s.AddPoint(2, 6);
    EXPECT_EQ(s.MinYValue(), -2);
    EXPECT_EQ(s.MaxYValue(), 6);
    EXPECT_EQ(s.YValues().Total(), 4);
    EXPECT_EQ(s.YValues().TotalABS(), 8);
    s.AddPoint(3, 10); // statistics follow the next change
    EXPECT_EQ(s.MaxYValue(), 10);
    s.YValues().setMultiplier(0.5);
    EXPECT_EQ(s.YValue(2), 5);
    EXPECT_EQ(s.MaxYValue(), 5);
    EXPECT_EQ(s.MinYValue(), -1);

    s.Clear();
    EXPECT_EQ(s.Count(), 0);
    EXPECT_EQ(s.MinYValue(), 0);
    EXPECT_EQ(s.MaxXValue(), 0);
    EXPECT_GE(s.XValues().capacity(), 1000u);
    EXPECT_GE(s.YValues().capacity(), 1000u);
    s.Clear(); // an empty series clears again without complaint
    EXPECT_EQ(s.YValues().Total(), 0);
    setDefaultListCapacity(0);
}

namespace {

// The statistics as their definition has them: over the read values, leaving out NaN and
// infinite ones; 0 when no value counts.
void expectStatistics(const TChartValueList &list, const std::string &where)
{
    double lo = 0, hi = 0, total = 0, totalAbs = 0;
    int nonFinite = 0;
    bool found = false;
    for (int i = 0; i < list.Count(); ++i) {
        const double v = list.Value(i);
        if (!std::isfinite(v)) {
            ++nonFinite;
            continue;
        }
        lo = found ? std::min(lo, v) : v;
        hi = found ? std::max(hi, v) : v;
        found = true;
        total += v;
        totalAbs += std::abs(v);
    }
    EXPECT_EQ(list.NonFiniteCount(), nonFinite) << where;
    EXPECT_EQ(list.MinValue(), lo) << where;
    EXPECT_EQ(list.MaxValue(), hi) << where;
    EXPECT_EQ(list.Total(), total) << where;
    EXPECT_EQ(list.TotalABS(), totalAbs) << where;
}

} // namespace

TEST(FastLineSeriesValues, StatisticsFollowEveryKindOfChange)
{
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    // Ascending values with infinities at both ends, read through multipliers of either sign
    // and through ones that overflow or lose the order.
    TChartValueList x(QStringLiteral("X"), loAscending);
    for (double v : { -inf, -inf, -5.0, -1.0, 0.0, 2.0, 2.0, 1e307, inf })
        x.append(v);
    ASSERT_TRUE(x.storedAscending());
    for (double k : { 1.0, -2.0, 10.0, -10.0, 0.0, inf, nan, 0.5 }) {
        x.setMultiplier(k);
        expectStatistics(x, "ascending, multiplier " + std::to_string(k));
    }
    x.clear(0);
    x.append(nan); // a single NaN is in order too
    expectStatistics(x, "single NaN");
    x.append(nan);
    expectStatistics(x, "two NaN");
    x.clear(0);
    expectStatistics(x, "cleared");

    // Random values, now and then NaN or infinite, added at the end or inserted anywhere,
    // into lists that keep or lose their order, with the multiplier changed between.
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> uniform(-1000, 1000);
    std::uniform_int_distribution<int> pick(0, 99);
    for (int round = 0; round < 40; ++round) {
        TChartValueList list(QStringLiteral("Y"), round % 2 ? loNone : loAscending);
        list.clear(round % 3 * 16);
        double rising = -500;
        const int steps = 50 + pick(rng) * 5;
        for (int step = 0; step < steps; ++step) {
            const int what = pick(rng);
            double v = round % 4 < 2 ? (rising += uniform(rng) / 1000 + 1) : uniform(rng);
            if (what < 3)
                v = nan;
            else if (what < 5)
                v = what == 3 ? inf : -inf;
            if (what >= 95 && list.Count() > 0) {
                const int at = std::uniform_int_distribution<int>(0, list.Count())(rng);
                list.insertAt(at, v);
            } else if (list.appends(v)) {
                list.append(v);
            } else {
                list.insertAt(list.insertionIndex(v), v);
            }
            if (what == 50)
                list.setMultiplier(pick(rng) < 50 ? -0.25 : 3);
            if (step % 7 == 0)
                expectStatistics(
                    list, "round " + std::to_string(round) + " step " + std::to_string(step));
        }
        expectStatistics(list, "round " + std::to_string(round));
    }
}

TEST(FastLineSeriesValues, PointColoursAndLabelsStaySparseAndFollowInsertions)
{
    TFastLineSeries s(QStringLiteral("T2"));
    s.setSeriesColor(0x0000FFFFu); // yellow as 0x00BBGGRR
    EXPECT_EQ(s.SeriesColor(), QColor(255, 255, 0));
    EXPECT_EQ(s.LinePen().color(), QColor(255, 255, 0));
    EXPECT_EQ(s.SeriesColorBgr(), 0x0000FFFFu);
    for (int i = 0; i < 100000; ++i)
        s.AddPoint(i, i % 7);
    EXPECT_EQ(s.sparseEntries(), 0u); // a recording holds nothing but its values

    s.AddPoint(10.5, 1, QStringLiteral("mark"), Qt::blue);
    s.AddPoint(5.5, 1, QString(), Qt::red); // moves the marked point one place up
    EXPECT_EQ(s.sparseEntries(), 3u); // a colour and a label, and a colour
    EXPECT_EQ(s.Label(12), QStringLiteral("mark"));
    EXPECT_EQ(s.ValueColor(12), QColor(Qt::blue));
    EXPECT_EQ(s.ValueColor(6), QColor(Qt::red));
    EXPECT_EQ(s.ValueColor(7), QColor(255, 255, 0));
    EXPECT_TRUE(s.Label(11).isEmpty());

    QPen pen(QColor(0, 0, 255), 1);
    s.setLinePen(pen);
    EXPECT_EQ(s.SeriesColor(), QColor(0, 0, 255));
}

TEST(FastLineSeriesShownRange, FollowsTheBottomAxis)
{
    TChart c;
    charttest::setUpChart(c);
    TChartSeries &s = *c.Series(0);
    for (int i = 0; i <= 100; ++i)
        s.AddPoint(i, i % 10);
    QImage image(c.size(), QImage::Format_ARGB32_Premultiplied);
    auto paint = [&] {
        QPainter p(&image);
        c.paintChart(p, c.ClientBounds());
    };
    paint();
    EXPECT_EQ(s.FirstShownIndex(), 0);
    EXPECT_EQ(s.LastShownIndex(), 100);

    // Zoomed into the middle: from the first point inside to the first point beyond.
    c.BottomAxis()->SetRange(20.5, 60.5);
    paint();
    EXPECT_EQ(s.FirstShownIndex(), 21);
    EXPECT_EQ(s.LastShownIndex(), 61);
    // The segments from point 20 and to point 61 reach the rectangle's edges.
    auto lineAt = [&](int x) {
        int n = 0;
        for (int y = c.ChartRect().top(); y <= c.ChartRect().bottom(); ++y)
            n += image.pixelColor(x, y) == s.SeriesColor();
        return n;
    };
    EXPECT_GT(lineAt(c.ChartRect().left() + 1), 0);
    EXPECT_GT(lineAt(c.ChartRect().right() - 1), 0);

    // Every point left of the range: nothing drawn.
    c.BottomAxis()->SetRange(200, 300);
    paint();
    EXPECT_EQ(s.FirstShownIndex(), -1);
    EXPECT_EQ(s.LastShownIndex(), -1);

    // A hidden or empty series shows nothing either.
    c.BottomAxis()->setAutomatic(true);
    s.setActive(false);
    paint();
    EXPECT_EQ(s.LastShownIndex(), -1);
    EXPECT_EQ(c.Series(1)->LastShownIndex(), -1);
}

TEST(FastLineSeriesValues, ChannelSeriesInFormOrderWithTheirDesignColours)
{
    TChart c;
    chart::addChannelSeries(c);
    const std::pair<const char *, QColor> expected[] = { { "T1", QColor(0, 128, 0) },
        { "T2", QColor(255, 255, 0) }, { "T3", QColor(0, 128, 64) }, { "T4", QColor(0, 0, 0) },
        { "T5", QColor(0, 0, 255) }, { "T6", QColor(255, 0, 0) }, { "T7", QColor(255, 255, 255) },
        { "FD", QColor(128, 128, 128) } };
    ASSERT_EQ(c.SeriesCount(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(c.Series(i)->Name(), QString::fromLatin1(expected[i].first));
        EXPECT_EQ(c.Series(i)->SeriesColor(), expected[i].second) << i;
        EXPECT_TRUE(c.Series(i)->Active());
    }
    EXPECT_EQ(c.Series(2)->SeriesColorBgr(), 4227072u);
}
