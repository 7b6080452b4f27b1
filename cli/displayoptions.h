#pragma once

#include "cli/output.h"
#include "files/outputfile.h"
#include "signal/chartdecoder.h"

#include <QString>
#include <optional>

// What the commands that draw a data file (export, stats, plot) share: the display options
// and the output.
namespace cli {

class CommandLine;

// The display options that mirror the window's controls: --mode, --unit, --range,
// --integrate, --skip and, for the commands that draw it, --photodiode.
enum class PhotodiodeOption { Offered, NotOffered };
void addDisplayOptions(CommandLine &line, PhotodiodeOption photodiode = PhotodiodeOption::Offered);

// The options' values as the decoder reads them. Nothing when one is out of range (the
// message, naming the allowed range, is printed). The channels, the averaging and the
// interval are the file's: see sig::applyFileHeader.
std::optional<sig::DisplaySettings> displayOptions(const CommandLine &line);

// The output of a command: standard output when no OUT is given or OUT is "-", otherwise
// OUT written through files::OutputFile (a file replaced only once whole, a device, FIFO or
// socket written as a stream, the input file refused). Every failure is printed once, in one
// line naming the system's error.
class CommandOutput
{
public:
    CommandOutput() = default;

    // Opens OUT (not given or "-": standard output); `input` is the file being read, and
    // `moreInputs` any others (OUT is none of them). Nothing when it is open, else the status
    // to exit with, the message printed (outputStatus).
    std::optional<int> open(
        const QString &path, const QString &input, const QStringList &moreInputs = {});
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &bytes) { return write(bytes.constData(), bytes.size()); }
    // Finishes the output; false after a message when anything failed.
    bool commit();
    // Gives a file output up (a replaced file stays as it was).
    void cancel();

private:
    bool report();

    QString m_path;
    bool m_standard = true;
    StandardOutput m_stdout;
    files::OutputFile m_file;
    bool m_reported = false;
};

// The status of an output that cannot be opened, the same for every command and kind of
// target: ExitUsage when it is refused by rule (an input file itself, a block device),
// ExitOutputFailed when the system refuses it (a folder, no permission, no
// such folder, a folder that takes no new file, a FIFO's wait ended by a signal).
int outputStatus(int errorNumber);

} // namespace cli
