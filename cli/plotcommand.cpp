// ferrun-cli plot FILE [OVERLAY...] -o OUT.svg|OUT.png|OUT.pdf: the chart of a data file drawn
// as the window draws it after loading the file, with other data files laid over it as the
// window lays them, rendered as the copy to the clipboard renders it, or the report page the
// window's PDF export makes, without a display. This file
// is the plot module: ferrun-cli loads it only for this command, so that the other commands
// start without the display libraries.

#include "channelchart/channelchart.h"
#include "channelchart/chartpicture.h"
#include "channelchart/chartreport.h"
#include "chart/chartrenderer.h"
#include "cli/commandline.h"
#include "cli/datafileinput.h"
#include "cli/displayoptions.h"
#include "cli/output.h"
#include "files/channels.h"
#include "files/datafile.h"
#include "files/folderbrowser.h"
#include "files/inifile.h"
#include "files/outputfile.h"
#include "files/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTranslator>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <deque>
#include <optional>
#include <unistd.h>
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

// A report prints a comment up to a few lines: its first 64 KiB are plenty.
constexpr qint64 ReportCommentBytes = 64 * 1024;

// The report's texts of FILE (opened with ReportCommentBytes of its comment), titled
// `title`: its modification time as the recording's time, the sampling figures of its
// header, its comment.
chart::Report fileReport(const cli::DataFileInput &file, const QString &title,
    const sig::DisplaySettings &settings, const QLocale &locale)
{
    const files::DataFileSummary &summary = file.summary();
    return chart::recordingReport(title, summary.header, summary.header.DataLength,
        QFileInfo(file.source().path).lastModified(), summary.commentLines().join(u'\n'),
        settings.rangeIndex, locale);
}

// How the picture names a file given as `name`: without its folder ("-" for standard input).
QString pictureName(const QString &name)
{
    return name == QLatin1String("-") ? name : files::namePart(name);
}

// The shift of an overlay as its legend names it ("+5 мс"), in the X unit of the mode.
QString shiftText(double shift, const sig::DisplaySettings &settings)
{
    const QString unit = sig::isTimeMode(settings.axisMode)
        ? sig::displayedTimeUnit(
            sig::timeUnitNames().value(settings.timeUnitIndex, QStringLiteral("мс")))
        : chart::samplesShiftUnit();
    return chart::shiftCaption(shift, unit, QLocale::c());
}

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

std::optional<double> shiftValue(const CommandLine &line)
{
    const QString text = line.value("shift");
    bool ok = false;
    const double shift = text.toDouble(&ok);
    if (!ok || !std::isfinite(shift)) {
        line.error(QString("--shift expects a number, got '%1'").arg(cli::escaped(text)));
        return std::nullopt;
    }
    return shift;
}

// The window's chart as it stands after a load, before its points: the form's settings, the
// colours, the channels of the file shown, the photodiode line as asked for, the titles.
void setUpChart(chart::ChartRenderer &chart, const sig::DecodedRecording &recording,
    const files::Settings &colours)
{
    // The window's font: the application's font at 8 points.
    QFont font = chart.font();
    font.setPointSize(8);
    chart.setFont(font);
    chart::setUpChannelChart(chart);
    for (int i = 0; i < files::ChannelCount; ++i)
        chart.Series(i)->setSeriesColor(unsigned(colours.colors.at(size_t(i))) & 0xFFFFFFu);
    // The loader checks the boxes of the file's channels; FD follows --photodiode.
    chart::showRecordingChannels(chart::channelSeries(chart), recording);
    chart::setAxisTitles(chart, recording);
}

// One data file of the plot: the first is drawn in the chart's own channel series, each one
// after it laid over them in series of its own, its X moved by the shift. Each is decoded
// with the display options and its own file's channels, averaging and interval.
struct PlotInput
{
    QString fileName; // as given
    cli::DataFileInput file;
    chart::ChannelSeries series {};
    double shift = 0;
    std::optional<chart::RecordingExtent> extent;
};

// An overlay's legend names the file and the channel on each of its shown channels' rows
// ("b.kdx T3  +2.5 мс"), drawn in that channel's colour and the overlay's dashes; the row that
// would name the file alone goes.
void nameOverlayChannels(const chart::OverlaySeries &overlay, const QString &shift)
{
    overlay.entry->setShowInLegend(false);
    for (chart::TChartSeries *series : overlay.channels) {
        if (!series->Active())
            continue;
        series->setTitle(shift.isEmpty() ? series->Name() : series->Name() + "  " + shift);
        series->setShowInLegend(true);
    }
}

// Qt asks for its runtime folder at start and, with XDG_RUNTIME_DIR unset, warns on every run
// and falls back to a folder in /tmp shared by the user's programs. A plot run without the
// variable gets a private folder of its own (mode 0700), removed when the run ends.
std::optional<QTemporaryDir> privateRuntimeFolder()
{
    std::optional<QTemporaryDir> folder;
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return folder;
    folder.emplace(QDir::tempPath() + QStringLiteral("/ferrun-cli-runtime-XXXXXX"));
    if (folder->isValid()
        && QFile::setPermissions(
            folder->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder->path()));
    return folder;
}

int plot(char *program, const QStringList &args)
{
    // A signal that ends the command removes a temporary file it has named first.
    files::OutputFile::removeTemporaryFilesOnSignals();
    CommandLine line("plot", "FILE [OVERLAY...] -o OUT.svg|OUT.png|OUT.pdf [options]",
        "Draws the chart of a data file as the window draws it after loading the file, on a\n"
        "white background as the copy to the clipboard has it, and writes it as SVG or PNG\n"
        "(chosen by the name of OUT, or by --format); or writes the report the window's PDF\n"
        "export makes: a landscape A4 page titled with the file's name (also in the PDF's\n"
        "metadata), its modification time, the sampling figures of its header, its comment\n"
        "and the chart (--size does not apply). The channels and the averaging come\n"
        "from the file's header, the display settings from the options, the colours from\n"
        "--settings or else the window's first-run colours. The PNG has the size asked for;\n"
        "the SVG, like the copied picture, is one pixel narrower and lower.\n"
        "Further files are laid over the first as the window lays its overlays: each with\n"
        "its own channels, averaging and interval and the same display options, in the\n"
        "channel colours with a dash pattern of its own, each channel named in the legend\n"
        "with its file; --shift moves them along X. The SVG's and the PDF's titles name\n"
        "FILE. A PNG of any size is drawn in bands, so memory stays bounded.");
    line.addPositional("FILE", "The data file (*.kdx); \"-\" for standard input.");
    line.addPositional("OVERLAY...", "Data files laid over FILE to compare with it (optional).");
    line.addOption({ { "o", "output" },
        "The picture to write: a name ending in .svg, .png or .pdf, or \"-\" for standard output "
        "(with --format). A file is replaced only once whole; a device or a FIFO is written "
        "as a stream.",
        "OUT" });
    line.addOption(
        { "format", "The picture's format, svg, png or pdf, whatever the name of OUT.", "FORMAT" });
    line.addOption({ "lang", "The language of a PDF report's texts: en or ru.", "LANG", "en" });
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
    line.addOption({ "shift",
        "Move the overlays along X by this much, in the X unit of --mode (and --unit in the "
        "time modes).",
        "X", "0" });
    line.addExitCode(cli::ExitDone, "written");
    line.addExitCode(cli::ExitOutputFailed, "the output could not be written");
    line.addExitCode(cli::ExitUsage,
        "bad arguments, or OUT is never written (FILE or an OVERLAY itself, a block device, "
        "standard output that is a terminal for a PNG or PDF)");
    line.addExitCode(cli::ExitBadInput,
        QString(cli::BadDataFileExit)
            + "; likewise an OVERLAY (the message names the file; OUT is left as it was)");
    line.addExitCode(cli::ExitNoPlotModule, cli::NoPlotModuleExit);
    if (const std::optional<int> status = line.parse(args, 1, INT_MAX))
        return *status;

    if (!line.isSet("output"))
        return line.error("-o OUT is required");
    const QString outName = line.value("output");
    const QString formatName
        = line.isSet("format") ? line.value("format") : QFileInfo(outName).suffix().toLower();
    const std::optional<chart::PictureFormat> pictureFormat = chart::pictureFormat(formatName);
    if (!pictureFormat)
        return line.error(line.isSet("format")
                ? QString("--format expects svg, png or pdf, got '%1'")
                      .arg(cli::escaped(formatName))
                : QString("OUT must end in .svg, .png or .pdf (or give --format), got '%1'")
                      .arg(cli::escaped(outName)));
    const chart::PictureFormat format = *pictureFormat;
    const QString language = line.value("lang");
    if (language != "en" && language != "ru")
        return line.error(QString("--lang expects en or ru, got '%1'").arg(cli::escaped(language)));

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
    const std::optional<double> shift = shiftValue(line);
    if (!shift)
        return ExitUsage;

    // Without a settings file, the colours of a window's first run.
    files::Settings colours;
    if (line.isSet("settings")) {
        // A missing file would read as the defaults: refused, since the user named it.
        const QString path = line.value("settings");
        const QFileInfo info(path);
        if (!info.isFile() || !info.isReadable())
            return line.error(QString("cannot read the settings file %1").arg(cli::escaped(path)));
        colours = files::Settings::read(files::IniFile(path));
    }

    if (line.positional().count(QStringLiteral("-")) > 1)
        return line.error("standard input (-) can be read only once");
    if (outName == QLatin1String("-") && format != chart::PictureFormat::Svg
        && ::isatty(STDOUT_FILENO))
        return line.error("standard output is a terminal: a PNG or PDF is not written there "
                          "(redirect it, or give -o FILE)");

    // Every file is checked before the output is opened.
    std::deque<PlotInput> inputs;
    for (const QString &fileName : line.positional()) {
        PlotInput &input = inputs.emplace_back();
        input.fileName = fileName;
        input.shift = inputs.size() > 1 ? *shift : 0;
        // The report's comment is the first file's.
        const bool report = inputs.size() == 1 && format == chart::PictureFormat::Pdf;
        if (!input.file.open(fileName, report ? ReportCommentBytes : 0))
            return cli::ExitBadInput;
    }
    QStringList overlayPaths;
    for (size_t i = 1; i < inputs.size(); ++i)
        overlayPaths << inputs[i].file.source().path;
    cli::CommandOutput out;
    if (const std::optional<int> status
        = out.open(outName, inputs.front().file.source().path, overlayPaths))
        return *status;

    // The toolkit starts only now, so that bad arguments and files are refused quickly; on
    // the offscreen platform whatever the environment: no display is needed or used. The
    // command's own arguments are kept away from the toolkit's option parsing.
    const std::optional<QTemporaryDir> runtime = privateRuntimeFolder();
    char platformOption[] = "-platform";
    char platformName[] = "offscreen";
    char *appArgv[] = { program, platformOption, platformName, nullptr };
    int appArgc = 3;
    QGuiApplication application(appArgc, appArgv);
    // The system's error texts in English, as every other word of ferrun-cli.
    std::setlocale(LC_MESSAGES, "C");
    QGuiApplication::setApplicationName(QStringLiteral("ferrun-cli"));
    // A report speaks English unless asked for Russian, the language its texts are written
    // in: the window's English translation, built into this module.
    QTranslator english;
    if (format == chart::PictureFormat::Pdf && language == "en"
        && english.load(QStringLiteral(":/i18n/ferrun_en.qm")))
        QGuiApplication::installTranslator(&english);
    const QLocale reportLocale(language == "en" ? QLocale::English : QLocale::Russian);

    for (PlotInput &input : inputs)
        input.file.setDisplay(*settings);
    chart::ChartRenderer chart;
    chart.setSize(*size);
    // The picture's title: the SVG's, and the report page's of a PDF.
    chart::Report report;
    report.title = pictureName(inputs.front().fileName);
    if (format == chart::PictureFormat::Pdf)
        report = fileReport(inputs.front().file, report.title, *settings, reportLocale);
    setUpChart(chart, inputs.front().file.recording(), colours);
    inputs.front().series = chart::channelSeries(chart);
    for (size_t i = 1; i < inputs.size(); ++i) {
        PlotInput &input = inputs[i];
        const QString name = input.fileName == QLatin1String("-")
            ? input.fileName
            : chart::overlayName(input.fileName);
        const chart::OverlaySeries overlay = chart::addOverlaySeries(chart, name, int(i - 1));
        input.series = overlay.channels;
        chart::showRecordingChannels(input.series, input.file.recording());
        nameOverlayChannels(overlay, shiftText(input.shift, *settings));
    }
    // Checked above: the axis takes the range.
    chart::setValueAxisRange(*chart.LeftAxis(), int(settings->axisMode), *ymin, *ymax);
    // The series hold a few points per pixel column: no list needs room reserved.
    chart::setDefaultListCapacity(0);
    // A report's chart takes the size it has on the page.
    chart::sizeForPicture(chart, format, report);

    // First pass over each file: the extremes of its points. With those of every file the
    // chart is laid out (the axes span the overlays too); then a second pass over each file
    // keeps its points reduced to the pixel columns of that layout.
    const auto fail = [&] {
        out.cancel();
        return cli::ExitBadInput;
    };
    for (PlotInput &input : inputs) {
        input.extent.emplace(input.shift);
        if (!input.file.decode([&] {
                input.extent->add(input.file.recording());
                return true;
            }))
            return fail();
    }
    bool reduce = false;
    for (PlotInput &input : inputs) {
        if (input.extent->reducible()) {
            input.extent->addSpanPoints(input.series, input.file.recording());
            reduce = true;
            continue;
        }
        // X values that are not finite or not ascending (an interval read from a damaged
        // header): every point, as the window would hold them.
        std::vector<double> xs;
        if (!input.file.decode([&] {
                chart::addRecordingPoints(input.series, input.file.recording(), xs, input.shift);
                return true;
            }))
            return fail();
    }
    if (reduce) {
        chart::layOutForPicture(chart, format);
        const chart::PixelMapper columns = chart.BottomAxis()->mapper();
        for (PlotInput &input : inputs) {
            if (!input.extent->reducible())
                continue;
            chart::ColumnReduction reduction(columns, input.shift);
            if (!input.file.decode([&] {
                    reduction.add(input.file.recording());
                    return true;
                }))
                return fail();
            reduction.fill(input.series);
        }
    }

    // The output reports its own failures; a picture that could not be made is said here.
    bool refused = false;
    const bool written = chart::writePicture(chart, format, report, [&](const QByteArray &bytes) {
        refused = !out.write(bytes);
        return !refused;
    });
    if (!written && !refused) {
        out.cancel();
        cli::message("the picture could not be made");
        return cli::ExitOutputFailed;
    }
    if (!written || !out.commit()) {
        out.cancel();
        return cli::ExitOutputFailed;
    }
    return cli::ExitDone;
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
