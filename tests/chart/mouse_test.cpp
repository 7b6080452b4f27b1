#include "chart/chart.h"
#include "chartfixture.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <cmath>

using namespace chart;

namespace {

// The window's chart, shown, with one recording in T1 and T2.
class ChartMouse : public ::testing::Test
{
protected:
    TChart c;

    void SetUp() override
    {
        charttest::setUpChart(c);
        for (int i = 0; i <= 1000; ++i) {
            c.Series(0)->AddPoint(i, 500 + 400 * std::sin(i / 100.0));
            c.Series(1)->AddPoint(i, 300 + i / 10.0);
        }
        c.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
        c.repaint();
    }

    QRect plot() { return c.ChartRect(); }

    void drag(Qt::MouseButton button, QPoint from, QPoint to)
    {
        QTest::mousePress(&c, button, {}, from);
        QTest::mouseMove(&c, (from + to) / 2);
        QTest::mouseMove(&c, to);
        QTest::mouseRelease(&c, button, {}, to);
        c.repaint();
    }

    struct Ranges
    {
        double bMin, bMax, lMin, lMax;
    };
    Ranges ranges()
    {
        c.ensureLayout();
        return { c.BottomAxis()->Minimum(), c.BottomAxis()->Maximum(), c.LeftAxis()->Minimum(),
            c.LeftAxis()->Maximum() };
    }
};

} // namespace

TEST_F(ChartMouse, DragRightAndDownZoomsToTheRectangle)
{
    QSignalSpy zoomed(&c, &TChart::OnZoom);
    const QPoint from = plot().topLeft() + QPoint(60, 40);
    const QPoint to = from + QPoint(100, 80);
    const double x0 = c.BottomAxis()->PositionToValue(from.x());
    const double x1 = c.BottomAxis()->PositionToValue(to.x());
    const double yTop = c.LeftAxis()->PositionToValue(from.y());
    const double yBottom = c.LeftAxis()->PositionToValue(to.y());
    drag(Qt::LeftButton, from, to);
    EXPECT_EQ(zoomed.count(), 1);
    EXPECT_TRUE(c.Zoomed());
    EXPECT_FALSE(c.BottomAxis()->Automatic());
    EXPECT_DOUBLE_EQ(c.BottomAxis()->Minimum(), x0);
    EXPECT_DOUBLE_EQ(c.BottomAxis()->Maximum(), x1);
    EXPECT_DOUBLE_EQ(c.LeftAxis()->Minimum(), yBottom);
    EXPECT_DOUBLE_EQ(c.LeftAxis()->Maximum(), yTop);
    EXPECT_LT(x0, x1);
    EXPECT_LT(yBottom, yTop);
}

TEST_F(ChartMouse, UndoAfterTwoZoomsRestoresTheRangesBeforeTheFirst)
{
    c.LeftAxis()->SetRange(0, 1000); // the user's fixed range comes back as it was
    c.repaint();
    const Ranges before = ranges();
    QSignalSpy undone(&c, &TChart::OnUndoZoom);
    drag(Qt::LeftButton, plot().topLeft() + QPoint(20, 20), plot().topLeft() + QPoint(300, 200));
    drag(Qt::LeftButton, plot().topLeft() + QPoint(30, 30), plot().topLeft() + QPoint(200, 150));
    ASSERT_NE(ranges().bMax, before.bMax);
    drag(Qt::LeftButton, plot().center(), plot().center() - QPoint(50, 50));
    EXPECT_EQ(undone.count(), 1);
    EXPECT_FALSE(c.Zoomed());
    EXPECT_TRUE(c.BottomAxis()->Automatic());
    EXPECT_FALSE(c.LeftAxis()->Automatic());
    const Ranges after = ranges();
    EXPECT_EQ(after.bMin, 0);
    EXPECT_EQ(after.bMax, 1000);
    EXPECT_EQ(after.lMin, 0);
    EXPECT_EQ(after.lMax, 1000);

    // A second undo without a zoom between changes nothing; new data rescales the axis
    // that went back to automatic.
    c.CancelZoom();
    c.Series(0)->AddPoint(2000, 0);
    EXPECT_EQ(ranges().bMax, 2000);
    EXPECT_EQ(ranges().lMax, 1000);
}

TEST_F(ChartMouse, SixteenPixelsOrLessNeitherZoomsNorUndoes)
{
    const Ranges before = ranges();
    const QPoint from = plot().topLeft() + QPoint(50, 50);
    drag(Qt::LeftButton, from, from + QPoint(16, 100));
    drag(Qt::LeftButton, from, from + QPoint(100, 16));
    drag(Qt::LeftButton, from, from + QPoint(-16, -16));
    EXPECT_FALSE(c.Zoomed());
    EXPECT_TRUE(c.BottomAxis()->Automatic());
    EXPECT_EQ(ranges().bMax, before.bMax);
    drag(Qt::LeftButton, from, from + QPoint(17, 17));
    EXPECT_TRUE(c.Zoomed());
    // Up and to the right by more than 16 pixels undoes.
    drag(Qt::LeftButton, from + QPoint(0, 100), from + QPoint(40, 60));
    EXPECT_FALSE(c.Zoomed());
    EXPECT_TRUE(c.BottomAxis()->Automatic());
    EXPECT_TRUE(c.LeftAxis()->Automatic());
}

TEST_F(ChartMouse, RightDragScrollsWithTheMouseUntilItLeavesThePlot)
{
    QSignalSpy scrolled(&c, &TChart::OnScroll);
    const Ranges before = ranges();
    const double xPerPixel = (before.bMax - before.bMin) / c.BottomAxis()->sizePixels();
    const double yPerPixel = (before.lMax - before.lMin) / c.LeftAxis()->sizePixels();
    const QPoint from = plot().center();
    QTest::mousePress(&c, Qt::RightButton, {}, from);
    QTest::mouseMove(&c, from + QPoint(40, 30));
    c.repaint();
    // Dragged right: earlier X values come into view; dragged down: higher Y values.
    Ranges now = ranges();
    EXPECT_NEAR(now.bMin, before.bMin - 40 * xPerPixel, 1e-9);
    EXPECT_NEAR(now.bMax, before.bMax - 40 * xPerPixel, 1e-9);
    EXPECT_NEAR(now.lMin, before.lMin + 30 * yPerPixel, 1e-9);
    EXPECT_NEAR(now.lMax, before.lMax + 30 * yPerPixel, 1e-9);
    EXPECT_EQ(scrolled.count(), 1);
    EXPECT_TRUE(c.scrollDrag().Active);

    // Out of the plotting rectangle the drag ends; moving back does nothing more.
    QTest::mouseMove(&c, QPoint(plot().right() + 5, from.y()));
    EXPECT_FALSE(c.scrollDrag().Active);
    QTest::mouseMove(&c, from);
    EXPECT_EQ(ranges().bMin, now.bMin);
    QTest::mouseRelease(&c, Qt::RightButton, {}, from);

    // Releasing the button ends a drag too, and undo brings back the automatic ranges.
    QTest::mousePress(&c, Qt::RightButton, {}, from);
    QTest::mouseMove(&c, from + QPoint(-10, 0));
    QTest::mouseRelease(&c, Qt::RightButton, {}, from + QPoint(-10, 0));
    EXPECT_FALSE(c.scrollDrag().Active);
    QTest::mouseMove(&c, from + QPoint(-50, 0));
    EXPECT_NEAR(ranges().bMin, now.bMin + 10 * xPerPixel, 1e-9);
    c.CancelZoom();
    EXPECT_EQ(ranges().bMin, before.bMin);
    EXPECT_TRUE(c.LeftAxis()->Automatic());
}

TEST_F(ChartMouse, LeavingTheControlEndsAScroll)
{
    QTest::mousePress(&c, Qt::RightButton, {}, plot().center());
    ASSERT_TRUE(c.scrollDrag().Active);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&c, &leave);
    EXPECT_FALSE(c.scrollDrag().Active);
    QTest::mouseRelease(&c, Qt::RightButton, {}, plot().center());
}

TEST_F(ChartMouse, PressOnTheLegendOrOutsideStartsNothing)
{
    const QRect legend = c.legendRect();
    ASSERT_FALSE(legend.isNull());
    QTest::mousePress(&c, Qt::LeftButton, {}, legend.center());
    EXPECT_FALSE(c.zoomDrag().Active);
    QTest::mouseMove(&c, legend.center() + QPoint(-200, 100));
    QTest::mouseRelease(&c, Qt::LeftButton, {}, legend.center() + QPoint(-200, 100));
    EXPECT_FALSE(c.Zoomed());
    // Right of the legend, in the panel's empty border.
    QTest::mousePress(&c, Qt::RightButton, {}, QPoint(c.width() - 1, c.height() / 2));
    EXPECT_FALSE(c.scrollDrag().Active);
    QTest::mouseRelease(&c, Qt::RightButton, {}, QPoint(c.width() - 1, c.height() / 2));
    // A press on an axis does start a drag.
    QTest::mousePress(&c, Qt::LeftButton, {}, QPoint(plot().center().x(), plot().bottom() + 8));
    EXPECT_TRUE(c.zoomDrag().Active);
    QTest::mouseRelease(&c, Qt::LeftButton, {}, QPoint(plot().center().x(), plot().bottom() + 8));
}

TEST_F(ChartMouse, WithEverySeriesHiddenOnlyTheAxesTakeAPress)
{
    for (int i = 0; i < c.SeriesCount(); ++i)
        c.Series(i)->setActive(false);
    c.repaint();
    QTest::mousePress(&c, Qt::LeftButton, {}, plot().center());
    EXPECT_FALSE(c.zoomDrag().Active);
    QTest::mouseRelease(&c, Qt::LeftButton, {}, plot().center());
    QTest::mousePress(&c, Qt::LeftButton, {}, QPoint(plot().left() - 10, plot().center().y()));
    EXPECT_TRUE(c.zoomDrag().Active);
    QTest::mouseRelease(&c, Qt::LeftButton, {}, QPoint(plot().left() - 10, plot().center().y()));
}

TEST_F(ChartMouse, WheelMovesTheVerticalAxesByThreePercent)
{
    const Ranges before = ranges();
    const double span = before.lMax - before.lMin;
    auto wheel = [&](int delta) {
        QWheelEvent event(QPointF(plot().center()), QPointF(c.mapToGlobal(plot().center())),
            QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&c, &event);
    };
    wheel(-120); // towards the user
    EXPECT_FALSE(c.LeftAxis()->Automatic());
    EXPECT_FALSE(c.LeftAxis()->AutomaticMinimum());
    EXPECT_NEAR(c.LeftAxis()->Minimum(), before.lMin + 0.03 * span, 1e-9);
    EXPECT_NEAR(c.LeftAxis()->Maximum(), before.lMax + 0.03 * span, 1e-9);
    wheel(240);
    EXPECT_NEAR(c.LeftAxis()->Minimum(), before.lMin + (0.03 - 0.03 - 0.03) * span, 1e-6);
    EXPECT_EQ(c.BottomAxis()->Minimum(), before.bMin);
    EXPECT_TRUE(c.BottomAxis()->Automatic());
}

TEST_F(ChartMouse, RubberBandInvertsOnlyItsOutline)
{
    const QImage still = c.grab().toImage();
    const QPoint from = plot().topLeft() + QPoint(30, 30);
    const QPoint to = from + QPoint(120, 90);
    QTest::mousePress(&c, Qt::LeftButton, {}, from);
    QTest::mouseMove(&c, to);
    c.repaint();
    const QImage dragging = c.grab().toImage();
    const QRect band = QRect(from, to);
    int changed = 0, outside = 0;
    for (int y = 0; y < still.height(); ++y)
        for (int x = 0; x < still.width(); ++x) {
            if (still.pixel(x, y) == dragging.pixel(x, y))
                continue;
            ++changed;
            const bool onOutline
                = (x == band.left() || x == band.right() || y == band.top() || y == band.bottom())
                && band.contains(x, y);
            outside += !onOutline;
        }
    EXPECT_GT(changed, 300);
    EXPECT_EQ(outside, 0);
    QTest::mouseRelease(&c, Qt::LeftButton, {}, to);
    c.repaint();
    EXPECT_TRUE(c.Zoomed());
}

TEST_F(ChartMouse, ManyPointsRepaintOnce)
{
    struct PaintCounter : QObject
    {
        int paints = 0;
        bool eventFilter(QObject *, QEvent *e) override
        {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    QApplication::processEvents();
    c.installEventFilter(&counter);
    c.Series(0)->Clear();
    for (int i = 0; i < 50000; ++i)
        c.Series(0)->AddPoint(i, i % 100);
    QTest::qWait(50);
    QApplication::processEvents();
    c.removeEventFilter(&counter);
    EXPECT_EQ(counter.paints, 1);
}

TEST_F(ChartMouse, ScreenFollowsDataFontAndSize)
{
    auto offscreen = [&] {
        QImage image(c.size(), QImage::Format_ARGB32_Premultiplied);
        QPainter p(&image);
        c.paintChart(p, c.ClientBounds());
        return image;
    };
    auto screen = [&] {
        QApplication::processEvents();
        return c.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    c.Series(2)->AddPoint(500, 5000);
    EXPECT_EQ(screen(), offscreen());
    c.setFont(charttest::fontOfHeight(16));
    EXPECT_EQ(screen(), offscreen());
    c.resize(500, 300);
    EXPECT_EQ(screen(), offscreen());
    c.Series(0)->setActive(false);
    EXPECT_EQ(screen(), offscreen());
}

TEST_F(ChartMouse, WheelOnAFlatChannelMovesWithoutWidening)
{
    // An unconnected thermocouple reads a flat 4095.
    for (int s = 0; s < 2; ++s) {
        c.Series(s)->Clear();
        for (int i = 0; i <= 1000; ++i)
            c.Series(s)->AddPoint(i, 4095);
    }
    c.repaint();
    EXPECT_EQ(c.LeftAxis()->workingRange(), 0);
    QWheelEvent event(QPointF(plot().center()), QPointF(c.mapToGlobal(plot().center())), QPoint(),
        QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&c, &event);
    c.repaint();
    EXPECT_FALSE(c.LeftAxis()->Automatic());
    EXPECT_EQ(c.LeftAxis()->Minimum(), 4095);
    EXPECT_EQ(c.LeftAxis()->Maximum(), 4095);
    EXPECT_EQ(c.LeftAxis()->workingRange(), 0);
    // The line stays at the centre of the axis.
    const QImage image = c.grab().toImage();
    const int x = c.BottomAxis()->ValueToPosition(500);
    EXPECT_EQ(image.pixelColor(x, c.LeftAxis()->centrePixel()), c.Series(1)->SeriesColor());
}
