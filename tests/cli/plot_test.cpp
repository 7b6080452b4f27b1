#include "files/datafile.h"
#include "files/settings.h"
#include "tests/cli/clirun.h"

#include <QColor>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPolygonF>
#include <QProcess>
#include <QRectF>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <cmath>
#include <gtest/gtest.h>
#include <map>

namespace {

using clitest::CliRun;
using clitest::runCli;

// The parts of a chart picture the checks need: the frame of the plotting rectangle and
// the polylines of each line colour.
struct SvgChart
{
    bool valid = false;
    QString error;
    QSizeF size;
    QRectF plot; // left, top, right, bottom as the frame is drawn
    std::map<QString, std::vector<QPolygonF>> lines; // by stroke colour, "#rrggbb"
    std::map<QString, std::vector<QPolygonF>> dashed; // ... those drawn with dashes
    QStringList texts;

    // The lines of a colour drawn in the plotting rectangle: polylines of more than two
    // points (the grid, the axis lines and the ticks are single segments, in grey and black
    // like the lines of FD and T4; the legend's symbols lie outside the rectangle).
    std::vector<QPolygonF> plotted(const QString &colour, bool withDashes = false) const
    {
        std::vector<QPolygonF> result;
        const auto &from = withDashes ? dashed : lines;
        const auto it = from.find(colour);
        if (it == from.end())
            return result;
        const QRectF area = plot.adjusted(-0.5, -0.5, 0.5, 0.5);
        for (const QPolygonF &line : it->second)
            if (line.size() > 2 && std::all_of(line.cbegin(), line.cend(), [&](const QPointF &p) {
                    return area.contains(p);
                }))
                result.push_back(line);
        return result;
    }
};

SvgChart parseSvg(const QByteArray &bytes)
{
    SvgChart chart;
    QXmlStreamReader xml(bytes);
    std::vector<QXmlStreamAttributes> groups;
    bool framed = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::EndElement && xml.name() == u"g")
            groups.pop_back();
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == u"svg") {
            const QStringList box = a.value("viewBox").toString().split(' ');
            if (box.size() == 4)
                chart.size = QSizeF(box.at(2).toDouble(), box.at(3).toDouble());
        } else if (xml.name() == u"g") {
            groups.push_back(a);
        } else if (xml.name() == u"rect" && !groups.empty()
            && groups.back().value("fill") == u"none") {
            // The plotting rectangle's frame: the only rectangle drawn without a fill.
            const double x = a.value("x").toDouble(), y = a.value("y").toDouble();
            chart.plot = QRectF(QPointF(x, y),
                QPointF(x + a.value("width").toDouble(), y + a.value("height").toDouble()));
            framed = true;
        } else if (xml.name() == u"polyline" && !groups.empty()) {
            QPolygonF line;
            for (const QString &pair :
                a.value("points").toString().split(' ', Qt::SkipEmptyParts)) {
                const QStringList xy = pair.split(',');
                if (xy.size() == 2)
                    line << QPointF(xy.at(0).toDouble(), xy.at(1).toDouble());
            }
            const QString dashes = groups.back().value("stroke-dasharray").toString();
            auto &into = dashes.isEmpty() || dashes == u"none" ? chart.lines : chart.dashed;
            into[groups.back().value("stroke").toString().toLower()].push_back(line);
        } else if (xml.name() == u"text") {
            chart.texts << xml.readElementText(QXmlStreamReader::IncludeChildElements);
        }
    }
    if (xml.hasError())
        chart.error = xml.errorString();
    chart.valid = !xml.hasError() && framed && chart.size.isValid();
    return chart;
}

// A CSV of ferrun-cli export: the header's names and one row of numbers per point.
struct Csv
{
    QStringList names;
    std::vector<std::vector<double>> rows;
    std::vector<double> column(const QString &name) const
    {
        const qsizetype c = names.indexOf(name);
        std::vector<double> values;
        for (const auto &row : rows)
            values.push_back(row.at(size_t(c)));
        return values;
    }
};

Csv parseCsv(const QByteArray &text)
{
    Csv csv;
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    if (lines.isEmpty())
        return csv;
    csv.names = QString::fromLatin1(lines.takeFirst()).split(',');
    for (const QByteArray &line : lines) {
        std::vector<double> row;
        for (const QByteArray &cell : line.split(','))
            row.push_back(cell.toDouble());
        csv.rows.push_back(row);
    }
    return csv;
}

// Maps values onto the plotting rectangle as the axes do: the X range onto left..right,
// the Y range onto bottom..top. A pixel is the mapped value rounded, so a drawn point lies
// within half a pixel of the mapped one.
struct Mapping
{
    QRectF plot;
    double xMin, xMax, yMin, yMax;
    QPointF operator()(double x, double y) const
    {
        return QPointF(plot.left() + (x - xMin) * plot.width() / (xMax - xMin),
            plot.bottom() - (y - yMin) * plot.height() / (yMax - yMin));
    }
};

bool near(const QPointF &drawn, const QPointF &mapped)
{
    return std::abs(drawn.x() - mapped.x()) <= 0.5 + 1e-9
        && std::abs(drawn.y() - mapped.y()) <= 0.5 + 1e-9;
}

// The colours of a window's first run, by series T1..T7, FD, as "#rrggbb".
QStringList firstRunColours()
{
    QStringList names;
    for (const int bgr : files::Settings {}.colors)
        names << QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF).name();
    return names;
}
const QStringList lineColours = firstRunColours();

class PlotTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString write(const QString &name, quint8 bits, const QByteArray &data, double intervalUs)
    {
        files::DataFileHeader header = clitest::titledHeader();
        header.ChartChannelBits = bits;
        header.ChannelIntervalUs = intervalUs;
        header.ValueScale = files::ValueScale250;
        return clitest::writeDataFile(dir.filePath(name), header, data, QStringLiteral("опыт"));
    }

    // Frames of `channels` words: codes that rise and fall differently per channel, the
    // photodiode bit set in every third frame.
    static QByteArray frames(int count, int channels)
    {
        QByteArray data;
        for (int f = 0; f < count; ++f)
            for (int c = 0; c < channels; ++c) {
                const int code = 2048 + int(1500 * std::sin(f * 0.37 + c)) + 40 * c;
                const int word = code | (f % 3 == 0 ? 0x8000 : 0);
                data.append(char(word & 0xFF));
                data.append(char(word >> 8));
            }
        return data;
    }

    QByteArray read(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(PlotTest, SvgHoldsOneLinePerShownChannelThroughTheExportedPoints)
{
    // T1, T3 and T6 with the photodiode; 40 frames, so that every point has its own pixel.
    const QString file = write("three.kdx", 0x25, frames(40, 3), 250);
    for (const QStringList &display : { QStringList { "--mode", "1" },
             QStringList { "--mode", "3", "--unit", "us", "--integrate", "3" } }) {
        const CliRun exported = runCli(QStringList { "export", file, "--photodiode" } + display);
        ASSERT_EQ(exported.exitCode, 0) << qPrintable(exported.err);
        const Csv csv = parseCsv(exported.outBytes);
        ASSERT_EQ(csv.names, QStringList({ "x", "T1", "T3", "T6", "FD" }));
        ASSERT_EQ(csv.rows.size(), 39u);

        const QString out = dir.filePath("three.svg");
        const CliRun run
            = runCli(QStringList { "plot", file, "-o", out, "--photodiode" } + display);
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_TRUE(run.outBytes.isEmpty());
        const SvgChart svg = parseSvg(read(out));
        ASSERT_TRUE(svg.valid) << qPrintable(svg.error);
        // The metafile rule of the copy: one pixel less than the chart each way.
        EXPECT_EQ(svg.size, QSizeF(771, 345));

        // The automatic ranges: X from the first to the last point, Y over every line (the
        // photodiode spans the raw range of the recording).
        const std::vector<double> x = csv.column("x");
        double yMin = INFINITY, yMax = -INFINITY;
        for (const char *name : { "T1", "T3", "T6", "FD" })
            for (double y : csv.column(name)) {
                yMin = std::min(yMin, y);
                yMax = std::max(yMax, y);
            }
        const Mapping map { svg.plot, x.front(), x.back(), yMin, yMax };
        const std::map<QString, QString> colours { { "T1", lineColours.at(0) },
            { "T3", lineColours.at(2) }, { "T6", lineColours.at(5) }, { "FD", lineColours.at(7) } };
        for (const auto &[name, colour] : colours) {
            const std::vector<QPolygonF> lines = svg.plotted(colour);
            ASSERT_EQ(lines.size(), 1u) << qPrintable(name);
            const QPolygonF &line = lines.front();
            const std::vector<double> y = csv.column(name);
            ASSERT_EQ(size_t(line.size()), y.size()) << qPrintable(name);
            for (size_t p = 0; p < y.size(); ++p)
                EXPECT_TRUE(near(line.at(qsizetype(p)), map(x[p], y[p])))
                    << qPrintable(name) << " point " << p << ": drawn at "
                    << line.at(qsizetype(p)).x() << "," << line.at(qsizetype(p)).y()
                    << ", mapped to " << map(x[p], y[p]).x() << "," << map(x[p], y[p]).y();
        }
        // Channels that are not in the file are not drawn.
        for (int n : { 2, 4, 5, 7 })
            EXPECT_TRUE(svg.plotted(lineColours.at(n - 1)).empty()) << n;
    }
}

TEST_F(PlotTest, FixedTemperatureRangeAndColoursOfTheSettingsFile)
{
    const QString file = write("one.kdx", 0x01, frames(30, 1), 100);
    const CliRun exported = runCli({ "export", file, "--range", "500" });
    ASSERT_EQ(exported.exitCode, 0) << qPrintable(exported.err);
    const Csv csv = parseCsv(exported.outBytes);

    // Channel 1 red (0x0000FF as a Windows colour value), in a settings file of the window.
    const QString ini = dir.filePath("Ferrun.ini");
    QFile settings(ini);
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[Series Color]\r\nChannel 1=255\r\n");
    settings.close();

    const QString out = dir.filePath("one.svg");
    const CliRun run = runCli({ "plot", file, "--range=500", "--ymin=0", "--ymax=500", "--settings",
        ini, "--size", "600x400", "-o", out });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const SvgChart svg = parseSvg(read(out));
    ASSERT_TRUE(svg.valid) << qPrintable(svg.error);
    EXPECT_EQ(svg.size, QSizeF(599, 399));
    EXPECT_TRUE(svg.plotted(lineColours.at(0)).empty());
    const std::vector<QPolygonF> lines = svg.plotted("#ff0000");
    ASSERT_EQ(lines.size(), 1u);
    const std::vector<double> x = csv.column("x");
    const std::vector<double> y = csv.column("T1");
    ASSERT_EQ(size_t(lines.front().size()), y.size());
    // The value axis shows 0..500 degrees, whatever the points span.
    const Mapping map { svg.plot, x.front(), x.back(), 0, 500 };
    for (size_t p = 0; p < y.size(); ++p)
        EXPECT_TRUE(near(lines.front().at(qsizetype(p)), map(x[p], y[p]))) << p;

    // In ADC units the fixed range does not apply: the axis spans the points.
    ASSERT_EQ(runCli({ "plot", file, "--mode", "1", "--ymax", "20", "-o", out }).exitCode, 0);
    const SvgChart adc = parseSvg(read(out));
    const std::vector<QPolygonF> adcLines = adc.plotted(lineColours.at(0));
    ASSERT_EQ(adcLines.size(), 1u);
    const QRectF span = adcLines.front().boundingRect();
    EXPECT_EQ(span.top(), adc.plot.top());
    EXPECT_EQ(span.bottom(), adc.plot.bottom());
}

TEST_F(PlotTest, FullRecordingOfSevenChannels)
{
    // 480000 bytes of seven channels: 34285 frames, far more points than pixel columns.
    QByteArray data = frames(34285, 7);
    data.append(QByteArray(480000 - data.size(), '\0'));
    const QString file = write("full.kdx", 0x7F, data, 3055 / 14.7456 * 7);
    const CliRun exported = runCli({ "export", file });
    ASSERT_EQ(exported.exitCode, 0) << qPrintable(exported.err);
    const Csv csv = parseCsv(exported.outBytes);
    ASSERT_EQ(csv.rows.size(), 34284u);

    const QString out = dir.filePath("full.svg");
    const CliRun run = runCli({ "plot", file, "-o", out });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const SvgChart svg = parseSvg(read(out));
    ASSERT_TRUE(svg.valid) << qPrintable(svg.error);
    const std::vector<double> x = csv.column("x");
    double yMin = INFINITY, yMax = -INFINITY;
    for (int n = 1; n <= 7; ++n)
        for (double y : csv.column(QString("T%1").arg(n))) {
            yMin = std::min(yMin, y);
            yMax = std::max(yMax, y);
        }
    const Mapping map { svg.plot, x.front(), x.back(), yMin, yMax };
    // Without --settings the window's first-run colours: none is the white of the picture
    // (T7's design colour) or the yellow of T2's.
    EXPECT_TRUE(svg.plotted("#ffffff").empty());
    EXPECT_TRUE(svg.plotted("#ffff00").empty());
    for (int n = 1; n <= 7; ++n) {
        const std::vector<QPolygonF> lines = svg.plotted(lineColours.at(n - 1));
        ASSERT_EQ(lines.size(), 1u) << n;
        const QPolygonF &line = lines.front();
        EXPECT_EQ(line.first().x(), svg.plot.left());
        EXPECT_EQ(line.last().x(), svg.plot.right());
        // Dense points are drawn one pixel column at a time: each point lies within the
        // vertical span the line covers in its column.
        const std::vector<double> y = csv.column(QString("T%1").arg(n));
        for (size_t p : { size_t(0), size_t(1), size_t(777), size_t(17000), y.size() - 1 }) {
            const QPointF mapped = map(x[p], y[p]);
            double top = INFINITY, bottom = -INFINITY;
            for (const QPointF &v : line)
                if (std::abs(v.x() - mapped.x()) <= 0.5 + 1e-9) {
                    top = std::min(top, v.y());
                    bottom = std::max(bottom, v.y());
                }
            EXPECT_GE(mapped.y(), top - 0.5) << "T" << n << " point " << p;
            EXPECT_LE(mapped.y(), bottom + 0.5) << "T" << n << " point " << p;
        }
    }
}

TEST_F(PlotTest, PngHasTheRequestedSize)
{
    const QString file = write("png.kdx", 0x01, frames(200, 1), 100);
    const QString out = dir.filePath("chart.PNG");
    CliRun run = runCli({ "plot", file, "--size=400x300", "-o", out });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    QImage image;
    ASSERT_TRUE(image.load(out, "PNG"));
    EXPECT_EQ(image.size(), QSize(400, 300));
    // White background, and the line of T1 in its colour.
    EXPECT_EQ(image.pixelColor(1, 1), QColor(Qt::white));
    int line = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            line += image.pixelColor(x, y) == QColor(lineColours.at(0));
    EXPECT_GT(line, 200);

    // The window's chart size unless told otherwise.
    run = runCli({ "plot", file, "-o", out });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    ASSERT_TRUE(image.load(out, "PNG"));
    EXPECT_EQ(image.size(), QSize(772, 346));

    // Drawn in bands (as a picture above 4096 x 4096 is), with seams through the text, the
    // lines and the frame: every pixel is the one piece's, but for sloped lines that a seam
    // cut, which may lie a pixel aside (or above or below).
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("FERRUN_PLOT_BAND_ROWS", "7");
    const QString banded = dir.filePath("banded.png");
    run = runCli({ "plot", file, "-o", banded }, env);
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    QImage bands;
    ASSERT_TRUE(bands.load(banded, "PNG"));
    ASSERT_EQ(bands.size(), image.size());
    const auto within = [](const QImage &picture, int x, int y, QRgb colour) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (picture.rect().contains(x + dx, y + dy)
                    && picture.pixel(x + dx, y + dy) == colour)
                    return true;
        return false;
    };
    int aside = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb one = image.pixel(x, y);
            const QRgb band = bands.pixel(x, y);
            if (one == band)
                continue;
            ++aside;
            // A line's pixel moved: the line is in the other picture close by (the pixel it
            // left shows what lies under it, the grid say).
            EXPECT_TRUE(within(bands, x, y, one) || within(image, x, y, band)) << x << "," << y;
        }
    EXPECT_LT(aside, 400);
}

TEST_F(PlotTest, RecordingWithoutPointsGivesAnEmptyChart)
{
    // No data, and a single frame (frame 0 is never drawn): the axes and the legend only.
    for (const QByteArray &data : { QByteArray(), frames(1, 2) }) {
        const QString file = write("empty.kdx", 0x03, data, 100);
        const QString out = dir.filePath("empty.svg");
        const CliRun run = runCli({ "plot", file, "-o", out });
        ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
        const SvgChart svg = parseSvg(read(out));
        ASSERT_TRUE(svg.valid) << qPrintable(svg.error);
        EXPECT_TRUE(svg.plotted(lineColours.at(0)).empty());
        EXPECT_TRUE(svg.plotted(lineColours.at(1)).empty());
    }
}

TEST_F(PlotTest, NoToolkitWarningAndNothingLeftBehind)
{
    // Without XDG_RUNTIME_DIR the toolkit would warn on every run; the run's private
    // runtime folder goes when it ends.
    const QString file = write("quiet.kdx", 0x01, frames(50, 1), 100);
    const QString temporary = dir.filePath("tmp");
    ASSERT_TRUE(QDir().mkdir(temporary));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("XDG_RUNTIME_DIR");
    env.insert("TMPDIR", temporary);
    for (const char *name : { "quiet.svg", "quiet.png" }) {
        const CliRun run = runCli({ "plot", file, "-o", dir.filePath(name) }, env);
        EXPECT_EQ(run.exitCode, 0);
        EXPECT_TRUE(run.err.isEmpty()) << qPrintable(run.err);
        EXPECT_TRUE(QDir(temporary).isEmpty()) << qPrintable(QDir(temporary).entryList().join(' '));
    }
}

TEST(PlotModule, DrawsWithoutTheWidgetsLibrary)
{
    // The chart's renderer draws on Qt GUI alone: the module and what it loads in turn hold
    // no widget code.
    const QString module = clitest::program("../lib/ferrun/ferrun-plot.so");
    ASSERT_TRUE(QFileInfo::exists(module)) << qPrintable(module);
    if (QStandardPaths::findExecutable("ldd").isEmpty())
        GTEST_SKIP() << "ldd is not installed";
    QProcess ldd;
    ldd.start("ldd", { module });
    const CliRun run = clitest::finished(ldd);
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_TRUE(run.out.contains("libQt6Gui")) << qPrintable(run.out);
    EXPECT_FALSE(run.out.contains("Widgets", Qt::CaseInsensitive)) << qPrintable(run.out);
}

TEST_F(PlotTest, OptionsOutOfRangeNameTheirRange)
{
    const QString file = write("opts.kdx", 0x01, frames(10, 1), 100);
    const QString out = dir.filePath("out.svg");
    const std::vector<std::pair<QStringList, QString>> cases {
        { { "--size", "20x300" }, "32 to 8192" },
        { { "--size", "400x9000" }, "32 to 8192" },
        { { "--size", "400" }, "WxH" },
        { { "--ymax", "501" }, "0 to 500" },
        { { "--ymin", "-1" }, "0 to 500" },
        { { "--ymin", "80", "--ymax", "70" }, "ymin" },
        { { "--mode", "4" }, "0 to 3" },
        { { "--integrate", "1" }, "2 to 2048" },
        { { "--settings", dir.filePath("none.ini") }, "settings" },
        { { "--format", "gif" }, "svg, png or pdf" },
    };
    for (const auto &[options, named] : cases) {
        const CliRun run = runCli(QStringList { "plot", file, "-o", out } + options);
        EXPECT_EQ(run.exitCode, 2) << qPrintable(options.join(' '));
        EXPECT_TRUE(run.err.contains(named)) << qPrintable(run.err);
        EXPECT_FALSE(QFile::exists(out)) << qPrintable(options.join(' '));
    }
    EXPECT_EQ(runCli({ "plot", file }).exitCode, 2);
    const CliRun jpeg = runCli({ "plot", file, "-o", dir.filePath("chart.jpg") });
    EXPECT_EQ(jpeg.exitCode, 2);
    EXPECT_TRUE(jpeg.err.contains(".svg, .png or .pdf")) << qPrintable(jpeg.err);

    const CliRun help = runCli({ "plot", "--help" });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.outBytes.contains("--size WxH")) << help.outBytes.constData();
    EXPECT_TRUE(help.outBytes.contains("(default: 772x346)"));
    EXPECT_TRUE(help.outBytes.contains("--photodiode"));
}

TEST_F(PlotTest, OverlaysAreDrawnDashedInTheChannelColoursAndNamedInTheLegend)
{
    // a: T1, 40 frames 250 us apart; b: T1 and T3, 30 frames 500 us apart, moved 2.5 ms.
    const QString a = write("a.kdx", 0x01, frames(40, 1), 250);
    const QString b = write("b.kdx", 0x05, frames(30, 2), 500);
    std::map<QString, Csv> csv;
    for (const QString &file : { a, b }) {
        const CliRun exported = runCli({ "export", file });
        ASSERT_EQ(exported.exitCode, 0) << qPrintable(exported.err);
        csv[file] = parseCsv(exported.outBytes);
    }
    const QString out = dir.filePath("ab.svg");
    const CliRun run = runCli({ "plot", a, b, "--shift", "2.5", "-o", out });
    ASSERT_EQ(run.exitCode, 0) << qPrintable(run.err);
    const SvgChart svg = parseSvg(read(out));
    ASSERT_TRUE(svg.valid) << qPrintable(svg.error);

    // The axes span both recordings, b's X moved by the shift.
    const std::vector<double> ax = csv[a].column("x");
    std::vector<double> bx = csv[b].column("x");
    for (double &x : bx)
        x += 2.5;
    double yMin = INFINITY, yMax = -INFINITY;
    for (const auto &[file, name] : { std::pair { a, "T1" }, { b, "T1" }, { b, "T3" } })
        for (double y : csv[file].column(name)) {
            yMin = std::min(yMin, y);
            yMax = std::max(yMax, y);
        }
    const Mapping map { svg.plot, ax.front(), bx.back(), yMin, yMax };
    const auto drawsThrough = [&](const QPolygonF &line, const std::vector<double> &x,
                                  const std::vector<double> &y, const char *what) {
        ASSERT_EQ(size_t(line.size()), y.size()) << what;
        for (size_t p = 0; p < y.size(); ++p)
            EXPECT_TRUE(near(line.at(qsizetype(p)), map(x[p], y[p]))) << what << " point " << p;
    };
    // a's T1 solid, b's T1 and T3 dashed in the same colours; no solid T3.
    const std::vector<QPolygonF> solid = svg.plotted(lineColours.at(0));
    ASSERT_EQ(solid.size(), 1u);
    drawsThrough(solid.front(), ax, csv[a].column("T1"), "a T1");
    const std::vector<QPolygonF> t1 = svg.plotted(lineColours.at(0), true);
    ASSERT_EQ(t1.size(), 1u);
    drawsThrough(t1.front(), bx, csv[b].column("T1"), "b T1");
    const std::vector<QPolygonF> t3 = svg.plotted(lineColours.at(2), true);
    ASSERT_EQ(t3.size(), 1u);
    drawsThrough(t3.front(), bx, csv[b].column("T3"), "b T3");
    EXPECT_TRUE(svg.plotted(lineColours.at(2)).empty());
    // Each of the overlay's channels has a legend row that names its file, the channel and
    // the shift; the picture's title names the file drawn.
    const QString legend = svg.texts.join('|');
    EXPECT_EQ(legend.count(QStringLiteral("b.kdx T1  +2.5 |мс")), 1) << qPrintable(legend);
    EXPECT_EQ(legend.count(QStringLiteral("b.kdx T3  +2.5 |мс")), 1) << qPrintable(legend);
    EXPECT_EQ(svg.texts.count("T3"), 0) << qPrintable(legend);
    EXPECT_TRUE(read(out).contains("<title>a.kdx</title>"));

    // On a PNG the overlay's dashes are drawn too: T3's colour appears only with b.
    const auto pixelsOf = [&](const QStringList &files, const QString &colour) {
        const QString png = dir.filePath("chart.png");
        const CliRun drawn = runCli(QStringList { "plot" } + files + QStringList { "-o", png });
        EXPECT_EQ(drawn.exitCode, 0) << qPrintable(drawn.err);
        QImage image;
        EXPECT_TRUE(image.load(png, "PNG"));
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixelColor(x, y) == QColor(colour);
        return count;
    };
    EXPECT_EQ(pixelsOf({ a }, lineColours.at(2)), 0);
    EXPECT_GT(pixelsOf({ a, b }, lineColours.at(2)), 100);
}

TEST_F(PlotTest, ABadOverlayIsNamedAndLeavesTheOutputAsItWas)
{
    const QString a = write("a.kdx", 0x01, frames(40, 1), 250);
    const QString foreign = dir.filePath("foreign.kdx");
    QFile file(foreign);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\x02\x00 not a recording of this instrument", 37));
    file.close();
    const QString cut = dir.filePath("cut.kdx");
    const QByteArray whole = read(write("whole.kdx", 0x01, frames(40, 1), 250));
    QFile cutFile(cut);
    ASSERT_TRUE(cutFile.open(QIODevice::WriteOnly));
    cutFile.write(whole.left(whole.size() - 20)); // the comment and some of the data
    cutFile.close();

    const QString out = dir.filePath("chart.svg");
    QFile old(out);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the picture drawn before");
    old.close();
    CliRun run = runCli({ "plot", a, foreign, "-o", out });
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.err.toStdString(),
        QString("ferrun-cli plot: %1 is not an instrument data file (its type field is 2, not 1)\n")
            .arg(foreign)
            .toStdString());
    EXPECT_EQ(read(out), QByteArray("the picture drawn before"));
    run = runCli({ "plot", a, a, cut, "-o", out });
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_TRUE(run.err.startsWith(QString("ferrun-cli plot: %1 ends inside its data").arg(cut)))
        << qPrintable(run.err);
    EXPECT_EQ(read(out), QByteArray("the picture drawn before"));

    // An overlay is an input: it is never the output.
    const QByteArray aBytes = read(a);
    const QString b = write("b.kdx", 0x01, frames(20, 1), 250);
    const QByteArray bBytes = read(b);
    run = runCli({ "plot", a, b, "--format", "svg", "-o", b });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("it is the input file")) << qPrintable(run.err);
    EXPECT_EQ(read(b), bBytes);
    EXPECT_EQ(read(a), aBytes);

    run = runCli({ "plot", a, b, "--shift", "later", "-o", out });
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("--shift expects a number")) << qPrintable(run.err);
    const CliRun help = runCli({ "plot", "--help" });
    EXPECT_TRUE(help.out.contains("FILE [OVERLAY...] -o")) << qPrintable(help.out);
    EXPECT_TRUE(help.out.contains("--shift X")) << qPrintable(help.out);
}

// --format pdf: the window's report of the file, read back as text (English, or Russian with
// --lang ru): the file's name (also the PDF's title), its time, the sampling figures of its
// header and its comment, on a landscape A4 page.
TEST_F(PlotTest, PdfReportNamesTheFileItsTimeSamplingFiguresAndComment)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    // T1 and T3 averaged in the controller, 250 frames, 291 µs between a channel's samples.
    const QString file = write("run 7.kdx", 0x05 | 0x80, frames(250, 2), 291);
    const QDateTime when(QDate(2024, 3, 5), QTime(14, 7, 9));
    {
        QFile touch(file);
        ASSERT_TRUE(touch.open(QIODevice::ReadWrite));
        ASSERT_TRUE(touch.setFileTime(when, QFileDevice::FileModificationTime));
    }
    const auto run = [](const QString &program, const QStringList &args) {
        QProcess process;
        process.start(program, args);
        EXPECT_TRUE(process.waitForFinished(30000));
        return QString::fromUtf8(process.readAllStandardOutput()).simplified();
    };
    struct Language
    {
        QStringList options;
        QStringList parts;
    };
    const QList<Language> languages = {
        { {},
            { "run 7.kdx", "опыт", "Recorded: 5 Mar 2024 14:07:09",
                "Sampling frequency: 6873 Hz (3436 Hz per channel)",
                "Samples: 500 (250 per channel)", "Duration: 1.164 s", "Channels: T1 T3",
                "Averaging in the controller: over 16 samples", "Range: 250°" } },
        { { "--lang", "ru" },
            { "run 7.kdx", "опыт", "Записано: 05.03.2024 14:07:09",
                "Частота выборки: 6873 Гц (3436 Гц на канал)", "Выборок: 500 (250 на канал)",
                "Длительность: 1,164 с", "Усреднение в МК: по 16 выборкам" } },
    };
    for (const Language &language : languages) {
        const QString pdf = dir.filePath("report.pdf");
        const CliRun plotted = runCli(QStringList { "plot", file, "-o", pdf } + language.options);
        ASSERT_EQ(plotted.exitCode, 0) << qPrintable(plotted.err);
        const QString text = run("pdftotext", { pdf, "-" });
        for (const QString &part : language.parts)
            EXPECT_TRUE(text.contains(part)) << qPrintable(part) << "\n" << qPrintable(text);
        const QString info = run("pdfinfo", { pdf });
        EXPECT_TRUE(info.contains("Title: run 7.kdx")) << qPrintable(info);
        EXPECT_TRUE(
            info.contains("842 x 595 pts (A4)") || info.contains("841.89 x 595.276 pts (A4)"))
            << qPrintable(info);
    }
    EXPECT_EQ(runCli({ "plot", file, "-o", dir.filePath("x.pdf"), "--lang", "de" }).exitCode, 2);
}
