#include "cli/commandline.h"
#include "cli/commands.h"
#include "files/datafile.h"
#include "signal/csvexport.h"

#include <QFile>
#include <QSaveFile>
#include <climits>
#include <cstdio>

// ferrun-cli export FILE: the points the chart draws for a data file, as CSV. The channels
// and the averaging come from the file's header; the display settings from the options,
// which mirror the window's controls. The file's own scale is not used: like the window,
// the export draws with the range it is given.
int cli::runExport(const QStringList &args)
{
    CommandLine line("export", "FILE [options]",
        "Writes the points the chart draws for a data file as CSV: a header line naming x,\n"
        "the channels of the file and FD, then one row per drawn frame (frame 0 is not\n"
        "drawn). Numbers in the shortest form that reads back exactly, with a point.");
    line.addPositional("FILE", "The data file (*.kdx).");
    line.addOption({ { "o", "output" }, "Write to OUT instead of standard output.", "OUT" });
    line.addOption({ "mode",
        "Axis mode: 0 degrees/time, 1 ADC/samples, 2 degrees/samples, 3 ADC/time.", "0..3", "0" });
    line.addOption({ "unit", "Time unit of x in the time modes: us, ms or s.", "UNIT", "ms" });
    line.addOption({ "range", "Temperature range in degrees: 250 or 500.", "DEG", "250" });
    line.addOption(
        { "integrate", "Running mean over K points (2..2048); off when not given.", "K" });
    line.addOption({ "skip", "Draw every N-th frame (1 draws every frame).", "N", "1" });
    line.addFlag({ "photodiode" }, "Add the photodiode line FD.");
    line.addExitCode(0, "written");
    line.addExitCode(1, "the output could not be written");
    line.addExitCode(2, "bad arguments, or FILE is not a readable, whole data file");
    if (const std::optional<int> status = line.parse(args, 1, 1))
        return *status;

    const std::optional<int> mode = line.intValue("mode", 0, 3);
    const std::optional<int> unit = line.choiceValue("unit", { "us", "ms", "s" });
    const std::optional<int> range = line.choiceValue("range", { "250", "500" });
    const std::optional<int> skip = line.intValue("skip", 1, INT_MAX);
    std::optional<int> integrate;
    if (line.isSet("integrate")) {
        integrate = line.intValue("integrate", 2, 2048);
        if (!integrate)
            return ExitUsage;
    }
    if (!mode || !unit || !range || !skip)
        return ExitUsage;

    const QString fileName = line.positional().first();
    files::DataFile file;
    const files::DataFileStatus status = files::readDataFile(fileName, &file);
    if (status != files::DataFileStatus::Ok)
        return line.error(files::dataFileMessage(status, fileName));

    sig::DisplaySettings settings;
    settings.checkedChannels = file.header.ChartChannelBits & 0x7F;
    settings.averaging = (file.header.ChartChannelBits & 0x80) != 0;
    settings.channelIntervalUs = file.header.ChannelIntervalUs;
    settings.axisMode = sig::AxisMode(*mode);
    settings.timeUnitIndex = *unit;
    settings.rangeIndex = *range;
    settings.integrate = integrate.has_value();
    settings.integrationLength = integrate.value_or(2);
    settings.pointSkip = *skip;
    settings.photodiode = line.isSet("photodiode");
    sig::ChartDecoder decoder;
    const sig::DecodedRecording recording = decoder.decode(file.data, settings);

    if (!line.isSet("output")) {
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly) || !sig::writeCsv(recording, out)
            || !out.flush()) {
            std::fprintf(stderr, "ferrun-cli export: cannot write to standard output: %s\n",
                qPrintable(out.errorString()));
            return 1;
        }
        return 0;
    }
    // The output replaces its file only once it is whole.
    const QString outName = line.value("output");
    QSaveFile out(outName);
    if (!out.open(QIODevice::WriteOnly) || !sig::writeCsv(recording, out) || !out.commit()) {
        std::fprintf(stderr, "ferrun-cli export: cannot write %s: %s\n", qPrintable(outName),
            qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
