#pragma once

#include "files/outputfile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The instrument data file (*.kdx): a 17-byte fixed header, the value scale and offset,
// two zero-terminated Windows-1251 titles, the acquisition array verbatim and the comment
// to the end of the file. Numbers are little-endian, floating point IEEE 754 binary64.
namespace files {

inline constexpr int FixedHeaderSize = 17;
inline constexpr quint16 DataFileType = 1;

// 250 / 4096 and 500 / 4096 degrees per ADC unit.
inline constexpr double ValueScale250 = 250.0 / 4096.0;
inline constexpr double ValueScale500 = 500.0 / 4096.0;

// The shared header record: written by the measurement start and the chart build, saved
// and loaded as the data file header.
struct DataFileHeader
{
    quint16 FileType = DataFileType;
    quint8 ChartChannelBits = 0;
    quint32 DataLength = 0;
    double ChannelIntervalUs = 0.0;
    double ValueScale = 0.0;
    qint32 ValueOffset = 0;
    QString XTitle;
    QString YTitle;
};

// Degrees per ADC unit for the range selector: index 0 "250°", any other "500°".
double valueScaleForRange(int rangeIndex);

// The header channel bits: 0x80 with averaging in the controller, plus bit n-1 for each
// checked thermocouple Tn (bits 0..6 of `checkedChannels`).
quint8 chartChannelBits(quint8 checkedChannels, bool averaging);

// The whole file as bytes. DataLength is taken from `data`; the comment is written in
// Windows-1251 with its lines separated by CR LF (lone CR or LF become CR LF).
QByteArray encodeDataFile(
    const DataFileHeader &header, const QByteArray &data, const QString &comment);
// The parts of that file: what comes before the data (the fixed header with `dataLength`, the
// scale and offset, the two titles with their zero bytes), and the comment's bytes.
QByteArray encodeDataFileHead(const DataFileHeader &header, quint32 dataLength);
QByteArray encodeDataFileComment(const QString &comment);

// Saves as files::OutputFile writes: atomically for a new name or a regular file (the bytes go
// into a temporary file of their own in the target's folder, flushed to disk and renamed over
// the target; a symbolic link's target is replaced, the link stays), as a stream for a
// character device or a FIFO; a file whose folder takes no temporary file is refused, never
// rewritten in place (`note`, for a remark on how the file was written, stays empty).
// On failure a replaced file is untouched, the temporary file removed, and `error` gets
// "Cannot create file <name>" (or "Stream write error"), the command line's English;
// `reason` the system's explanation, and `failure` which step failed and `systemError` the
// system's error number (0 when none applies), for the window to say both in its own language.
// CannotRead: the data's own source could not be read (saveDataFileFrom).
enum class SaveFailure { None, CannotCreate, CannotWrite, CannotRead };
bool saveDataFile(const QString &fileName, const DataFileHeader &header, const QByteArray &data,
    const QString &comment, QString *error = nullptr, QString *reason = nullptr,
    QString *note = nullptr, const OutputOptions &options = {}, SaveFailure *failure = nullptr,
    int *systemError = nullptr);

// Saves as saveDataFile does, with `dataLength` bytes of data that `writeData` writes to `out`
// in pieces, so that data held nowhere in memory (the cycles of a run) can be streamed from
// their files. `writeData` returns false when a write to `out` failed, or when its own source
// could not be read (with the system's error number in `*readError`: the save then fails with
// "Stream read error").
using DataWriter = std::function<bool(OutputFile &out, int *readError)>;
bool saveDataFileFrom(const QString &fileName, const DataFileHeader &header, quint32 dataLength,
    const DataWriter &writeData, const QString &comment, QString *error = nullptr,
    QString *reason = nullptr, QString *note = nullptr, const OutputOptions &options = {},
    SaveFailure *failure = nullptr, int *systemError = nullptr);

struct DataFile
{
    DataFileHeader header;
    QByteArray data;
    // The comment's bytes as stored (Windows-1251, CR LF).
    QByteArray commentBytes;
    // The comment as the comment box shows it: lone CR or LF become CR LF.
    QString comment() const;
};

enum class DataFileStatus {
    Ok,
    // The file could not be opened, or is a folder: "Не удаётся открыть файл %1".
    CannotOpen,
    // FileType is not 1 (or the file has not even its two bytes).
    NotInstrumentFile,
    // The file ends inside the header, inside the titles or before DataLength bytes of data:
    // "Ошибка чтения потока".
    Truncated,
    // A FIFO, device or socket: refused before anything is read from it, since it may never
    // end or never deliver a byte.
    NotRegularFile,
};

// The message for a failed read of `fileName`, as the window shows it; empty for Ok.
QString dataFileMessage(DataFileStatus status, const QString &fileName);

// What exactly went wrong with a read, for a message that names the cause.
struct DataFileProblem
{
    DataFileStatus status = DataFileStatus::Ok;
    // The system's error number when the file could not be opened or read (0 otherwise).
    int systemError = 0;
    // What stands at the path when it is not a regular file (S_IFMT bits of st_mode).
    unsigned fileType = 0;
    // NotInstrumentFile: the type field found (when the file holds its two bytes).
    std::optional<quint16> fileTypeField;
    // Truncated: the part of the file it ends in, its length, and the length that part needed.
    enum class Part { None, Header, XTitle, YTitle, Data, Comment };
    Part part = Part::None;
    qint64 fileSize = 0;
    qint64 needed = 0;
};

// The problem in English, without the file's name: "not an instrument data file (its type
// field is 2, not 1)", "ends inside its data: 40029 bytes, 60058 needed", "cannot be opened:
// Permission denied", "is a directory", "is not a regular file (a FIFO)". Empty for Ok.
QString dataFileProblemText(const DataFileProblem &problem);

// Reads and checks the whole file before anything is handed over: on Ok `file` holds the
// complete recording, on any other status it is empty. The type is checked first, then the
// header, the titles and that DataLength bytes of data are there; only then is memory taken
// for the data, so a DataLength beyond the end of the file costs nothing.
DataFileStatus decodeDataFile(const QByteArray &bytes, DataFile *file);
DataFileStatus readDataFile(const QString &fileName, DataFile *file, QString *error = nullptr,
    DataFileProblem *problem = nullptr);
// The same on an open descriptor, read from its start (it must be a regular file).
DataFileStatus readDataFile(int fd, DataFile *file);

// Titles longer than this are cut to it when read; the rest of a title is skipped.
inline constexpr qsizetype MaxTitleBytes = 65536;

// What the catalogue and `ferrun-cli info` need of a data file: the header, the titles and
// the comment, read without the data (it is seeked over), so that memory stays bounded by
// the comment, and at most `maxCommentBytes` of that.
struct DataFileSummary
{
    DataFileHeader header;
    qint64 fileSize = 0;
    // The titles' full lengths in bytes (the header holds at most MaxTitleBytes of each).
    qint64 xTitleSize = 0;
    qint64 yTitleSize = 0;
    bool titleCut() const { return xTitleSize > MaxTitleBytes || yTitleSize > MaxTitleBytes; }
    // Where the comment begins, its bytes in the file and the first of them that were read.
    qint64 commentOffset = 0;
    qint64 commentSize = 0;
    QByteArray commentBytes;
    bool commentCut() const { return commentBytes.size() < commentSize; }
    // The comment's lines (split at CR LF, CR or LF; a final line break adds no line).
    QStringList commentLines() const;
};

inline constexpr qint64 UnlimitedComment = -1;

// On a status other than Ok, `summary` holds what could be read before the failure (the
// header and titles of a file that ends inside its data; nothing of a foreign file).
DataFileStatus readDataFileSummary(const QString &fileName, DataFileSummary *summary,
    qint64 maxCommentBytes = UnlimitedComment, QString *error = nullptr,
    DataFileProblem *problem = nullptr);
DataFileStatus readDataFileSummary(int fd, DataFileSummary *summary, qint64 maxCommentBytes);

// Splits text into lines at CR LF, CR or LF; a final line break adds no empty line.
QStringList splitLines(const QString &text);

} // namespace files
