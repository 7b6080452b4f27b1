#include "signal/csvexport.h"

#include <QBuffer>
#include <QList>
#include <gtest/gtest.h>

using namespace sig;

// Readable failures: the text, not its bytes.
static std::string str(const QByteArray &bytes)
{
    return bytes.toStdString();
}

namespace {

QByteArray words(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int w : values) {
        bytes.append(char(w & 0xFF));
        bytes.append(char((w >> 8) & 0xFF));
    }
    return bytes;
}

} // namespace

TEST(CsvExport, RowsHoldTheChartPointsInShortestForm)
{
    ChartDecoder decoder;
    DisplaySettings s;
    s.checkedChannels = 0x05; // T1, T3
    s.axisMode = AxisMode::ValuesTime;
    s.channelIntervalUs = 100;
    s.photodiode = true;
    const DecodedRecording r = decoder.decode(words({ 100, 0, 200 | 0x8000, 4095 }), s);
    EXPECT_EQ(str(csvText(r)),
        "x,T1,T3,FD\n"
        "0.1,12.20703125,249.93896484375,249.93896484375\n");

    s.photodiode = false;
    s.axisMode = AxisMode::AdcSamples;
    EXPECT_EQ(
        str(csvText(decoder.decode(words({ 1, 2, 3, 4, 5, 6 }), s))), "x,T1,T3\n1,3,4\n2,5,6\n");
}

TEST(CsvExport, EmptyRecordingGivesTheHeaderAlone)
{
    ChartDecoder decoder;
    DisplaySettings s;
    s.checkedChannels = 0x41;
    s.photodiode = true;
    EXPECT_EQ(str(csvText(decoder.decode(QByteArray(), s))), "x,T1,T7,FD\n");
    EXPECT_EQ(str(csvText(decoder.decode(words({ 1, 2 }), s))), "x,T1,T7,FD\n");
    s.checkedChannels = 0;
    s.photodiode = false;
    EXPECT_EQ(str(csvText(decoder.decode(words({ 1, 2 }), s))), "x\n");
}

TEST(CsvExport, NumbersReadBackExactlyHugeAndTinyOnesWithAnExponent)
{
    for (double v : { 0.0, 0.1, 1e-7, 3212842000.0, 239999.0, 1.0 / 3, 123.4 * 16 / 1000,
             9.999999999999999e20, -2.5 }) {
        const QByteArray text = formatNumber(v);
        EXPECT_FALSE(text.contains('e')) << text.constData();
        EXPECT_EQ(std::strtod(text.constData(), nullptr), v) << text.constData();
    }
    // Fixed-point would take up to 326 characters here.
    for (double v :
        { 1e21, 1e300, -1.7976931348623157e308, 9.99e-8, 2.2250738585072014e-308, 5e-324 }) {
        const QByteArray text = formatNumber(v);
        EXPECT_TRUE(text.contains('e')) << text.constData();
        EXPECT_LE(text.size(), 24) << text.constData();
        EXPECT_EQ(std::strtod(text.constData(), nullptr), v) << text.constData();
    }
    EXPECT_EQ(formatNumber(1e308), "1e+308");
    EXPECT_EQ(formatNumber(200000), "200000");
    EXPECT_EQ(formatNumber(0.00001), "0.00001");
}

TEST(CsvExport, LongRecordingStreamsWholeAndStopsOnAWriteFailure)
{
    QByteArray array(480000, '\0');
    for (int i = 0; i < array.size(); i += 2)
        array[i] = char(i / 2);
    ChartDecoder decoder;
    DisplaySettings s;
    s.axisMode = AxisMode::ValuesTime;
    s.channelIntervalUs = 1.7;
    s.photodiode = true;
    const DecodedRecording r = decoder.decode(array, s);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(writeCsv(r, buffer));
    EXPECT_EQ(buffer.data(), csvText(r));
    const QList<QByteArray> lines = buffer.data().split('\n');
    ASSERT_EQ(lines.size(), 1 + 239999 + 1); // header, rows, nothing after the last LF
    const QList<QByteArray> last = lines.at(239999).split(',');
    ASSERT_EQ(last.size(), 3);
    EXPECT_EQ(last.at(0).toDouble(), 239999 * 1.7 / 1000);
    EXPECT_EQ(last.at(1).toDouble(), (239999 & 0xFF) * 250.0 / 4096);

    QBuffer closed; // not open: every write fails
    EXPECT_FALSE(writeCsv(r, closed));
}
