#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/displayoptions.h"
#include "files/datafile.h"
#include "files/recording.h"
#include "signal/csvexport.h"

#include <QFile>
#include <QSaveFile>
#include <cstdio>

// ferrun-cli export FILE: the points the chart draws for a data file, as CSV. The channels
// and the averaging come from the file's header; the display settings from the options,
// which mirror the window's controls.
int cli::runExport(const QStringList &args)
{
    CommandLine line("export", "FILE [options]",
        "Writes the points the chart draws for a data file as CSV: a header line naming x,\n"
        "the channels of the file and FD, then one row per drawn frame (frame 0 is not\n"
        "drawn). Numbers in the shortest form that reads back exactly, with a point.");
    line.addPositional("FILE", "The data file (*.kdx).");
    line.addOption({ { "o", "output" }, "Write to OUT instead of standard output.", "OUT" });
    addDisplayOptions(line);
    line.addExitCode(0, "written");
    line.addExitCode(1, "the output could not be written");
    line.addExitCode(2, "bad arguments, or FILE is not a readable, whole data file");
    if (const std::optional<int> status = line.parse(args, 1, 1))
        return *status;

    std::optional<sig::DisplaySettings> settings = displayOptions(line);
    if (!settings)
        return ExitUsage;

    const QString fileName = line.positional().first();
    files::Recording file;
    const files::DataFileStatus status = files::readRecording(fileName, &file);
    if (status != files::DataFileStatus::Ok)
        return line.error(files::dataFileMessage(status, fileName));

    applyHeader(*settings, file.header);
    sig::ChartDecoder decoder;
    const sig::DecodedRecording recording = decoder.decode(file.data, *settings);

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
