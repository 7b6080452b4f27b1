#include "channelchart/channelchart.h"
#include "chart/chart.h"
#include "tests/chart/chartfixture.h"

#include <QImage>
#include <QPainter>
#include <cmath>
#include <functional>
#include <random>

using namespace chart;

namespace {

// Frames of `channels` words: slow waves with noise and steps, the photodiode bit in runs.
QByteArray frames(int count, int channels)
{
    std::mt19937 rng(7);
    std::normal_distribution<double> noise(0, 40);
    QByteArray data;
    for (int f = 0; f < count; ++f)
        for (int c = 0; c < channels; ++c) {
            const double v = 1800 + 300 * c + 900 * std::sin(f / 700.0 + c) + noise(rng)
                + (f / 5000 % 2 ? 250 : 0);
            const int word = std::clamp(int(v), 0, 4095) | ((f / 3000) % 2 ? 0x8000 : 0);
            data.append(char(word & 0xFF));
            data.append(char(word >> 8));
        }
    return data;
}

// The chart of the plot before its points, for a recording of these settings.
void setUp(TChart &c, QSize size, const sig::DecodedRecording &r, int ymin, int ymax)
{
    charttest::setUpChart(c, size.width(), size.height());
    for (int i = 0; i < files::ChannelCount; ++i)
        c.Series(i)->setActive(
            files::ChannelId(i) == files::ChannelId::FD ? r.photodiode : r.hasChannel(i + 1));
    setAxisTitles(c, r);
    setValueAxisRange(*c.LeftAxis(), int(r.axisMode), ymin, ymax);
    c.setColor(Qt::white);
}

QImage png(TChart &c)
{
    QImage image(c.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    c.paintChart(painter, c.ClientBounds());
    return image;
}

} // namespace

// The plot's fill: the extremes from a first pass over the pieces, the layout with the span
// points (on the picture's own device), the points reduced per pixel column in a second
// pass. The pictures are those of the window's fill with every point, byte for byte.
TEST(ColumnReduction, DrawsThePictureOfEveryPoint)
{
    struct Case
    {
        quint8 channels;
        int frames;
        sig::DisplaySettings settings;
        QSize size;
        int ymin = 0, ymax = 0;
    };
    sig::DisplaySettings dense;
    dense.checkedChannels = 0x01;
    dense.photodiode = true;
    dense.channelIntervalUs = 3055 / 14.7456;
    sig::DisplaySettings three = dense;
    three.checkedChannels = 0x25;
    three.integrate = true;
    three.integrationLength = 16;
    three.axisMode = sig::AxisMode::AdcSamples;
    sig::DisplaySettings still = dense;
    still.channelIntervalUs = 0; // every point at X 0
    sig::DisplaySettings sparse = dense;
    sparse.checkedChannels = 0x7F;
    sparse.pointSkip = 3;
    const std::vector<Case> cases {
        { 0x01, 240000, dense, QSize(772, 346) },
        { 0x25, 80000, three, QSize(2000, 300) },
        { 0x01, 240000, dense, QSize(500, 400), 100, 200 }, // lines leave the fixed range
        { 0x7F, 900, sparse, QSize(1500, 346) }, // columns of no, one and two points
        { 0x01, 5000, still, QSize(772, 346) },
    };
    for (const Case &k : cases) {
        const QByteArray array = frames(k.frames, std::popcount(unsigned(k.channels)));
        sig::ChartDecoder decoder;
        const sig::DecodedRecording whole = decoder.decode(array, k.settings);

        TChart full;
        setUp(full, k.size, whole, k.ymin, k.ymax);
        std::vector<double> xs;
        addRecordingPoints(full, whole, xs);

        for (const bool svg : { true, false }) {
            TChart reduced;
            sig::ChartStream stream(decoder, array.size(), k.settings);
            setUp(reduced, k.size, stream.recording(), k.ymin, k.ymax);
            const auto pass = [&](const std::function<void()> &piece) {
                stream.restart();
                for (qsizetype at = 0; at < array.size(); at += 9999) {
                    stream.decode(
                        array.constData() + at, std::min<qsizetype>(9999, array.size() - at));
                    piece();
                }
            };
            RecordingExtent extent;
            pass([&] { extent.add(stream.recording()); });
            ASSERT_TRUE(extent.reducible());
            extent.addSpanPoints(reduced, stream.recording());
            if (svg)
                reduced.ensureLayout();
            else
                png(reduced);
            ColumnReduction reduction(reduced.BottomAxis()->mapper());
            pass([&] { reduction.add(stream.recording()); });
            reduction.fill(reduced);

            for (int i = 0; i < files::ChannelCount; ++i)
                EXPECT_LE(reduced.Series(i)->Count(), 4 * (k.size.width() + 1));
            if (svg)
                EXPECT_TRUE(full.RenderMetafile(false, full.ClientBounds())
                    == reduced.RenderMetafile(false, reduced.ClientBounds()))
                    << k.size.width();
            else
                EXPECT_TRUE(png(full) == png(reduced)) << k.size.width();
        }
    }
}

TEST(ColumnReduction, OnlyFiniteAscendingXIsReduced)
{
    // X of an interval read from a damaged header: the plot then keeps every point.
    const QByteArray array = frames(100, 1);
    for (const double interval : { -100.0, std::nan(""), 1e308 }) {
        sig::DisplaySettings s;
        s.channelIntervalUs = interval;
        sig::ChartDecoder decoder;
        RecordingExtent extent;
        extent.add(decoder.decode(array, s));
        EXPECT_FALSE(extent.reducible()) << interval;
    }
}

// The plot of several files: each recording has its own extent and reduction, an overlay's
// with its X shift, and the span points of all of them lay the chart out. The picture, with
// the overlay's dashes, is that of every point.
TEST(ColumnReduction, AnOverlayWithAShiftDrawsThePictureOfEveryPoint)
{
    sig::DisplaySettings own;
    own.checkedChannels = 0x01;
    own.photodiode = true;
    own.channelIntervalUs = 3055 / 14.7456;
    sig::DisplaySettings other = own;
    other.checkedChannels = 0x05;
    other.channelIntervalUs = 100;
    const QByteArray ownArray = frames(30000, 1), otherArray = frames(20000, 2);
    const double shift = 1500; // ms: the overlay reaches past the end of the other
    const QSize size(772, 346);
    sig::ChartDecoder decoder;

    TChart full;
    const sig::DecodedRecording ownWhole = decoder.decode(ownArray, own);
    setUp(full, size, ownWhole, 0, 0);
    std::vector<double> xs;
    addRecordingPoints(full, ownWhole, xs);
    const OverlaySeries fullOverlay = addOverlaySeries(full, QStringLiteral("b.kdx"), 0);
    setOverlayPoints(fullOverlay, decoder.decode(otherArray, other), shift, xs);

    TChart reduced;
    sig::ChartStream ownStream(decoder, ownArray.size(), own);
    sig::ChartStream otherStream(decoder, otherArray.size(), other);
    setUp(reduced, size, ownStream.recording(), 0, 0);
    const OverlaySeries overlay = addOverlaySeries(reduced, QStringLiteral("b.kdx"), 0);
    showRecordingChannels(overlay.channels, otherStream.recording());
    const auto pass = [](sig::ChartStream &stream, const QByteArray &array,
                          const std::function<void()> &piece) {
        stream.restart();
        for (qsizetype at = 0; at < array.size(); at += 9999) {
            stream.decode(array.constData() + at, std::min<qsizetype>(9999, array.size() - at));
            piece();
        }
    };
    RecordingExtent ownExtent, otherExtent(shift);
    pass(ownStream, ownArray, [&] { ownExtent.add(ownStream.recording()); });
    pass(otherStream, otherArray, [&] { otherExtent.add(otherStream.recording()); });
    ownExtent.addSpanPoints(reduced, ownStream.recording());
    otherExtent.addSpanPoints(overlay.channels, otherStream.recording());
    png(reduced);
    ColumnReduction ownReduction(reduced.BottomAxis()->mapper());
    ColumnReduction otherReduction(reduced.BottomAxis()->mapper(), shift);
    pass(ownStream, ownArray, [&] { ownReduction.add(ownStream.recording()); });
    pass(otherStream, otherArray, [&] { otherReduction.add(otherStream.recording()); });
    ownReduction.fill(reduced);
    otherReduction.fill(overlay.channels);

    EXPECT_GT(overlay.channels[2]->Count(), 0);
    EXPECT_LE(overlay.channels[2]->Count(), 4 * (size.width() + 1));
    EXPECT_DOUBLE_EQ(overlay.channels[0]->MaxXValue(), fullOverlay.channels[0]->MaxXValue());
    EXPECT_TRUE(png(full) == png(reduced));
}
