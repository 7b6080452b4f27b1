#include "files/datafile.h"
#include "tests/cli/clirun.h"

#include <QList>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

// The statistics of `stats` are checked against the rows `export` writes for the same
// options, computed here with plain long double sums over those rows.
namespace {

using clitest::CliRun;
using clitest::runCli;

struct Table
{
    QList<QByteArray> names; // T1, T3, ...
    std::vector<double> x;
    std::vector<std::vector<double>> y; // per column
};

Table parseCsv(const QByteArray &text)
{
    Table table;
    QList<QByteArray> lines = text.split('\n');
    table.names = lines.takeFirst().split(',').mid(1);
    table.y.resize(size_t(table.names.size()));
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> cells = line.split(',');
        table.x.push_back(cells[0].toDouble());
        for (qsizetype c = 1; c < cells.size(); ++c)
            table.y[size_t(c - 1)].push_back(cells[c].toDouble());
    }
    return table;
}

struct Row
{
    QByteArray channel;
    long long n = 0;
    double min = 0, max = 0, mean = 0, first = 0, last = 0, slope = 0;
    // The decimals written in each column: min, max, mean, first, last, slope.
    std::vector<int> decimals;
};

int decimalsOf(const QByteArray &number)
{
    const qsizetype point = number.indexOf('.');
    return point < 0 ? 0 : int(number.size() - point - 1);
}

std::vector<Row> parseStats(const QByteArray &text)
{
    std::vector<Row> rows;
    QList<QByteArray> lines = text.split('\n');
    EXPECT_EQ(lines.takeFirst(), "channel,n,min,max,mean,first,last,slope_per_s");
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> c = line.split(',');
        EXPECT_EQ(c.size(), 8) << line.constData();
        if (c.size() != 8)
            continue;
        std::vector<int> decimals;
        for (qsizetype i = 2; i < 8; ++i)
            decimals.push_back(decimalsOf(c[i]));
        rows.push_back({ c[0], c[1].toLongLong(), c[2].toDouble(), c[3].toDouble(), c[4].toDouble(),
            c[5].toDouble(), c[6].toDouble(), c[7].toDouble(), decimals });
    }
    return rows;
}

// The expected rows for the points of `table` with from <= x <= to.
std::vector<Row> expected(const Table &table, double from, double to, double perSecond)
{
    std::vector<Row> rows;
    for (size_t c = 0; c < table.y.size(); ++c) {
        Row row;
        row.channel = table.names[qsizetype(c)];
        long double sx = 0, sy = 0, sxx = 0, sxy = 0;
        for (size_t i = 0; i < table.x.size(); ++i) {
            const double x = table.x[i], y = table.y[c][i];
            if (x < from || x > to)
                continue;
            if (row.n == 0)
                row.first = row.min = row.max = y;
            row.min = std::min(row.min, y);
            row.max = std::max(row.max, y);
            row.last = y;
            ++row.n;
            sx += x, sy += y, sxx += (long double)x * x, sxy += (long double)x * y;
        }
        if (row.n > 0) {
            row.mean = double(sy / row.n);
            // Centred sums: the plain formula cancels badly at large x.
            long double cxx = 0, cxy = 0;
            const long double mx = sx / row.n, my = sy / row.n;
            for (size_t i = 0; i < table.x.size(); ++i) {
                const double x = table.x[i];
                if (x < from || x > to)
                    continue;
                cxx += (x - mx) * (x - mx);
                cxy += (x - mx) * (table.y[c][i] - my);
            }
            row.slope = cxx > 0 ? double(cxy / cxx) * perSecond : 0;
        }
        rows.push_back(row);
    }
    return rows;
}

// A number written with `decimals` decimals: the wanted value rounded to them.
void expectShown(
    double shown, int decimals, double wanted, const char *what, const std::string &where)
{
    const double tolerance
        = 0.5 * std::pow(10.0, -decimals) * (1 + 1e-9) + 1e-12 * std::max(1.0, std::abs(wanted));
    EXPECT_NEAR(shown, wanted, tolerance) << what << " " << where;
}

// Every column of a row against the expected one, with the digits it was written with: the
// same for every channel of a column, values and first/last alike.
void expectRow(const Row &got, const Row &want, const std::string &where)
{
    EXPECT_EQ(got.channel, want.channel) << where;
    EXPECT_EQ(got.n, want.n) << where;
    ASSERT_EQ(got.decimals.size(), 6u);
    EXPECT_EQ(got.decimals[0], got.decimals[1]) << where;
    EXPECT_EQ(got.decimals[0], got.decimals[3]) << where;
    EXPECT_EQ(got.decimals[0], got.decimals[4]) << where;
    EXPECT_EQ(got.decimals[2], got.decimals[0] + 1) << "the mean a decimal more " << where;
    expectShown(got.min, got.decimals[0], want.min, "min", where);
    expectShown(got.max, got.decimals[1], want.max, "max", where);
    expectShown(got.mean, got.decimals[2], want.mean, "mean", where);
    expectShown(got.first, got.decimals[3], want.first, "first", where);
    expectShown(got.last, got.decimals[4], want.last, "last", where);
    expectShown(got.slope, got.decimals[5], want.slope, "slope", where);
}

class StatsTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    // Random codes on T2, T5 and T7 with a slow rise and random photodiode bits; `frames`
    // frames. More than 1 MiB of data reaches across the pieces the commands read.
    QString write(
        int frames, double intervalUs, const QString &name = "run.kdx", quint8 channelBits = 0x52)
    {
        std::mt19937 random(7);
        QByteArray data;
        for (int f = 0; f < frames; ++f)
            for (int w = 0; w < 3; ++w) {
                const int code
                    = (f / 40 + int(random() % 900)) % 4096 | (random() % 2 ? 0x8000 : 0);
                data.append(char(code & 0xFF));
                data.append(char(code >> 8));
            }
        files::DataFileHeader header = clitest::titledHeader();
        header.ChartChannelBits = channelBits; // T2, T5, T7 (0x80: averaged)
        header.ChannelIntervalUs = intervalUs;
        return clitest::writeDataFile(dir.filePath(name), header, data, "ramp");
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(StatsTest, AgreesWithExportRowsForRandomRangesInEveryMode)
{
    const QString file = write(180000, 12.5);
    std::mt19937 random(11);
    struct Options
    {
        QStringList args;
        double perSecond;
    };
    const QList<Options> variants = {
        { { "--mode", "0", "--unit", "ms" }, 1e3 },
        { { "--mode", "0", "--unit", "us", "--integrate", "16" }, 1e6 },
        { { "--mode", "3", "--unit", "s", "--skip", "7" }, 1 },
        { { "--mode", "1" }, 1 },
        { { "--mode", "2", "--range", "500", "--integrate", "2048", "--skip", "3" }, 1 },
    };
    for (const Options &variant : variants) {
        const CliRun exported = runCli(QStringList { "export", file } + variant.args);
        ASSERT_EQ(exported.exitCode, 0) << qPrintable(exported.err);
        const Table table = parseCsv(exported.outBytes);
        ASSERT_EQ(table.names, (QList<QByteArray> { "T2", "T5", "T7" }));
        const size_t points = table.x.size();
        for (int round = 0; round < 4; ++round) {
            // The whole recording, then ranges whose ends lie on points or between them.
            QStringList range;
            double from = -INFINITY, to = INFINITY;
            if (round > 0) {
                size_t a = random() % points, b = random() % points;
                if (a > b)
                    std::swap(a, b);
                from = table.x[a];
                to = round == 3 ? (table.x[b] + table.x[std::min(b + 1, points - 1)]) / 2
                                : table.x[b];
                range = { "--from", QString::number(from, 'g', 17), "--to",
                    QString::number(to, 'g', 17) };
            }
            const std::string where = (variant.args + range).join(' ').toStdString();
            const CliRun run = runCli(QStringList { "stats", file } + variant.args + range);
            ASSERT_EQ(run.exitCode, 0) << where << qPrintable(run.err);
            const std::vector<Row> got = parseStats(run.outBytes);
            const std::vector<Row> want = expected(table, from, to, variant.perSecond);
            ASSERT_EQ(got.size(), want.size()) << where;
            for (size_t c = 0; c < got.size(); ++c)
                expectRow(got[c], want[c], where);
        }
    }
}

// An averaged recording (frames 16 sampling steps apart, as every cycle) has its slope per
// second of real time: the least-squares fit over the points export writes, in every unit,
// and the same as the recording without averaging spread over 16 times the interval.
TEST_F(StatsTest, SlopeOfAveragedRecordingsIsTheFitPerSecondInEveryUnit)
{
    const QString averaged = write(1750, 291.0, "averaged.kdx", 0x52 | 0x80);
    const QString plain = write(1750, 291.0 * 16, "plain.kdx");
    struct Unit
    {
        const char *name;
        double perSecond;
    };
    std::vector<double> slopes;
    for (const Unit unit : { Unit { "us", 1e6 }, Unit { "ms", 1e3 }, Unit { "s", 1 } })
        for (const QString &file : { averaged, plain }) {
            const QStringList options { "--mode", "0", "--unit", unit.name };
            const std::string where = (QStringList { file } + options).join(' ').toStdString();
            const Table table = parseCsv(runCli(QStringList { "export", file } + options).outBytes);
            ASSERT_EQ(table.x.size(), 1749u);
            // 1 s of real time is 214 points of 4.656 ms.
            EXPECT_NEAR(table.x[214] - table.x[0], 214 * 291.0 * 16 / 1e6 * unit.perSecond,
                1e-9 * unit.perSecond);
            const CliRun run = runCli(QStringList { "stats", file } + options);
            ASSERT_EQ(run.exitCode, 0) << where << qPrintable(run.err);
            const std::vector<Row> got = parseStats(run.outBytes);
            const std::vector<Row> want = expected(table, -INFINITY, INFINITY, unit.perSecond);
            ASSERT_EQ(got.size(), 3u);
            for (size_t c = 0; c < got.size(); ++c) {
                expectRow(got[c], want[c], where);
                slopes.push_back(got[c].slope);
            }
        }
    // Per second whatever the unit and the averaging: each channel's slope reads the same.
    ASSERT_EQ(slopes.size(), 18u);
    for (size_t i = 3; i < slopes.size(); ++i)
        EXPECT_EQ(slopes[i], slopes[i % 3]) << i;
}

TEST_F(StatsTest, OnePointEmptyRangesAndBadBounds)
{
    const QString file = write(50, 100); // x in ms: 0.1, 0.2, ... 4.9
    CliRun run = runCli({ "stats", file, "--from", "0.3", "--to", "0.3" });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    for (const Row &row : parseStats(run.outBytes)) {
        EXPECT_EQ(row.n, 1);
        EXPECT_EQ(row.slope, 0);
        EXPECT_EQ(row.min, row.max);
        EXPECT_EQ(row.first, row.last);
    }

    // Between two points, beyond the end, and the wrong way round: nothing written, and the
    // message says where the points lie.
    for (const QStringList &range : { QStringList { "--from", "0.31", "--to", "0.39" },
             QStringList { "--from", "5" }, QStringList { "--from", "2", "--to", "1" } }) {
        run = runCli(QStringList { "stats", file } + range);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(range.join(' '));
        EXPECT_TRUE(run.outBytes.isEmpty());
        EXPECT_TRUE(run.err.contains("from 0.1 to 4.9 ms")) << qPrintable(run.err);
    }
    for (const char *bad : { "x", "nan", "inf" }) {
        run = runCli({ "stats", file, "--to", bad });
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.contains("--to must be a finite number")) << qPrintable(run.err);
    }
    // A header with a negative interval puts X in descending order.
    const QString reversed = write(50, -100, "reversed.kdx");
    const Table table = parseCsv(runCli({ "export", reversed }).outBytes);
    run = runCli({ "stats", reversed, "--from", "-3", "--to", "-1.2" });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const std::vector<Row> got = parseStats(run.outBytes), want = expected(table, -3, -1.2, 1e3);
    ASSERT_EQ(got.size(), 3u);
    for (size_t c = 0; c < got.size(); ++c) {
        EXPECT_EQ(got[c].n, 19);
        expectRow(got[c], want[c], "reversed");
    }

    run = runCli({ "stats", file, "--photodiode" });
    EXPECT_EQ(run.exitCode, 2) << "the photodiode has no statistics";
}
