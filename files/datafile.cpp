#include "files/datafile.h"

#include "files/channels.h"
#include "files/outputfile.h"
#include "files/windows1251.h"

#include <QFile>
#include <cerrno>
#include <cstring>

namespace files {

namespace {

template <typename T> void appendLittleEndian(QByteArray &out, T value)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out.append(char((quint64(value) >> (8 * i)) & 0xFF));
}

void appendDouble(QByteArray &out, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    appendLittleEndian(out, bits);
}

// A title is written without any zero byte of its own: the zero ends it in the file.
QByteArray titleBytes(const QString &title)
{
    QByteArray bytes = toWindows1251(title);
    bytes.replace('\0', QByteArray());
    return bytes;
}

// Lone CR or LF become CR LF; CR LF stays.
QString withCrLf(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 16);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r') {
            out += u"\r\n";
            if (i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
        } else if (c == u'\n') {
            out += u"\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

double valueScaleForRange(int rangeIndex)
{
    return rangeIndex == 0 ? ValueScale250 : ValueScale500;
}

quint8 chartChannelBits(quint8 checkedChannels, bool averaging)
{
    return quint8((checkedChannels & ThermocoupleBits) | (averaging ? 0x80 : 0x00));
}

QByteArray encodeDataFileHead(const DataFileHeader &header, quint32 dataLength)
{
    const QByteArray xTitle = titleBytes(header.XTitle);
    const QByteArray yTitle = titleBytes(header.YTitle);
    QByteArray out;
    out.reserve(FixedHeaderSize + 12 + xTitle.size() + yTitle.size() + 2);
    appendLittleEndian<quint16>(out, header.FileType);
    out.append(char(0x10));
    out.append(char(0x01));
    out.append(char(header.ChartChannelBits));
    appendLittleEndian<quint32>(out, dataLength);
    appendDouble(out, header.ChannelIntervalUs);
    appendDouble(out, header.ValueScale);
    appendLittleEndian<qint32>(out, header.ValueOffset);
    out.append(xTitle);
    out.append('\0');
    out.append(yTitle);
    out.append('\0');
    return out;
}

QByteArray encodeDataFileComment(const QString &comment)
{
    return toWindows1251(withCrLf(comment));
}

QByteArray encodeDataFile(
    const DataFileHeader &header, const QByteArray &data, const QString &comment)
{
    QByteArray out = encodeDataFileHead(header, quint32(data.size()));
    const QByteArray commentBytes = encodeDataFileComment(comment);
    out.reserve(out.size() + data.size() + commentBytes.size());
    out.append(data);
    out.append(commentBytes);
    return out;
}

bool saveDataFile(const QString &fileName, const DataFileHeader &header, const QByteArray &data,
    const QString &comment, QString *error, QString *reason, QString *note,
    const OutputOptions &options, SaveFailure *failure, int *systemError)
{
    const DataWriter writeData = [&](OutputFile &out, int *) { return out.write(data); };
    return saveDataFileFrom(fileName, header, quint32(data.size()), writeData, comment, error,
        reason, note, options, failure, systemError);
}

bool saveDataFileFrom(const QString &fileName, const DataFileHeader &header, quint32 dataLength,
    const DataWriter &writeData, const QString &comment, QString *error, QString *reason,
    QString *note, const OutputOptions &options, SaveFailure *failure, int *systemError)
{
    const auto fail = [&](SaveFailure step, int errorNumber) {
        if (error)
            *error = step == SaveFailure::CannotCreate
                ? QStringLiteral("Cannot create file %1").arg(fileName)
                : step == SaveFailure::CannotRead ? QStringLiteral("Stream read error")
                                                  : QStringLiteral("Stream write error");
        if (reason)
            *reason = errorNumber ? systemReason(errorNumber) : QString();
        if (failure)
            *failure = step;
        if (systemError)
            *systemError = errorNumber;
        return false;
    };
    if (failure)
        *failure = SaveFailure::None;
    if (systemError)
        *systemError = 0;
    if (fileName.isEmpty())
        return fail(SaveFailure::CannotCreate, ENOENT);
    OutputFile out;
    if (!out.open(fileName, options))
        return fail(SaveFailure::CannotCreate, out.errorNumber());
    if (note)
        note->clear();
    int readError = 0;
    if (!out.write(encodeDataFileHead(header, dataLength)) || !writeData(out, &readError)) {
        out.cancel();
        return readError ? fail(SaveFailure::CannotRead, readError)
                         : fail(SaveFailure::CannotWrite, out.errorNumber());
    }
    if (!out.write(encodeDataFileComment(comment)) || !out.commit())
        return fail(SaveFailure::CannotWrite, out.errorNumber());
    return true;
}

QString DataFile::comment() const
{
    return withCrLf(fromWindows1251(commentBytes));
}

} // namespace files
