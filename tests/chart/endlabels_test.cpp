#include "chart/chart.h"
#include "chartfixture.h"

#include <QImage>
#include <QPainter>

using namespace chart;

namespace {

// The chart painted into bounds inset by a border of an image filled with white: any pixel
// the chart writes outside its bounds would be cut off by the widget's edge.
int pixelsOutsideBounds(TChart &c)
{
    constexpr int border = 30;
    QImage image(c.width() + 2 * border, c.height() + 2 * border, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QRect bounds(border, border, c.width(), c.height());
    {
        QPainter p(&image);
        c.paintChart(p, bounds);
    }
    int outside = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!bounds.contains(x, y) && image.pixel(x, y) != qRgb(255, 255, 255))
                ++outside;
    return outside;
}

} // namespace

// The window's chart has no margins: a value axis fixed to 0..70 puts the label "70" on the
// top edge, and a time axis ending on a label puts that label on the right edge.
TEST(ChartEndLabels, LabelsOnTheAxisEndsStayInsideTheChart)
{
    TChart c;
    charttest::setUpChart(c);
    for (int i = 0; i < 100; ++i)
        c.Series(0)->AddPoint(i * 1000.0, 20 + i % 30);
    c.LeftAxis()->SetRange(0, 70);
    c.BottomAxis()->SetRange(0, 100000);
    c.ensureLayout();
    EXPECT_EQ(c.LeftAxis()->ValueToPosition(70), c.ChartRect().top());
    EXPECT_GE(c.ChartRect().top(), 13 / 2);
    EXPECT_EQ(pixelsOutsideBounds(c), 0) << "with the legend";

    // Without the legend the bottom axis runs to the right edge, its last label with it.
    c.Legend().Visible = false;
    c.invalidate();
    c.ensureLayout();
    EXPECT_EQ(c.BottomAxis()->ValueToPosition(100000), c.ChartRect().right());
    EXPECT_LT(c.ChartRect().right(), c.width() - 1);
    EXPECT_EQ(pixelsOutsideBounds(c), 0) << "without the legend";

    // Printing lays the chart out the same way, at its client size.
    QImage page(c.width() * 2, c.height() * 2, QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter p(&page);
        c.PrintInRect(p, QRect(0, 0, page.width(), page.height()));
    }
    int topRowInk = 0;
    for (int x = 0; x < page.width() / 8; ++x)
        topRowInk += page.pixel(x, 0) != c.Color().rgb() && page.pixel(x, 0) != qRgb(255, 255, 255);
    EXPECT_EQ(topRowInk, 0) << "a label cut by the page's top edge";
}

// With the top and the right axis drawn (every series hidden) those axes' own room keeps the
// end labels inside, and the plotting rectangle is not moved in further.
TEST(ChartEndLabels, AllSeriesHidden)
{
    TChart c;
    charttest::setUpChart(c);
    for (int i = 0; i < c.SeriesCount(); ++i)
        c.Series(i)->setActive(false);
    c.LeftAxis()->SetRange(0, 70);
    c.BottomAxis()->SetRange(0, 100000);
    EXPECT_EQ(pixelsOutsideBounds(c), 0);
}
