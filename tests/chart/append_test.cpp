#include "channelchart/channelchart.h"
#include "chart/chart.h"
#include "chartfixture.h"
#include "sim/recording.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <QTest>

using namespace chart;

namespace {

// The bytes of a measurement as the board sends them: `blocks` blocks of the simulator's
// recording of the channels in mask, 500 data bytes each.
QByteArray boardArray(quint8 mask, int blocks)
{
    const sim::Recording recording(
        11, 1, mask, sim::samplePeriodCycles(1, 1), std::int64_t(blocks) * 250, false);
    QByteArray bytes;
    std::uint8_t block[sim::kBlockReplyBytes];
    for (int b = 0; b < blocks; ++b) {
        recording.fillBlock(false, b, block);
        bytes.append(reinterpret_cast<const char *>(block), sim::kBlockDataBytes);
    }
    return bytes;
}

sig::DisplaySettings adcSettings(quint8 mask)
{
    sig::DisplaySettings s;
    s.checkedChannels = mask;
    s.axisMode = sig::AxisMode::AdcTime;
    s.channelIntervalUs = 3055 / 14.7456;
    return s;
}

QImage render(TChart &c)
{
    QImage image(c.size(), QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    c.paintChart(painter, c.ClientBounds());
    return image;
}

// The parts of the chart its paint events covered.
class PaintLog : public QObject
{
public:
    explicit PaintLog(QWidget &w) { w.installEventFilter(this); }
    std::vector<QRect> parts;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            parts.push_back(static_cast<QPaintEvent *>(event)->region().boundingRect());
        return false;
    }
};

// T7 drawn with T1's points, over them: a line of T1 painted again over the ones of T7
// shows.
void addTwin(TChart &c, const sig::DecodedRecording &r)
{
    for (int p = 0; p < r.pointCount(); ++p)
        c.Series(6)->AddPoint(r.x(p), r.y(1, p));
}

// A chart of the window's kind for the recording's channels, shown.
void show(TChart &c, QSize size, const sig::DecodedRecording &r)
{
    charttest::setUpChart(c, size.width(), size.height());
    showRecordingChannels(channelSeries(c), r);
    setAxisTitles(c, r);
    c.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
}

} // namespace

// A measurement drawn block by block as the blocks arrive, through the window's fill, ends as
// the picture of the whole recording drawn in one go: dense columns, lines a few columns
// long (and another series' over them), and lines that leave a fixed value range under the
// legend. Most blocks repaint their columns alone.
TEST(ChartAppend, BlockByBlockEndsAsTheWholeRecording)
{
    struct Case
    {
        quint8 mask;
        int blocks;
        QSize size;
        int pointSkip = 1;
        // The value range: automatic, fixed to the recording's, or fixed across the middle
        // third of it.
        enum { Automatic, Whole, Middle } range = Automatic;
        bool twin = false;
        bool legendOver = false; // the legend over the plotting rectangle
    };
    const std::vector<Case> cases {
        { 0x25, 240, QSize(641, 353) },
        { 0x01, 24, QSize(1600, 900), 8, Case::Whole, true },
        { 0x03, 60, QSize(800, 450), 1, Case::Middle, false, true },
    };
    for (const Case &k : cases) {
        const QByteArray array = boardArray(k.mask, k.blocks);
        sig::DisplaySettings settings = adcSettings(k.mask);
        settings.pointSkip = k.pointSkip;
        sig::ChartDecoder decoder;
        const sig::DecodedRecording whole = decoder.decode(array, settings);
        const double third
            = k.range == Case::Middle ? (whole.rawMaximum - whole.rawMinimum) / 3 : 0;
        std::vector<double> xs;

        TChart once;
        show(once, k.size, whole);
        once.Series(6)->setActive(k.twin);
        once.Legend().ResizeChart = !k.legendOver;
        once.invalidate();
        if (k.range != Case::Automatic)
            once.LeftAxis()->SetRange(whole.rawMinimum + third, whole.rawMaximum - third);
        addRecordingPoints(once, whole, xs);
        if (k.twin)
            addTwin(once, whole);

        TChart live;
        sig::ChartStream stream(decoder, array.size(), settings);
        show(live, k.size, stream.recording());
        live.Series(6)->setActive(k.twin);
        live.Legend().ResizeChart = !k.legendOver;
        live.invalidate();
        if (k.range != Case::Automatic)
            live.LeftAxis()->SetRange(whole.rawMinimum + third, whole.rawMaximum - third);
        live.BottomAxis()->setReservedRange(whole.x(0), whole.x(whole.pointCount() - 1));
        QCoreApplication::processEvents();
        PaintLog log(live);
        for (qsizetype at = 0; at < array.size(); at += sim::kBlockDataBytes) {
            stream.decode(array.constData() + at, sim::kBlockDataBytes);
            addRecordingPoints(live, stream.recording(), xs);
            if (k.twin)
                addTwin(live, stream.recording());
            QCoreApplication::processEvents();
        }
        // A block's points reach the chart in the second turn of the event loop after it
        // (the look at them is queued, and it posts the paint): most paints show two.
        const auto partial = std::count_if(log.parts.begin(), log.parts.end(),
            [&](const QRect &part) { return part.width() < live.width() / 4; });
        EXPECT_GE(log.parts.size(), size_t(k.blocks / 3)) << k.size.width();
        EXPECT_GT(partial, qsizetype(log.parts.size() / 2)) << k.size.width();

        const QImage livePicture = live.grab().toImage();
        EXPECT_TRUE(livePicture == once.grab().toImage()) << k.size.width();
        EXPECT_TRUE(
            livePicture.convertToFormat(QImage::Format_ARGB32_Premultiplied) == render(live))
            << k.size.width();
    }
}

// One block appended to a chart that shows the first half of a recording: the chart asks to
// paint the columns from the last point it drew to its new last point, from the top to the
// bottom of the plotting rectangle, paints only those into its picture, and reduces only the
// new points and those of its last column again. A block that brings a new extreme of the
// value axis, or points beyond the time axis's range, repaints all of it.
TEST(ChartAppend, ABlockRepaintsOnlyItsColumns)
{
    const quint8 mask = 0x01;
    const QByteArray array = boardArray(mask, 200);
    sig::ChartDecoder decoder;
    const sig::DecodedRecording whole = decoder.decode(array, adcSettings(mask));
    TChart c;
    show(c, QSize(641, 353), whole);
    c.BottomAxis()->setReservedRange(whole.x(0), whole.x(whole.pointCount() - 1));
    c.LeftAxis()->setReservedRange(whole.rawMinimum, whole.rawMaximum);
    auto &series = *static_cast<TFastLineSeries *>(c.Series(0));
    const int half = whole.pointCount() / 2;
    std::vector<double> x, y;
    for (int p = 0; p < whole.pointCount(); ++p) {
        x.push_back(whole.x(p));
        y.push_back(whole.y(1, p));
    }
    PaintLog log(c);
    series.appendPoints(x.data(), y.data(), half);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.parts.empty(); }));
    ASSERT_EQ(c.lastPaintedPart(), c.rect()); // the axes' new ranges repaint all
    QCoreApplication::processEvents();
    log.parts.clear();
    const long long reducedBefore = series.reducedPoints();
    series.appendPoints(x.data() + half, y.data() + half, 250);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.parts.empty(); }));
    const QRect plot = c.ChartRect();
    const int from = c.BottomAxis()->ValueToPosition(x[half - 1]);
    const int to = c.BottomAxis()->ValueToPosition(x[half + 249]);
    const QRect columns(QPoint(from, plot.top()), QPoint(to, plot.bottom()));
    ASSERT_EQ(log.parts.size(), 1u);
    EXPECT_EQ(log.parts[0], columns);
    EXPECT_EQ(c.lastPaintedPart(), columns);
    const int perColumn = whole.pointCount() / plot.width() + 2;
    EXPECT_LE(series.reducedPoints() - reducedBefore, 250 + perColumn);
    EXPECT_TRUE(
        c.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == render(c));

    // Above the highest point so far: the value axis grows.
    log.parts.clear();
    const double high = c.LeftAxis()->Maximum() + 100;
    series.appendPoints(x.data() + half + 250, &high, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.parts.empty(); }));
    EXPECT_EQ(c.lastPaintedPart(), c.rect());
    EXPECT_EQ(log.parts.back(), c.rect());

    // Past the reserved end of the time axis.
    log.parts.clear();
    const double later = x.back() + 1, level = y[half];
    series.appendPoints(&later, &level, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.parts.empty(); }));
    EXPECT_EQ(c.lastPaintedPart(), c.rect());
    EXPECT_TRUE(
        c.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == render(c));
}

// A point appended behind a long line: the part painted again widens over that line, which
// is painted whole, under the later series that crosses it, as a whole paint has it.
TEST(ChartAppend, ALineAcrossThePartStaysUnderLaterSeries)
{
    TChart c;
    charttest::setUpChart(c);
    for (int i = 2; i < files::ChannelCount; ++i)
        c.Series(i)->setActive(false);
    c.BottomAxis()->setReservedRange(0, 200);
    c.LeftAxis()->setReservedRange(0, 100);
    TChartSeries &steep = *c.Series(0), &flat = *c.Series(1);
    steep.AddPoint(70, 0);
    steep.AddPoint(100, 100);
    for (int i = 0; i <= 800; ++i)
        flat.AddPoint(i / 4.0, 50);
    c.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&c));
    PaintLog log(c);
    c.repaint();
    log.parts.clear();
    steep.AddPoint(101, 60);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.parts.empty(); }));
    const TChartAxis &x = *c.BottomAxis();
    const QRect plot = c.ChartRect();
    EXPECT_EQ(log.parts[0],
        QRect(QPoint(x.ValueToPosition(100), plot.top()),
            QPoint(x.ValueToPosition(101), plot.bottom())));
    EXPECT_EQ(c.lastPaintedPart(),
        QRect(QPoint(x.ValueToPosition(70), plot.top()),
            QPoint(x.ValueToPosition(101), plot.bottom())));
    EXPECT_TRUE(
        c.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied) == render(c));
}

// The direct writing of a line to the neighbouring column takes the raster engine's pixels
// for every height a chart can have, up and down, left and right, and at the clipping edges.
TEST(ColumnStep, MatchesTheRasterEngine)
{
    const int height = 2100;
    QImage image(4, height + 1, QImage::Format_ARGB32_Premultiplied);
    const QRgb ink = qRgb(0, 128, 0);
    for (const int dx : { 1, -1 }) {
        for (int dy = -height; dy <= height; ++dy) {
            const int x0 = dx > 0 ? 1 : 2, x1 = x0 + dx;
            const int y0 = dy >= 0 ? 0 : height, y1 = y0 + dy;
            image.fill(Qt::white);
            {
                QPainter p(&image);
                p.setClipRect(QRect(QPoint(1, 0), QPoint(2, height)));
                p.setPen(QPen(QColor(ink), 1));
                p.drawLine(x0, y0, x1, y1);
            }
            const ColumnStep step = columnStep(x0, y0, x1, y1);
            for (int y = 0; y <= height; ++y) {
                const bool from = y >= step.fromTop && y <= step.fromBottom;
                const bool to = y >= step.toTop && y <= step.toBottom;
                ASSERT_EQ(image.pixel(x0, y) == ink, from) << dx << " " << dy << " row " << y;
                ASSERT_EQ(image.pixel(x1, y) == ink, to) << dx << " " << dy << " row " << y;
            }
        }
    }
}
