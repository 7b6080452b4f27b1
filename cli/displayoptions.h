#pragma once

#include "cli/output.h"
#include "files/datafile.h"
#include "files/outputfile.h"
#include "signal/chartdecoder.h"

#include <QString>
#include <functional>
#include <optional>

// What the commands that draw a data file (export, plot) share: the display options, the
// data file read in pieces, and the output.
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

// The meaning of exit status 3 for a command that reads a data file.
inline constexpr char BadDataFileExit[] = "FILE cannot be read, is not an instrument data file, "
                                          "or ends inside its header, titles or data";

// A data file whose array is read in pieces: the header and titles are read and checked
// first (without the data), then the array as often as asked; the comment is never read, so
// memory does not grow with the file.
class DataFileInput
{
public:
    // Largest piece of the array read at once.
    static constexpr qint64 PieceBytes = qint64(1) << 20;

    // Checks the file (read at `path`, named in messages as `shown`, cli::inputFile). False
    // when it cannot be read, is not an instrument data file or ends inside its header,
    // titles or data; message() then names it and the cause.
    bool open(const InputFile &file);
    const files::DataFileHeader &header() const { return m_summary.header; }

    // Reads the array from its start and hands each piece to `piece`. False when the file
    // could not be read to the end of its array (it shrank, or the device failed: message()
    // says so) or `piece` returned false.
    bool readArray(const std::function<bool(const char *data, qint64 size)> &piece);
    // Decodes the array with `stream` (from its start), calling `piece` after each piece
    // with the stream's recording holding that piece's points.
    bool decode(sig::ChartStream &stream, const std::function<bool()> &piece);

    QString message() const { return m_message; }

private:
    bool fail(const files::DataFileProblem &problem);

    QString m_fileName;
    QString m_shown;
    files::DataFileSummary m_summary;
    QString m_message;
};

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
// StandardOutput::ExitOutputFailed when the system refuses it (a folder, no permission, no
// such folder, a folder that takes no new file, a FIFO's wait ended by a signal).
int outputStatus(int errorNumber);

} // namespace cli
