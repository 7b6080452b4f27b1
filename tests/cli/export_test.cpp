#include "files/datafile.h"
#include "signal/csvexport.h"
#include "tests/cli/clirun.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using clitest::CliRun;
using clitest::runCli;

QByteArray words(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int w : values) {
        bytes.append(char(w & 0xFF));
        bytes.append(char((w >> 8) & 0xFF));
    }
    return bytes;
}

class ExportTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // A data file recorded with the 500° range.
    QString write(const QString &name, quint8 bits, const QByteArray &data, double intervalUs = 100)
    {
        files::DataFileHeader header = clitest::titledHeader();
        header.ChartChannelBits = bits;
        header.ChannelIntervalUs = intervalUs;
        header.ValueScale = files::ValueScale500;
        return clitest::writeDataFile(dir.filePath(name), header, data, QStringLiteral("опыт"));
    }

    QString fourWords() { return write("four.kdx", 0x01, words({ 100, 200, 300 | 0x8000, 400 })); }

    static std::string text(const CliRun &run) { return run.outBytes.toStdString(); }

    QTemporaryDir dir;
};

} // namespace

TEST_F(ExportTest, PointsOfTheChartInEachAxisMode)
{
    const QString file = fourWords();
    CliRun run = runCli({ "export", file, "--mode", "1", "--photodiode" });
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(text(run), "x,T1,FD\n1,200,100\n2,300,400\n3,400,100\n");

    // Degrees against milliseconds at the range the file was recorded with, unless --range
    // asks for another.
    run = runCli({ "export", file, "--photodiode" });
    EXPECT_EQ(text(run),
        "x,T1,FD\n"
        "0.1,24.4140625,12.20703125\n"
        "0.2,36.62109375,48.828125\n"
        "0.3,48.828125,12.20703125\n");
    run = runCli({ "export", file, "--mode=2", "--range=250" });
    EXPECT_EQ(text(run), "x,T1\n1,12.20703125\n2,18.310546875\n3,24.4140625\n");
    run = runCli({ "export", "--mode", "3", "--unit", "us", file });
    EXPECT_EQ(text(run), "x,T1\n100,200\n200,300\n300,400\n");
    EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
}

TEST_F(ExportTest, IntegrationSkippingAveragingAndChannelsFromTheHeader)
{
    CliRun run = runCli({ "export", fourWords(), "--mode", "1", "--integrate", "4" });
    EXPECT_EQ(text(run), "x,T1\n1,125\n2,169\n3,227\n");

    const QString ten = write("ten.kdx", 0x01, words({ 0, 10, 20, 30, 40, 50, 60, 70, 80, 90 }));
    run = runCli({ "export", ten, "--mode", "1", "--skip", "3" });
    EXPECT_EQ(text(run), "x,T1\n1,30\n2,60\n3,90\n");

    // Bit 7 is the averaging in the controller: frames 16 sampling steps apart.
    const QString averaged = write("avg.kdx", 0x80 | 0x45, words({ 1, 2, 3, 4, 5, 6 }), 125);
    run = runCli({ "export", averaged, "--mode", "3", "--unit", "s" });
    EXPECT_EQ(text(run), "x,T1,T3,T7\n0.002,4,5,6\n");
}

TEST_F(ExportTest, EmptyRecordingGivesTheHeaderAlone)
{
    CliRun run = runCli({ "export", write("empty.kdx", 0x03, {}), "--photodiode" });
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(text(run), "x,T1,T2,FD\n");
    run = runCli({ "export", write("one.kdx", 0x03, words({ 1, 2, 3 })) });
    EXPECT_EQ(text(run), "x,T1,T2\n");
}

TEST_F(ExportTest, OptionsOutOfRangeNameTheirRange)
{
    const QString file = fourWords();
    const std::vector<std::pair<QStringList, QString>> cases {
        { { "--mode", "4" }, "0 to 3" },
        { { "--integrate", "1" }, "2 to 2048" },
        { { "--integrate", "4096" }, "2 to 2048" },
        { { "--skip", "0" }, "from 1 to" },
        { { "--unit", "min" }, "us, ms, s" },
        { { "--range", "300" }, "250, 500" },
        { { "--bogus" }, "bogus" },
        { {}, "FILE" },
    };
    for (const auto &[options, named] : cases) {
        QStringList args { "export" };
        if (!options.isEmpty() || named != "FILE")
            args << file;
        const CliRun run = runCli(args + options);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(options.join(' '));
        EXPECT_TRUE(run.outBytes.isEmpty());
        EXPECT_TRUE(run.err.contains(named)) << qPrintable(run.err);
    }
    const CliRun help = runCli({ "export", "--help" });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.outBytes.contains("--integrate K")) << help.outBytes.constData();
    EXPECT_TRUE(help.outBytes.contains("(default: ms)"));
}

TEST_F(ExportTest, FullRecordingToAFileMatchesTheChartPointsExactly)
{
    // One channel, 480000 bytes, at an interval that makes long fractions.
    QByteArray data(480000, '\0');
    for (int w = 0; w < 240000; ++w) {
        data[2 * w] = char(w * 7);
        data[2 * w + 1] = char(((w >> 5) & 0x0F) | (w % 3 == 0 ? 0x80 : 0));
    }
    const double interval = 3055 / 14.7456;
    const QString file = write("-full.kdx", 0x01, data, interval);
    const QString out = dir.filePath("full.csv");
    // "--" lets a name that starts with a dash through.
    const CliRun run
        = runCli({ "export", "--photodiode", "--integrate", "8", "-o", out, "--", file });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.outBytes.isEmpty());
    QFile written(out);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    const QByteArray csv = written.readAll();

    sig::DisplaySettings s;
    s.checkedChannels = 0x01;
    s.photodiode = true;
    s.integrate = true;
    s.integrationLength = 8;
    s.channelIntervalUs = interval;
    s.valueScale = files::ValueScale500;
    sig::ChartDecoder decoder;
    const sig::DecodedRecording r = decoder.decode(data, s);
    ASSERT_EQ(r.pointCount(), 239999);
    EXPECT_EQ(csv.count('\n'), 240000);
    EXPECT_TRUE(csv == sig::csvText(r));
    // Every number reads back to the value the series receives.
    const QList<QByteArray> lines = csv.split('\n');
    for (int p : { 0, 1, 12345, 239998 }) {
        const QList<QByteArray> cells = lines.at(p + 1).split(',');
        ASSERT_EQ(cells.size(), 3);
        EXPECT_EQ(cells.at(0).toDouble(), r.x(p));
        EXPECT_EQ(cells.at(1).toDouble(), r.y(1, p));
        EXPECT_EQ(cells.at(2).toDouble(), r.photodiodeY(p));
    }
}
