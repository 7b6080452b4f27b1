#include "chart/chart.h"
#include "chartfixture.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>
#include <limits>
#include <random>

using namespace chart;

namespace {

// A painter that already clips takes the general drawing path, one without the direct one.
QImage render(TChart &c, bool clipped = false)
{
    QImage image(c.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    if (clipped)
        p.setClipRect(image.rect());
    c.paintChart(p, c.ClientBounds());
    return image;
}

// The same chart with each series drawn as the plain polyline: the segment entering from
// the point before the shown range, then one segment per point that does not fall on the
// pixel of the last point drawn.
QImage renderPlain(TChart &c)
{
    std::vector<TFastLineSeries *> hidden;
    for (int i = 0; i < c.SeriesCount(); ++i) {
        auto *s = static_cast<TFastLineSeries *>(c.Series(i));
        s->setLinePenVisible(false);
        hidden.push_back(s);
    }
    QImage image = render(c);
    QPainter p(&image);
    p.setClipRect(c.ChartRect());
    const TChartAxis &h = *c.BottomAxis();
    const TChartAxis &v = *c.LeftAxis();
    for (TFastLineSeries *s : hidden) {
        s->setLinePenVisible(true);
        const int first = s->FirstShownIndex(), last = s->LastShownIndex();
        if (!s->Active() || first < 0)
            continue;
        p.setPen(s->LinePen());
        auto pixel = [&](int i) {
            return QPoint(h.ValueToPosition(s->XValue(i)), v.ValueToPosition(s->YValue(i)));
        };
        QPoint current = pixel(first);
        if (first > 0)
            p.drawLine(pixel(first - 1), current);
        for (int i = first + 1; i <= last; ++i) {
            const QPoint next = pixel(i);
            if (next == current)
                continue;
            p.drawLine(current, next);
            current = next;
        }
    }
    return image;
}

int differingPixels(const QImage &a, const QImage &b, QRect area = {})
{
    if (area.isNull())
        area = a.rect();
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += a.pixel(x, y) != b.pixel(x, y);
    return n;
}

// A thermocouple-like trace: slow drift, steps and noise.
void fill(TChartSeries &s, int points, unsigned generator, double noise)
{
    std::mt19937 rng(generator);
    std::normal_distribution<double> jitter(0, noise);
    double level = 1000;
    for (int i = 1; i <= points; ++i) {
        level += jitter(rng) * 0.05;
        if (i % 9973 == 0)
            level += 400;
        s.AddPoint(i, level + 300 * std::sin(i / 5000.0) + jitter(rng));
    }
}

void expectSameAsPlain(TChart &c, const char *what)
{
    const QImage fast = render(c);
    const QImage plain = renderPlain(c);
    // Inside the plotting rectangle: the plain rendering has no legend symbols.
    EXPECT_EQ(differingPixels(fast, plain, c.ChartRect()), 0) << what;
    EXPECT_EQ(differingPixels(render(c, true), plain, c.ChartRect()), 0) << what << ", clipped";
}

} // namespace

TEST(FastLineDrawing, MatchesThePlainPolylinePixelForPixel)
{
    TChart c;
    charttest::setUpChart(c, 1600, 900);
    fill(*c.Series(0), 239999, 1, 40);
    expectSameAsPlain(c, "one dense series");

    c.resize(641, 353);
    expectSameAsPlain(c, "window size");

    // Zoomed into the middle and clipped at the top and bottom.
    c.BottomAxis()->SetRange(100000.3, 100900.7);
    c.LeftAxis()->SetRange(1200, 1500);
    expectSameAsPlain(c, "zoomed");

    // So far in that neighbours lie millions of pixels outside the rectangle.
    c.BottomAxis()->SetRange(120000.2, 120000.2 + 1e-6);
    expectSameAsPlain(c, "deep zoom");

    c.BottomAxis()->setAutomatic(true);
    c.LeftAxis()->setAutomatic(true);
    c.BottomAxis()->setInverted(true);
    expectSameAsPlain(c, "inverted");
}

TEST(FastLineDrawing, SevenSeriesSparseLinesAndRepeatedX)
{
    TChart c;
    charttest::setUpChart(c, 800, 450);
    for (int i = 0; i < 7; ++i)
        fill(*c.Series(i), 34285, 10 + i, 20 + 10 * i);
    // Few points with big jumps, and runs of equal X drawn over each other.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> y(0, 3000);
    for (int i = 0; i < 60; ++i)
        c.Series(7)->AddPoint(i * 600, y(rng));
    for (int i = 0; i < 200; ++i)
        c.Series(7)->AddPoint(5000, y(rng));
    expectSameAsPlain(c, "seven series");
    c.LeftAxis()->SetRange(1000, 1400);
    c.BottomAxis()->SetRange(4990, 5200);
    expectSameAsPlain(c, "zoomed sparse");
}

TEST(FastLineDrawing, PointsOnOnePixelDrawNothing)
{
    TChart c;
    charttest::setUpChart(c);
    c.BottomAxis()->SetRange(0, 1000);
    c.LeftAxis()->SetRange(0, 1000);
    c.Series(2)->setActive(false);
    c.Series(0)->setSeriesColor(QColor(Qt::red));
    const QImage empty = render(c);
    const double x = c.BottomAxis()->PositionToValue(200);
    const double y = c.LeftAxis()->PositionToValue(100);
    for (int i = 0; i < 1000; ++i)
        c.Series(0)->AddPoint(x + i * 1e-7, y + (i % 3) * 1e-7);
    const QImage drawn = render(c);
    std::vector<QLine> lines;
    static_cast<TFastLineSeries *>(c.Series(0))
        ->collectLines(*c.BottomAxis(), *c.LeftAxis(), lines);
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(differingPixels(empty, drawn), 0);
}

TEST(ChartLayout, LegendListsActiveSeriesAndTakesRoomFromTheRight)
{
    TChart c;
    charttest::setUpChart(c);
    const QColor colours[] = { { 0, 128, 0 }, { 255, 255, 0 }, { 0, 128, 64 }, { 0, 0, 0 },
        { 0, 0, 255 }, { 255, 0, 0 }, { 255, 255, 255 }, { 128, 128, 128 } };
    for (int i = 0; i < 8; ++i) {
        c.Series(i)->setSeriesColor(colours[i]);
        c.Series(i)->AddPoint(0, i);
        c.Series(i)->AddPoint(100, 10 * i);
    }
    QImage image = render(c);
    const QRect legend = c.legendRect();
    const QRect plot = c.ChartRect();
    // Top at 10 percent of the height; eight rows of 13 pixels; right edge clear of the
    // frame and the shadow.
    EXPECT_EQ(legend.top(), 35);
    EXPECT_EQ(legend.bottom(), 35 + 8 * 13 + 2);
    EXPECT_EQ(legend.right(), 641 - 2 - 3);
    EXPECT_EQ(plot.right(), legend.left() - 19); // 3 percent of the width before the legend
    EXPECT_EQ(image.pixelColor(legend.right() - 1, legend.bottom() - 1), QColor(202, 202, 202));
    EXPECT_EQ(image.pixelColor(legend.right() + 2, legend.bottom() + 2), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(legend.right(), legend.top()), QColor(Qt::black)); // frame

    // Row symbols carry the series colour; recolouring changes symbol and line alike.
    auto symbolColour = [&](const QImage &img, int row) {
        const int y = legend.top() + 1 + row * 13 + 6;
        return img.pixelColor(legend.left() + 5, y);
    };
    EXPECT_EQ(symbolColour(image, 4), QColor(0, 0, 255));
    c.Series(4)->setSeriesColor(0x000080FFu); // orange, 0x00BBGGRR
    image = render(c);
    EXPECT_EQ(symbolColour(image, 4), QColor(255, 128, 0));
    const int x = c.BottomAxis()->ValueToPosition(50);
    int orange = 0;
    for (int y = c.ChartRect().top(); y <= c.ChartRect().bottom(); ++y)
        orange += image.pixelColor(x, y) == QColor(255, 128, 0);
    EXPECT_EQ(orange, 1);

    // Hidden series leave the legend; with all hidden there is none and four axes show.
    c.Series(0)->setActive(false);
    render(c);
    EXPECT_EQ(c.legendRect().bottom(), 35 + 7 * 13 + 2);
    const QRect withAxes = c.ChartRect();
    for (int i = 1; i < 8; ++i)
        c.Series(i)->setActive(false);
    render(c);
    EXPECT_TRUE(c.legendRect().isNull());
    EXPECT_GT(c.ChartRect().top(), withAxes.top()); // top axis
    EXPECT_GT(c.ChartRect().right(), withAxes.right()); // right axis instead of the legend
    EXPECT_LT(c.ChartRect().right(), 641 - 5);

    // A chart left at its default margins keeps 3 percent of the width at each side and 4
    // percent of the height at the top and the bottom (the window's chart has none).
    TChart plain, bare;
    for (TChart *chart : { &plain, &bare }) {
        chart->setFont(c.font());
        chart->resize(500, 300);
        chart::addChannelSeries(*chart);
        for (int i = 0; i < 8; ++i)
            chart->Series(i)->setActive(false); // no legend: the four axes take the same room
    }
    bare.setMargins(0, 0, 0, 0);
    render(plain);
    render(bare);
    EXPECT_EQ(plain.ChartRect().left() - bare.ChartRect().left(), 15);
    EXPECT_EQ(bare.ChartRect().right() - plain.ChartRect().right(), 15);
    EXPECT_EQ(plain.ChartRect().top() - bare.ChartRect().top(), 12);
    EXPECT_EQ(bare.ChartRect().bottom() - plain.ChartRect().bottom(), 12);
}

TEST(ChartLayout, AxisLabelsAndGridOnThreeHundredPixels)
{
    TChart c;
    charttest::setUpChart(c);
    // A plotting rectangle exactly 300 pixels high: the bottom axis room (title and labels
    // 13 each, tick band 5) below it, half a label's height (6) above it for the top label.
    c.setMargins(0, 0, 0, 0);
    c.resize(641, 6 + 300 + 13 + 13 + 5);
    c.Series(0)->AddPoint(0, 0);
    c.Series(0)->AddPoint(10, 1000);
    const QImage image = render(c);
    EXPECT_EQ(c.LeftAxis()->sizePixels(), 300);
    QFontMetrics fm(c.font());
    EXPECT_EQ(c.LeftAxis()->calcLabelStep(fm), 50);
    // Dotted grid at the label of 500, across the plotting rectangle.
    const int y = c.LeftAxis()->ValueToPosition(500);
    EXPECT_EQ(y, 6 + 150);
    int grey = 0;
    for (int x = c.ChartRect().left() + 1; x < c.ChartRect().right(); ++x)
        grey += image.pixelColor(x, y) == QColor(128, 128, 128);
    EXPECT_GT(grey, c.ChartRect().width() / 4);
    EXPECT_LT(grey, c.ChartRect().width());
}

TEST(ChartExport, MetafileAndPrintUseTheScreenRanges)
{
    TChart c;
    charttest::setUpChart(c);
    fill(*c.Series(0), 20000, 3, 30);
    c.BottomAxis()->SetRange(5000, 6000);
    const QImage screen = render(c);
    const QRect plot = c.ChartRect();
    const double left = c.BottomAxis()->PositionToValue(plot.left());

    const QByteArray svg = c.RenderMetafile(false, c.ClientBounds());
    QSvgRenderer renderer(svg);
    ASSERT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.viewBox(), QRect(0, 0, 640, 352));
    EXPECT_TRUE(svg.contains("5,000"));
    // Painting elsewhere leaves the screen's layout alone.
    EXPECT_EQ(c.ChartRect(), plot);
    EXPECT_EQ(c.BottomAxis()->PositionToValue(plot.left()), left);

    // Printing at the client size draws what the screen shows; at twice the size the
    // chart is scaled, not laid out anew.
    QImage page(c.size(), QImage::Format_ARGB32_Premultiplied);
    {
        QPainter p(&page);
        c.PrintInRect(p, c.ClientBounds());
    }
    EXPECT_EQ(differingPixels(page, screen), 0);
    QImage big(c.width() * 2, c.height() * 2, QImage::Format_ARGB32_Premultiplied);
    big.fill(Qt::white);
    {
        QPainter p(&big);
        c.PrintInRect(p, QRect(0, 0, big.width(), big.height()));
    }
    const QPoint legend = c.legendRect().center();
    EXPECT_EQ(big.pixelColor(2 * legend.x(), 2 * legend.y()), QColor(202, 202, 202));
    EXPECT_EQ(big.pixelColor(2 * c.legendRect().left(), 2 * legend.y()), QColor(Qt::black));
    EXPECT_EQ(big.pixelColor(2 * c.legendRect().left() - 4, 2 * legend.y()), c.Color());
    EXPECT_EQ(c.ChartRect(), plot);
}

TEST(ChartLayout, OddSizesAndValuesPaintWithoutHarm)
{
    TChart c;
    charttest::setUpChart(c);
    c.Series(0)->AddPoint(0, 1e300);
    c.Series(0)->AddPoint(1, -1e300);
    c.Series(1)->AddPoint(std::nan(""), std::nan(""));
    c.Series(2)->AddPoint(5, std::numeric_limits<double>::infinity());
    c.Series(3)->setTitle(QString());
    for (const QSize size :
        { QSize(0, 0), QSize(1, 1), QSize(7, 5), QSize(40, 900), QSize(641, 353) }) {
        c.resize(size);
        if (size.isEmpty())
            continue;
        render(c);
        c.BottomAxis()->SetRange(0.5, 0.5);
        render(c);
        c.BottomAxis()->setAutomatic(true);
    }
    EXPECT_EQ(c.size(), QSize(641, 353));
    // The series without name or title is listed by its number.
    TFastLineSeries *unnamed = c.addFastLineSeries(QString());
    unnamed->AddPoint(0, 0);
    render(c);
    EXPECT_GT(c.legendRect().height(), 8 * 13);
}

TEST(ChartLayout, ZoomIntoAFlatChannelDrawsNothingPastTheAxisEnds)
{
    TChart c;
    charttest::setUpChart(c);
    for (int i = 0; i <= 1000; ++i)
        c.Series(0)->AddPoint(i, 4095);
    const QColor grid(255, 0, 255);
    c.LeftAxis()->setGrid(QPen(grid, 1, Qt::DotLine));
    c.BottomAxis()->SetRange(40, 1000); // no bottom label near the left axis
    // A zoom into the flat line keeps the minimal range of 1e-10 (SetRange).
    for (const double minimum : { 4095.0, -100.0 }) {
        c.LeftAxis()->SetRange(minimum, minimum);
        const QImage image = render(c);
        const int start = c.LeftAxis()->startPixel(), end = c.LeftAxis()->endPixel();
        const int half = c.fontMetrics().height() / 2 + 1;
        const QRgb background = c.Color().rgba();
        int labelPixels = 0, gridPixels = 0;
        for (int y = 0; y < image.height(); ++y) {
            const bool along = y >= start - half && y <= end + half;
            // Left of the axis line: labels (a text reaching half a line past its position)
            // and ticks only along the axis.
            for (int x = 0; x < c.ChartRect().left(); ++x) {
                if (image.pixel(x, y) == background)
                    continue;
                ASSERT_TRUE(along) << minimum << ": " << x << ", " << y;
                labelPixels += x > c.ChartRect().left() - 20;
            }
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, y) != grid)
                    continue;
                ASSERT_TRUE(y >= start && y <= end) << minimum << ": " << x << ", " << y;
                ++gridPixels;
            }
        }
        EXPECT_GT(labelPixels, 50) << minimum;
        EXPECT_GT(gridPixels, 100) << minimum;
    }
}

TEST(FastLineDrawing, NaNAndInfinitePointsAreLeftOut)
{
    TChart with, without;
    charttest::setUpChart(with);
    charttest::setUpChart(without);
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    for (int i = 0; i < 3000; ++i) {
        const double y = 1000 + 300 * std::sin(i / 200.0);
        with.Series(0)->AddPoint(i, y);
        without.Series(0)->AddPoint(i, y);
        if (i % 500 == 250) {
            with.Series(0)->AddPoint(i, nan);
            with.Series(0)->AddPoint(i, inf);
            with.Series(0)->AddPoint(i, -inf);
        }
        // T2 has single points missing, which the line skips.
        const bool gap = i % 700 == 350;
        with.Series(1)->AddPoint(i, gap ? nan : 600 + i / 10.0);
        if (!gap)
            without.Series(1)->AddPoint(i, 600 + i / 10.0);
    }
    with.Series(0)->AddPoint(inf, 5000);
    with.Series(0)->AddPoint(-inf, 5000);
    with.Series(2)->AddPoint(nan, 1); // a series of nothing but NaN sets no range
    with.Series(2)->AddPoint(3, nan);
    without.Series(2)->setTitle(QString()); // listed in the legend as well, no points

    const QImage a = render(with);
    const QImage b = render(without);
    EXPECT_EQ(with.LeftAxis()->Minimum(), without.LeftAxis()->Minimum());
    EXPECT_EQ(with.LeftAxis()->Maximum(), without.LeftAxis()->Maximum());
    EXPECT_EQ(with.BottomAxis()->Minimum(), 0);
    EXPECT_EQ(with.BottomAxis()->Maximum(), 2999);
    EXPECT_EQ(differingPixels(a, b), 0);

    // Zoomed so that a missing point lies just outside the left edge.
    for (TChart *c : { &with, &without }) {
        c->BottomAxis()->SetRange(351, 1200);
        c->LeftAxis()->SetRange(500, 1500);
    }
    EXPECT_EQ(differingPixels(render(with), render(without)), 0);
}
