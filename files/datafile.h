#pragma once

#include <QByteArray>
#include <QString>

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

// Saves atomically: the bytes go into a temporary file in the target's folder, which is
// flushed to disk and then renamed over the target. On failure the old file is untouched,
// the temporary file removed, and `error` gets "Cannot create file <name>" (or the write
// failure); `reason` the system's explanation when there is one.
bool saveDataFile(const QString &fileName, const DataFileHeader &header, const QByteArray &data,
    const QString &comment, QString *error = nullptr, QString *reason = nullptr);

// The name of the temporary file a save of `fileName` writes first.
QString temporarySaveName(const QString &fileName);

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
    // The file could not be opened: "Cannot open file %s".
    CannotOpen,
    // FileType is not 1 (or the file has not even its two bytes).
    NotInstrumentFile,
    // The file ends inside the header, inside the titles or before DataLength bytes of data:
    // "Stream read error". `data` holds the bytes of the array that were there.
    Truncated,
};

// Parses file contents; never reads past the end of `bytes`.
DataFileStatus decodeDataFile(const QByteArray &bytes, DataFile *file);
DataFileStatus readDataFile(const QString &fileName, DataFile *file, QString *error = nullptr);

} // namespace files
