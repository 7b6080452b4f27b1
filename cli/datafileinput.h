#pragma once

#include "cli/output.h"
#include "files/datafile.h"
#include "signal/chartdecoder.h"

#include <QString>
#include <functional>
#include <optional>

namespace cli {

// A data file as the commands that read one (info, export, stats, plot) open and stream it:
// FILE as the user gave it ("-": standard input, cli::inputFile), its header and titles read
// and checked first, then its array read as often as asked, in pieces, and decoded as the
// chart draws it. The comment is read only as far as asked, so memory does not grow with the
// file. Every failure is printed in one line naming the file and the cause; the command then
// ends with ExitBadInput.
class DataFileInput
{
public:
    // Largest piece of the array read at once.
    static constexpr qint64 PieceBytes = qint64(1) << 20;

    // Opens FILE, with the first `commentBytes` of its comment. False after the message when
    // it cannot be read, is not an instrument data file or ends inside its header, titles or
    // data.
    bool open(const QString &name, qint64 commentBytes = 0);
    // Where it is read and how messages name it.
    const InputFile &source() const { return m_source; }
    const files::DataFileSummary &summary() const { return m_summary; }
    const files::DataFileHeader &header() const { return m_summary.header; }

    // The array is decoded with the display settings `display` and the file's own channels,
    // averaging and interval (sig::applyFileHeader).
    void setDisplay(const sig::DisplaySettings &display);
    const sig::DecodedRecording &recording() const { return m_stream->recording(); }
    // Decodes the array from its start (setDisplay first), calling `piece` after each piece of
    // it with recording() holding that piece's points. False when `piece` returned false, or
    // after the message when the file could not be read to the end of its array (it shrank,
    // or the device failed).
    bool decode(const std::function<bool()> &piece);

private:
    bool fail(const files::DataFileProblem &problem);
    // Reads the array from its start and hands each piece to `piece`.
    bool readArray(const std::function<bool(const char *data, qint64 size)> &piece);

    InputFile m_source;
    files::DataFileSummary m_summary;
    sig::ChartDecoder m_decoder;
    std::optional<sig::ChartStream> m_stream;
};

} // namespace cli
