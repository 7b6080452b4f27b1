#include "cli/commandline.h"
#include "cli/commands.h"
#include "cli/datafileinput.h"
#include "cli/displayoptions.h"
#include "cli/output.h"
#include "files/outputfile.h"
#include "signal/csvexport.h"

// ferrun-cli export FILE: the points the chart draws for a data file, as CSV. The channels
// and the averaging come from the file's header; the display settings from the options,
// which mirror the window's controls. The array is read, decoded and written in pieces, so
// memory stays the same whatever the length of the recording; the comment is never read.
int cli::runExport(const QStringList &args)
{
    CommandLine line("export", "FILE [options]",
        "Writes the points the chart draws for a data file as CSV: a header line naming x,\n"
        "the channels of the file and FD, then one row per drawn frame (frame 0 is not\n"
        "drawn). Numbers in the shortest form that reads back exactly, with a point; beyond\n"
        "1e-7..1e21 in magnitude with an exponent (1e+308).");
    line.addPositional("FILE", "The data file (*.kdx); \"-\" for standard input.");
    line.addOption({ { "o", "output" },
        "Write to OUT instead of standard output (\"-\": standard output). A file is replaced "
        "only once whole; a device, FIFO or socket is written as a stream.",
        "OUT" });
    addDisplayOptions(line);
    line.addExitCode(ExitDone, "written");
    line.addExitCode(ExitOutputFailed, "the output could not be written");
    line.addExitCode(
        ExitUsage, "bad arguments, or OUT is never written (FILE itself, a block device)");
    line.addExitCode(ExitBadInput, BadDataFileExit);
    if (const std::optional<int> status = line.parse(args, 1, 1))
        return *status;
    // A signal that ends the command removes a temporary file it has named first.
    files::OutputFile::removeTemporaryFilesOnSignals();

    const std::optional<sig::DisplaySettings> settings = displayOptions(line);
    if (!settings)
        return ExitUsage;

    DataFileInput input;
    if (!input.open(line.positional().first()))
        return ExitBadInput;
    input.setDisplay(*settings);
    // The photodiode line's two levels are the raw range of the whole recording: a first
    // pass finds them before the first row is written.
    if (settings->photodiode && !input.decode([] { return true; }))
        return ExitBadInput;

    CommandOutput out;
    if (const std::optional<int> status = out.open(line.value("output"), input.source().path))
        return *status;
    const sig::CsvSink sink
        = [&out](const char *data, qint64 size) { return out.write(data, size); };
    bool written = out.write(sig::csvHeader(input.recording()));
    if (written
        && !input.decode([&] { return written = sig::writeCsvRows(input.recording(), sink); })
        && written) {
        out.cancel();
        return ExitBadInput;
    }
    if (!written || !out.commit()) {
        out.cancel();
        return ExitOutputFailed;
    }
    return ExitDone;
}
