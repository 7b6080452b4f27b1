// ferrun-cli plot FILE -o OUT.svg|OUT.png: the chart of a data file drawn as the window draws
// it after loading the file, rendered as the copy to the clipboard renders it, without a
// display. This file is the plot module: ferrun-cli loads it only for this command, so that
// the other commands start without the display libraries.

#include "chart/channelchart.h"
#include "chart/chart.h"
#include "cli/commandline.h"
#include "cli/displayoptions.h"
#include "files/channels.h"
#include "files/datafile.h"
#include "files/inifile.h"
#include "files/recording.h"
#include "files/settings.h"

#include <QApplication>
#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRegularExpression>
#include <QSaveFile>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

using cli::CommandLine;
using cli::ExitUsage;

// The chart of a first-run window (794 × 515 less the margins 22 and 169 around the chart).
constexpr int DefaultWidth = 772;
constexpr int DefaultHeight = 346;
constexpr int MinimumSide = 32;
constexpr int MaximumSide = 8192;
// The limits of the window's fields for the temperature axis (seYmin, seYmax).
constexpr int MaximumDegrees = 500;

enum class Format { Svg, Png };

std::optional<QSize> sizeValue(const CommandLine &line)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,9})x(\\d{1,9})$"));
    const QString text = line.value("size");
    const QRegularExpressionMatch match = pattern.match(text);
    const int width = match.hasMatch() ? match.captured(1).toInt() : 0;
    const int height = match.hasMatch() ? match.captured(2).toInt() : 0;
    if (width < MinimumSide || width > MaximumSide || height < MinimumSide
        || height > MaximumSide) {
        line.error(QString("--size expects WxH, each a whole number from %1 to %2, got '%3'")
                       .arg(MinimumSide)
                       .arg(MaximumSide)
                       .arg(text));
        return std::nullopt;
    }
    return QSize(width, height);
}

// The window's chart as it stands after a load: the form's settings, the channels of the
// file shown, the photodiode line as asked for, the points of one build.
void drawRecording(chart::TChart &chart, const sig::DecodedRecording &recording,
    const sig::DisplaySettings &settings, const files::Settings *colours)
{
    chart.setObjectName(QStringLiteral("Chart1"));
    // The window's font: the application's font at 8 points.
    QFont font = chart.font();
    font.setPointSize(8);
    chart.setFont(font);
    chart::setUpChannelChart(chart);
    for (int i = 0; i < files::ChannelCount; ++i) {
        chart::TChartSeries *series = chart.Series(i);
        if (colours)
            series->setSeriesColor(unsigned(colours->colors.at(size_t(i))) & 0xFFFFFFu);
        // The loader checks the boxes of the file's channels; FD follows --photodiode.
        series->setActive(files::ChannelId(i) == files::ChannelId::FD
                ? settings.photodiode
                : recording.hasChannel(i + 1));
    }
    // Room for all points at once, as the window reserves it for every build.
    chart::setDefaultListCapacity(recording.pointCount());
    for (int i = 0; i < chart.SeriesCount(); ++i)
        chart.Series(i)->Clear();
    chart::setAxisTitles(chart, recording);
    std::vector<double> xs;
    chart::addRecordingPoints(chart, recording, xs);
}

QByteArray pngBytes(chart::TChart &chart)
{
    QImage image(chart.size(), QImage::Format_RGB32);
    {
        QPainter painter(&image);
        chart.paintChart(painter, chart.ClientBounds());
    }
    // A chart has a few hundred colours at most (the lines, the grey of the legend and the
    // grid, the shades of the text): with a palette the picture is exact, about half the
    // size and written several times faster. When the palette cannot hold it exactly, the
    // picture is written in full colour.
    const QImage indexed
        = image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
    const bool exact = indexed.convertToFormat(QImage::Format_RGB32) == image;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    return writer.write(exact ? indexed : image) ? bytes : QByteArray();
}

int plot(char *program, const QStringList &args)
{
    CommandLine line("plot", "FILE -o OUT.svg|OUT.png [options]",
        "Draws the chart of a data file as the window draws it after loading the file, on a\n"
        "white background as the copy to the clipboard has it, and writes it as SVG or PNG\n"
        "(chosen by the name of OUT). The channels and the averaging come from the file's\n"
        "header, the display settings from the options. The PNG has the size asked for; the\n"
        "SVG, like the copied picture, is one pixel narrower and lower.");
    line.addPositional("FILE", "The data file (*.kdx).");
    line.addOption(
        { { "o", "output" }, "The picture to write: a name ending in .svg or .png.", "OUT" });
    cli::addDisplayOptions(line);
    line.addOption({ "size", "Width and height of the chart in pixels, each 32..8192.", "WxH",
        QString("%1x%2").arg(DefaultWidth).arg(DefaultHeight) });
    line.addOption({ "ymax",
        "Top of the fixed temperature axis in degrees, 0..500, in modes 0 and 2; 0 scales "
        "the axis to the points.",
        "DEG", "0" });
    line.addOption(
        { "ymin", "Bottom of the fixed temperature axis in degrees, 0..500.", "DEG", "0" });
    line.addOption(
        { "settings", "Take the channel colours from this settings file.", "Ferrun.ini" });
    line.addExitCode(0, "written");
    line.addExitCode(1, "the output could not be written");
    line.addExitCode(2, "bad arguments, or FILE is not a readable, whole data file");
    line.addExitCode(3, "the plot module of ferrun-cli is missing or cannot be loaded");
    if (const std::optional<int> status = line.parse(args, 1, 1))
        return *status;

    if (!line.isSet("output"))
        return line.error("-o OUT is required");
    const QString outName = line.value("output");
    const QString suffix = QFileInfo(outName).suffix().toLower();
    if (suffix != "svg" && suffix != "png")
        return line.error(QString("OUT must end in .svg or .png, got '%1'").arg(outName));
    const Format format = suffix == "svg" ? Format::Svg : Format::Png;

    std::optional<sig::DisplaySettings> settings = cli::displayOptions(line);
    if (!settings)
        return ExitUsage;
    const std::optional<QSize> size = sizeValue(line);
    if (!size)
        return ExitUsage;
    const std::optional<int> ymax = line.intValue("ymax", 0, MaximumDegrees);
    if (!ymax)
        return ExitUsage;
    const std::optional<int> ymin = line.intValue("ymin", 0, MaximumDegrees);
    if (!ymin)
        return ExitUsage;
    if (*ymax > 0 && *ymin > *ymax)
        return line.error(QString("--ymin %1 lies above --ymax %2: the axis needs ymin <= ymax")
                              .arg(*ymin)
                              .arg(*ymax));

    std::optional<files::Settings> colours;
    if (line.isSet("settings")) {
        // A missing file would read as the defaults: refused, since the user named it.
        const QString path = line.value("settings");
        const QFileInfo info(path);
        if (!info.isFile() || !info.isReadable())
            return line.error(QString("cannot read the settings file %1").arg(path));
        colours = files::Settings::read(files::IniFile(path));
    }

    const QString fileName = line.positional().first();
    files::Recording file;
    const files::DataFileStatus status = files::readRecording(fileName, &file);
    if (status != files::DataFileStatus::Ok)
        return line.error(files::dataFileMessage(status, fileName));
    cli::applyHeader(*settings, file.header);
    sig::ChartDecoder decoder;
    const sig::DecodedRecording recording = decoder.decode(file.data, *settings);

    // The toolkit starts only now, so that bad arguments and files are refused quickly; on
    // the offscreen platform whatever the environment: no display is needed or used. The
    // command's own arguments are kept away from the toolkit's option parsing.
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    char *appArgv[] = { program, platformOption, platformName, nullptr };
    int appArgc = 3;
    QApplication application(appArgc, appArgv);
    QApplication::setApplicationName(QStringLiteral("ferrun-cli"));
    chart::TChart chart;
    chart.resize(*size);
    drawRecording(chart, recording, *settings, colours ? &*colours : nullptr);
    // Checked above: the axis takes the range.
    chart::setValueAxisRange(*chart.LeftAxis(), int(settings->axisMode), *ymin, *ymax);
    // The copy's background; the window's face colour is not part of the picture.
    chart.setColor(Qt::white);
    const QByteArray bytes = format == Format::Svg
        ? chart.RenderMetafile(false, chart.ClientBounds())
        : pngBytes(chart);

    // The output replaces its file only once it is whole.
    QSaveFile out(outName);
    if (bytes.isEmpty() || !out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()
        || !out.commit()) {
        std::fprintf(stderr, "ferrun-cli plot: cannot write %s: %s\n", qPrintable(outName),
            bytes.isEmpty() ? "the picture could not be made" : qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}

} // namespace

// The module's entry, called by ferrun-cli with its own arguments ("plot" at argv[1])
// before any application object exists.
extern "C" Q_DECL_EXPORT int ferrunPlotMain(int argc, char **argv)
{
    QStringList args;
    for (int i = 2; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    return plot(argv[0], args);
}
