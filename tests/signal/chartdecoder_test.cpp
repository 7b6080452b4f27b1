#include "signal/chartdecoder.h"
#include "signal/csvexport.h"

#include <gtest/gtest.h>
#include <initializer_list>

using namespace sig;

namespace {

// Sample words as stored in the array: low byte first.
QByteArray words(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int w : values) {
        bytes.append(char(w & 0xFF));
        bytes.append(char((w >> 8) & 0xFF));
    }
    return bytes;
}

// 100, 200, 300 with the photodiode bit, 400: one channel, four frames.
QByteArray fourWords()
{
    return words({ 100, 200, 300 | 0x8000, 400 });
}

DisplaySettings settings(AxisMode mode, quint8 channels = 0x01)
{
    DisplaySettings s;
    s.axisMode = mode;
    s.checkedChannels = channels;
    s.channelIntervalUs = 100;
    return s;
}

std::vector<std::pair<double, double>> points(const DecodedRecording &r, int n)
{
    std::vector<std::pair<double, double>> out;
    for (int p = 0; p < r.pointCount(); ++p)
        out.emplace_back(r.x(p), r.y(n, p));
    return out;
}

std::vector<std::pair<double, double>> photodiode(const DecodedRecording &r)
{
    std::vector<std::pair<double, double>> out;
    for (int p = 0; p < r.pointCount(); ++p)
        out.emplace_back(r.x(p), r.photodiodeY(p));
    return out;
}

using Points = std::vector<std::pair<double, double>>;

} // namespace

TEST(ChartDecoder, FourWordsInAdcUnitsAgainstSamples)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::AdcSamples);
    s.photodiode = true;
    const DecodedRecording r = decoder.decode(fourWords(), s);
    EXPECT_EQ(r.frameCount, 4);
    EXPECT_EQ(points(r, 1), (Points { { 1, 200 }, { 2, 300 }, { 3, 400 } }));
    // Frame 0 is not drawn but counts in the range the photodiode line spans.
    EXPECT_EQ(photodiode(r), (Points { { 1, 100 }, { 2, 400 }, { 3, 100 } }));
    EXPECT_TRUE(r.photodiodeDrawn);
    EXPECT_EQ(r.leftTitle, "единицы АЦП");
    EXPECT_EQ(r.bottomTitle, "Выборки");
    EXPECT_EQ(r.PointStep, 1);
    EXPECT_EQ(r.XTitle, "Время, мкс");
    EXPECT_EQ(r.ChartChannelBits, 0x01);
}

TEST(ChartDecoder, FourWordsInDegreesAgainstMilliseconds)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::ValuesTime);
    s.photodiode = true;
    const DecodedRecording r = decoder.decode(fourWords(), s);
    EXPECT_EQ(points(r, 1),
        (Points { { 1 * 100.0 / 1000, 12.20703125 }, { 2 * 100.0 / 1000, 18.310546875 },
            { 3 * 100.0 / 1000, 24.4140625 } }));
    EXPECT_EQ(r.x(0), 0.1);
    EXPECT_EQ(r.valueMinimum, 6.103515625);
    EXPECT_EQ(r.valueMaximum, 24.4140625);
    EXPECT_EQ(photodiode(r).at(1).second, 24.4140625);
    EXPECT_EQ(r.TimeDivisor, 1000);
    EXPECT_EQ(r.TimeUnitName, "мс");
    EXPECT_EQ(r.PointStep, 0.1);
    EXPECT_EQ(r.ValueScale, 0.06103515625);
    EXPECT_EQ(r.ValueOffset, 0);
    EXPECT_EQ(r.leftTitle, "Температура");
    EXPECT_EQ(r.bottomTitle, "Время, мс");
}

TEST(ChartDecoder, AxisModesTwoAndThreeMixUnits)
{
    ChartDecoder decoder;
    const DecodedRecording values = decoder.decode(fourWords(), settings(AxisMode::ValuesSamples));
    EXPECT_EQ(points(values, 1).at(0), std::make_pair(1.0, 12.20703125));
    EXPECT_EQ(values.bottomTitle, "Выборки");
    const DecodedRecording adc = decoder.decode(fourWords(), settings(AxisMode::AdcTime));
    EXPECT_EQ(points(adc, 1).at(2), std::make_pair(0.3, 400.0));
    EXPECT_EQ(adc.leftTitle, "единицы АЦП");
    EXPECT_EQ(adc.bottomTitle, "Время, мс");
}

TEST(ChartDecoder, IntegrationIsARunningMeanRoundedHalvesToEven)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::AdcSamples);
    s.integrate = true;
    s.integrationLength = 4;
    s.photodiode = true;
    const DecodedRecording r = decoder.decode(fourWords(), s);
    EXPECT_EQ(points(r, 1), (Points { { 1, 125 }, { 2, 169 }, { 3, 227 } }));
    // The photodiode line spans the raw codes, not the means.
    EXPECT_EQ(r.valueMinimum, 100);
    EXPECT_EQ(r.valueMaximum, 400);

    // Means of exactly n + 0.5 go to the even neighbour.
    s.integrationLength = 2;
    const DecodedRecording halves = decoder.decode(words({ 100, 101, 104, 4095 }), s);
    // 100.5 -> 100, 102.25 -> 102, 2098.625 -> 2099
    EXPECT_EQ(points(halves, 1), (Points { { 1, 100 }, { 2, 102 }, { 3, 2099 } }));
    const DecodedRecording up = decoder.decode(words({ 101, 102 }), s); // 101.5 -> 102
    EXPECT_EQ(points(up, 1), (Points { { 1, 102 } }));
}

TEST(ChartDecoder, SkippingDrawsEveryNthFrameAsConsecutivePoints)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::AdcSamples);
    s.pointSkip = 3;
    const DecodedRecording r = decoder.decode(words({ 0, 10, 20, 30, 40, 50, 60, 70, 80, 90 }), s);
    EXPECT_EQ(points(r, 1), (Points { { 1, 30 }, { 2, 60 }, { 3, 90 } }));
    // Only the frames read count in the range.
    EXPECT_EQ(r.rawMaximum, 90);
    EXPECT_EQ(r.rawMinimum, 0);

    // Two channels: the gap is a whole number of frames; a last frame cut short is not read.
    s.checkedChannels = 0x05;
    QByteArray two = words({ 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14 });
    s.pointSkip = 2;
    DecodedRecording r2 = decoder.decode(two, s); // frames 0, 2, 4, 6
    EXPECT_EQ(points(r2, 1), (Points { { 1, 5 }, { 2, 9 }, { 3, 13 } }));
    EXPECT_EQ(points(r2, 3), (Points { { 1, 6 }, { 2, 10 }, { 3, 14 } }));
    two.chop(1); // frame 6 incomplete
    r2 = decoder.decode(two, s);
    EXPECT_EQ(points(r2, 3), (Points { { 1, 6 }, { 2, 10 } }));

    // A step larger than the recording: frame 0 alone, nothing drawn.
    s.pointSkip = 1000000000;
    EXPECT_EQ(decoder.decode(two, s).pointCount(), 0);
}

TEST(ChartDecoder, AveragedFramesLieSixteenStepsApart)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::ValuesTime);
    s.averaging = true;
    s.channelIntervalUs = 123.4;
    const DecodedRecording r = decoder.decode(fourWords(), s);
    EXPECT_EQ(r.TimeDivisor, 1000.0 / 16);
    for (int p = 0; p < r.pointCount(); ++p)
        EXPECT_DOUBLE_EQ(r.x(p), (p + 1) * 16 * 123.4 / 1000);
    EXPECT_EQ(r.ChartChannelBits, 0x81);
    EXPECT_EQ(r.PointStep, 123.4 / (1000.0 / 16));
}

TEST(ChartDecoder, ThreeChannelsInFiveHundredBytes)
{
    QByteArray array(500, '\0');
    for (int w = 0; w < 249; ++w) {
        array[2 * w] = char(w & 0xFF);
        array[2 * w + 1] = char(w >> 8);
    }
    // The last word lies outside the last whole frame: neither drawn nor in the range.
    array[498] = char(0xFF);
    array[499] = char(0x0F);
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::AdcSamples, 0x4A); // T2, T4, T7
    s.photodiode = true;
    const DecodedRecording r = decoder.decode(array, s);
    EXPECT_EQ(r.frameCount, 83);
    EXPECT_EQ(r.pointCount(), 82);
    EXPECT_EQ(r.channelCount, 3);
    EXPECT_EQ(r.lowestChannel, 2);
    EXPECT_EQ(r.ChartChannelBits, 0x4A);
    EXPECT_EQ(r.rawMaximum, 248);
    EXPECT_EQ(r.y(2, 81), 246);
    EXPECT_EQ(r.y(4, 81), 247);
    EXPECT_EQ(r.y(7, 81), 248);
}

TEST(ChartDecoder, PhotodiodeComesFromTheLowestCheckedChannel)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::AdcSamples, 0x12); // T2 and T5
    s.photodiode = true;
    // Bits 12..14 are not part of the code; bit 15 of the T5 word is not the photodiode.
    const DecodedRecording r = decoder.decode(
        words({ 10, 20, 0x8000 | 30, 40, 50, 0xF000 | 60, 0x7000 | 70, 0x8000 | 80 }), s);
    EXPECT_EQ(points(r, 2), (Points { { 1, 30 }, { 2, 50 }, { 3, 70 } }));
    EXPECT_EQ(points(r, 5), (Points { { 1, 40 }, { 2, 60 }, { 3, 80 } }));
    EXPECT_EQ(photodiode(r), (Points { { 1, 80 }, { 2, 10 }, { 3, 10 } }));
}

TEST(ChartDecoder, TooLittleDataOrNoChannelDrawsNothingButSetsTheValues)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::ValuesTime);
    s.photodiode = true;
    DecodedRecording one = decoder.decode(words({ 100 }), s);
    EXPECT_EQ(one.frameCount, 1);
    EXPECT_EQ(one.pointCount(), 0);
    EXPECT_FALSE(one.photodiodeDrawn);
    EXPECT_EQ(one.leftTitle, "Температура");
    EXPECT_EQ(one.PointStep, 0.1);

    s.checkedChannels = 0;
    s.averaging = true;
    const DecodedRecording none = decoder.decode(fourWords(), s);
    EXPECT_EQ(none.frameCount, 0);
    EXPECT_EQ(none.pointCount(), 0);
    EXPECT_EQ(none.ChartChannelBits, 0x80);
    EXPECT_EQ(none.bottomTitle, "Время, мс");

    // One byte only.
    s.checkedChannels = 0x01;
    EXPECT_EQ(decoder.decode(QByteArray(1, '\x05'), s).frameCount, 0);
}

TEST(ChartDecoder, NoSelectionKeepsTheLastUnitAndStepAndDrawsNothing)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::AdcTime);
    s.timeUnitIndex = 2;
    s.averaging = true;
    EXPECT_EQ(decoder.decode(fourWords(), s).TimeDivisor, 1000000.0 / 16);

    // No unit: the last unit's divisor, divided by 16 once, however often it is built.
    s.timeUnitIndex = -1;
    for (int build = 0; build < 3; ++build) {
        const DecodedRecording r = decoder.decode(fourWords(), s);
        EXPECT_EQ(r.TimeDivisor, 1000000.0 / 16);
        EXPECT_EQ(r.TimeUnitName, "");
        EXPECT_EQ(r.bottomTitle, "Время, ");
    }
    s.averaging = false;
    EXPECT_EQ(decoder.decode(fourWords(), s).TimeDivisor, 1000000);

    // No axis mode: no titles, no points, the step of the last build.
    const double step = decoder.pointStep();
    s.axisMode = AxisMode::None;
    s.photodiode = true;
    const DecodedRecording r = decoder.decode(fourWords(), s);
    EXPECT_EQ(r.pointCount(), 0);
    EXPECT_FALSE(r.photodiodeDrawn);
    EXPECT_TRUE(r.leftTitle.isEmpty());
    EXPECT_TRUE(r.bottomTitle.isEmpty());
    EXPECT_EQ(r.PointStep, step);
    EXPECT_EQ(r.ChartChannelBits, 0x01);

    // A decoder that never had a unit counts in microseconds.
    ChartDecoder fresh;
    EXPECT_EQ(fresh.decode(fourWords(), s).TimeDivisor, 1);
}

TEST(ChartDecoder, RangeSelectorAloneSetsTheScale)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::ValuesSamples);
    s.rangeIndex = 1;
    EXPECT_EQ(decoder.decode(fourWords(), s).y(1, 2), 400 * 0.1220703125);
    s.rangeIndex = -1; // none selected reads as 500°
    EXPECT_EQ(decoder.decode(fourWords(), s).ValueScale, 0.1220703125);
    s.rangeIndex = 0;
    EXPECT_EQ(decoder.decode(fourWords(), s).y(1, 2), 400 * 0.06103515625);
}

TEST(ChartDecoder, FullRecordingKeepsEveryFrame)
{
    // 480000 bytes, one channel: 239999 points; seven channels: 34285 points each.
    QByteArray array(480000, '\0');
    for (int w = 0; w < 240000; ++w) {
        array[2 * w] = char(w & 0xFF);
        array[2 * w + 1] = char(((w >> 8) & 0x0F) | ((w & 1) << 7));
    }
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::AdcSamples);
    s.photodiode = true;
    DecodedRecording r = decoder.decode(array, s);
    ASSERT_EQ(r.pointCount(), 239999);
    EXPECT_EQ(r.y(1, 239998), 239999 & 0x0FFF);
    EXPECT_TRUE(r.photodiodeState(239998));
    EXPECT_EQ(r.x(239998), 239999);
    s.checkedChannels = 0x7F;
    r = decoder.decode(array, s);
    ASSERT_EQ(r.pointCount(), 34284); // 34285 frames
    EXPECT_EQ(r.y(7, 34283), (34284 * 7 + 6) & 0x0FFF);
}

TEST(ChartDecoder, DecodingIntoAnEarlierRecordingLeavesNothingOfIt)
{
    ChartDecoder decoder;
    DisplaySettings s = settings(AxisMode::AdcSamples, 0x7F);
    s.photodiode = true;
    QByteArray many;
    for (int w = 0; w < 70; ++w)
        many += words({ w | (w % 2 ? 0x8000 : 0) });
    DecodedRecording r;
    decoder.decode(many, s, r);
    ASSERT_EQ(r.pointCount(), 9);

    s.checkedChannels = 0x02;
    s.axisMode = AxisMode::ValuesTime;
    s.integrate = true;
    s.integrationLength = 4;
    decoder.decode(fourWords(), s, r);
    EXPECT_EQ(r, decoder.decode(fourWords(), s));
    EXPECT_TRUE(r.codeData(1).empty());
    EXPECT_EQ(r.codeData(2).size(), 3u);

    s.axisMode = AxisMode::None;
    decoder.decode(many, s, r);
    EXPECT_EQ(r.pointCount(), 0);
    EXPECT_TRUE(r.codeData(2).empty());
    EXPECT_TRUE(r.photodiodeData().empty());
}

TEST(ChartStream, PiecesOfAnySizeGiveTheWholeDecode)
{
    // T1, T3 and T6 with a word left over after the last whole frame; the photodiode bit in
    // runs, so that the line has both levels.
    QByteArray array;
    for (int w = 0; w < 3 * 700 + 1; ++w)
        array += words({ (w * 37 + w / 3) % 4096 | ((w / 3) % 50 < 20 ? 0x8000 : 0) });
    std::vector<DisplaySettings> cases(3, settings(AxisMode::ValuesTime, 0x25));
    cases[0].photodiode = true;
    cases[1].photodiode = true;
    cases[1].integrate = true;
    cases[1].integrationLength = 5;
    cases[1].pointSkip = 3;
    cases[2].axisMode = AxisMode::AdcSamples;
    cases[2].pointSkip = 4;
    for (const DisplaySettings &s : cases) {
        ChartDecoder decoder;
        const DecodedRecording whole = decoder.decode(array, s);
        ASSERT_GT(whole.pointCount(), 100);
        // Pieces smaller than a frame, of a frame's size, of none that divides the array,
        // and the whole.
        for (const int size : { 1, 5, 6, 7, 1000, int(array.size()) }) {
            ChartDecoder streamDecoder;
            ChartStream stream(streamDecoder, array.size(), s);
            EXPECT_EQ(stream.totalPoints(), whole.pointCount());
            const auto pass = [&](const std::function<void(const DecodedRecording &)> &piece) {
                stream.restart();
                for (qsizetype at = 0; at < array.size(); at += size) {
                    stream.decode(
                        array.constData() + at, std::min<qsizetype>(size, array.size() - at));
                    piece(stream.recording());
                }
                EXPECT_TRUE(stream.atEnd());
            };
            int points = 0;
            pass([&](const DecodedRecording &r) {
                EXPECT_EQ(r.firstPoint(), points);
                for (int p = 0; p < r.pointCount(); ++p, ++points) {
                    EXPECT_EQ(r.x(p), whole.x(points));
                    for (const int n : { 1, 3, 6 })
                        EXPECT_EQ(r.code(n, p), whole.code(n, points)) << size << " " << n;
                    EXPECT_EQ(r.photodiodeState(p), whole.photodiodeState(points));
                }
            });
            EXPECT_EQ(points, whole.pointCount()) << size;
            EXPECT_EQ(stream.recording().rawMaximum, whole.rawMaximum);
            EXPECT_EQ(stream.recording().rawMinimum, whole.rawMinimum);
            // A second pass has the photodiode levels of the whole array from its first piece:
            // its rows are the text of the whole.
            QByteArray text = csvHeader(stream.recording());
            pass([&](const DecodedRecording &r) {
                EXPECT_EQ(r.valueMaximum, whole.valueMaximum);
                writeCsvRows(r, [&](const char *data, qint64 n) {
                    text.append(data, n);
                    return true;
                });
            });
            EXPECT_TRUE(text == csvText(whole)) << size;
            EXPECT_EQ(streamDecoder.pointStep(), decoder.pointStep());
        }
    }
}
