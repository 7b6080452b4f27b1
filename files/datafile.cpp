#include "files/datafile.h"

#include "files/channels.h"
#include "files/leftoversave.h"
#include "files/windows1251.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool writeAll(int fd, const char *data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
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

QByteArray encodeDataFile(
    const DataFileHeader &header, const QByteArray &data, const QString &comment)
{
    const QByteArray xTitle = titleBytes(header.XTitle);
    const QByteArray yTitle = titleBytes(header.YTitle);
    const QByteArray commentBytes = toWindows1251(withCrLf(comment));

    QByteArray out;
    out.reserve(FixedHeaderSize + 12 + xTitle.size() + yTitle.size() + 2 + data.size()
        + commentBytes.size());
    appendLittleEndian<quint16>(out, header.FileType);
    out.append(char(0x10));
    out.append(char(0x01));
    out.append(char(header.ChartChannelBits));
    appendLittleEndian<quint32>(out, quint32(data.size()));
    appendDouble(out, header.ChannelIntervalUs);
    appendDouble(out, header.ValueScale);
    appendLittleEndian<qint32>(out, header.ValueOffset);
    out.append(xTitle);
    out.append('\0');
    out.append(yTitle);
    out.append('\0');
    out.append(data);
    out.append(commentBytes);
    return out;
}

QString temporarySaveName(const QString &fileName)
{
    // The name next to the target with ".saving" appended, shortened when the target's own
    // name already uses (nearly) all 255 bytes a folder entry may have.
    constexpr qsizetype MaxEntryBytes = 255;
    const QString suffix = QStringLiteral(".saving");
    const qsizetype slash = fileName.lastIndexOf(u'/');
    const QString folder = fileName.left(slash + 1);
    QString name = fileName.mid(slash + 1);
    while (!name.isEmpty() && QFile::encodeName(name + suffix).size() > MaxEntryBytes) {
        name.chop(1);
        if (!name.isEmpty() && name.back().isHighSurrogate())
            name.chop(1);
    }
    return folder + name + suffix;
}

bool saveDataFile(const QString &fileName, const DataFileHeader &header, const QByteArray &data,
    const QString &comment, QString *error, QString *reason)
{
    const auto fail = [&](const QString &message, int errorNumber) {
        if (error)
            *error = message;
        if (reason)
            *reason = errorNumber ? systemReason(errorNumber) : QString();
        return false;
    };
    const QString cannotCreate = QStringLiteral("Cannot create file %1").arg(fileName);
    if (fileName.isEmpty())
        return fail(cannotCreate, ENOENT);

    const QByteArray bytes = encodeDataFile(header, data, comment);
    const QByteArray target = QFile::encodeName(fileName);
    const QByteArray temporary = QFile::encodeName(temporarySaveName(fileName));

    // A file that may not be written is not replaced behind its owner's back; one that may
    // keeps its permission bits.
    struct stat old;
    const bool replacing = ::stat(target.constData(), &old) == 0 && S_ISREG(old.st_mode);
    if (replacing && ::access(target.constData(), W_OK) != 0)
        return fail(cannotCreate, errno);

    // A temporary file left by an interrupted save is cleared away (kept under a name of its
    // own when it holds a whole recording); anything else in the way (a folder, say) makes
    // the save fail before the target is touched.
    clearLeftoverSave(fileName);
    const int fd
        = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0)
        return fail(cannotCreate, errno);
    if (replacing)
        ::fchmod(fd, old.st_mode & 07777);

    bool written = writeAll(fd, bytes.constData(), bytes.size());
    int writeError = written ? 0 : errno;
    if (written && ::fsync(fd) != 0) {
        written = false;
        writeError = errno;
    }
    if (::close(fd) != 0 && written) {
        written = false;
        writeError = errno;
    }
    if (!written) {
        ::unlink(temporary.constData());
        return fail(QStringLiteral("Stream write error"), writeError);
    }
    if (::rename(temporary.constData(), target.constData()) != 0) {
        const int renameError = errno;
        ::unlink(temporary.constData());
        return fail(cannotCreate, renameError);
    }
    // Make the rename itself durable; a failure here loses nothing already written.
    const QByteArray folder = QFile::encodeName(QFileInfo(fileName).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

QString DataFile::comment() const
{
    return withCrLf(fromWindows1251(commentBytes));
}

} // namespace files
