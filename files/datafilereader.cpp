// Reading data files: the whole checked recording for a load, and the bounded summary
// (header, titles, comment) for the catalogue and `ferrun-cli info`.

#include "files/datafile.h"
#include "files/windows1251.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

template <typename T> T readLittleEndian(const char *p)
{
    quint64 value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= quint64(quint8(p[i])) << (8 * i);
    return T(value);
}

double readDouble(const char *p)
{
    const quint64 bits = readLittleEndian<quint64>(p);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Random access to the bytes of a file or of a buffer.
class Source
{
public:
    virtual ~Source() = default;
    virtual qint64 size() const = 0;
    // Reads up to `count` bytes at `offset`; fewer only at the end (or on an error, -1).
    virtual qint64 readAt(qint64 offset, char *buffer, qint64 count) const = 0;
};

class MemorySource : public Source
{
public:
    explicit MemorySource(const QByteArray &bytes)
        : m_bytes(bytes)
    {
    }
    qint64 size() const override { return m_bytes.size(); }
    qint64 readAt(qint64 offset, char *buffer, qint64 count) const override
    {
        if (offset >= m_bytes.size())
            return 0;
        const qint64 n = std::min(count, qint64(m_bytes.size()) - offset);
        std::memcpy(buffer, m_bytes.constData() + offset, size_t(n));
        return n;
    }

private:
    const QByteArray &m_bytes;
};

class FdSource : public Source
{
public:
    FdSource(int fd, qint64 size)
        : m_fd(fd)
        , m_size(size)
    {
    }
    qint64 size() const override { return m_size; }
    qint64 readAt(qint64 offset, char *buffer, qint64 count) const override
    {
        qint64 done = 0;
        while (done < count) {
            const ssize_t n = ::pread(m_fd, buffer + done, size_t(count - done), offset + done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return done > 0 ? done : -1;
            if (n == 0)
                break;
            done += n;
        }
        return done;
    }

private:
    int m_fd;
    qint64 m_size;
};

// Where the parts of a file lie, from its header and titles.
struct Layout
{
    DataFileHeader header;
    qint64 dataOffset = 0;
    qint64 commentOffset() const { return dataOffset + qint64(header.DataLength); }
};

constexpr qint64 ScaleAndOffsetSize = 12;

// Reads the zero-terminated title at `*pos`; keeps at most MaxTitleBytes of it.
bool readTitle(const Source &source, qint64 *pos, QString *title)
{
    QByteArray kept;
    char chunk[4096];
    for (;;) {
        const qint64 n = source.readAt(*pos, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        const char *zero = static_cast<const char *>(std::memchr(chunk, 0, size_t(n)));
        const qint64 used = zero ? zero - chunk : n;
        if (kept.size() < MaxTitleBytes)
            kept.append(chunk, qsizetype(std::min<qint64>(used, MaxTitleBytes - kept.size())));
        *pos += used;
        if (zero) {
            *pos += 1;
            *title = fromWindows1251(kept);
            return true;
        }
    }
}

// The header and titles; Truncated also when fewer than DataLength bytes follow the titles.
DataFileStatus readLayout(const Source &source, Layout *layout)
{
    char fixed[FixedHeaderSize + ScaleAndOffsetSize];
    const qint64 got = source.readAt(0, fixed, sizeof fixed);
    if (got < 2 || readLittleEndian<quint16>(fixed) != DataFileType)
        return DataFileStatus::NotInstrumentFile;
    if (got < qint64(sizeof fixed))
        return DataFileStatus::Truncated;

    DataFileHeader &h = layout->header;
    h.FileType = DataFileType;
    h.ChartChannelBits = quint8(fixed[4]);
    h.DataLength = readLittleEndian<quint32>(fixed + 5);
    h.ChannelIntervalUs = readDouble(fixed + 9);
    h.ValueScale = readDouble(fixed + FixedHeaderSize);
    h.ValueOffset = readLittleEndian<qint32>(fixed + FixedHeaderSize + 8);

    qint64 pos = sizeof fixed;
    if (!readTitle(source, &pos, &h.XTitle) || !readTitle(source, &pos, &h.YTitle))
        return DataFileStatus::Truncated;
    layout->dataOffset = pos;
    if (qint64(h.DataLength) > source.size() - pos)
        return DataFileStatus::Truncated;
    return DataFileStatus::Ok;
}

// Reads [offset, offset + count) whole, or fails.
bool readExactly(const Source &source, qint64 offset, qint64 count, QByteArray *out)
{
    out->resize(qsizetype(count));
    return source.readAt(offset, out->data(), count) == count;
}

DataFileStatus readWhole(const Source &source, DataFile *file)
{
    *file = DataFile();
    Layout layout;
    DataFileStatus status = readLayout(source, &layout);
    if (status != DataFileStatus::Ok)
        return status;
    DataFile loaded;
    loaded.header = layout.header;
    if (!readExactly(source, layout.dataOffset, layout.header.DataLength, &loaded.data)
        || !readExactly(source, layout.commentOffset(), source.size() - layout.commentOffset(),
            &loaded.commentBytes))
        return DataFileStatus::Truncated;
    *file = std::move(loaded);
    return DataFileStatus::Ok;
}

DataFileStatus readSummary(const Source &source, DataFileSummary *summary, qint64 maxCommentBytes)
{
    *summary = DataFileSummary();
    summary->fileSize = source.size();
    Layout layout;
    const DataFileStatus status = readLayout(source, &layout);
    if (status == DataFileStatus::NotInstrumentFile)
        return status;
    summary->header = layout.header;
    if (status != DataFileStatus::Ok)
        return status;
    summary->commentSize = source.size() - layout.commentOffset();
    const qint64 wanted = maxCommentBytes < 0 ? summary->commentSize
                                              : std::min(summary->commentSize, maxCommentBytes);
    if (!readExactly(source, layout.commentOffset(), wanted, &summary->commentBytes)) {
        summary->commentBytes.clear();
        return DataFileStatus::Truncated;
    }
    return DataFileStatus::Ok;
}

// An open descriptor of a regular file, or the reason there is none. A FIFO is opened
// without waiting for a writer and refused; nothing is read from anything but a regular
// file.
class OpenFile
{
public:
    explicit OpenFile(const QString &fileName)
    {
        const QByteArray name = QFile::encodeName(fileName);
        m_fd = fileName.isEmpty()
            ? -1
            : ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (m_fd < 0) {
            m_status = DataFileStatus::CannotOpen;
            return;
        }
        struct stat st;
        if (::fstat(m_fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            m_status = DataFileStatus::CannotOpen;
            return;
        }
        if (!S_ISREG(st.st_mode)) {
            m_status = DataFileStatus::NotRegularFile;
            return;
        }
        m_size = st.st_size;
    }
    ~OpenFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    DataFileStatus status() const { return m_status; }
    FdSource source() const { return FdSource(m_fd, m_size); }

private:
    int m_fd = -1;
    qint64 m_size = 0;
    DataFileStatus m_status = DataFileStatus::Ok;
};

std::optional<qint64> regularFileSize(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return st.st_size;
}

} // namespace

QString dataFileMessage(DataFileStatus status, const QString &fileName)
{
    switch (status) {
    case DataFileStatus::Ok:
        return {};
    case DataFileStatus::CannotOpen:
        return QStringLiteral("Cannot open file %1").arg(fileName);
    case DataFileStatus::NotInstrumentFile:
        return QStringLiteral("Приложение открывает файлы *.kdx, записанные АЦП. Для просмотра "
                              "выбранного файла используйте универсальное приложение "
                              "ViewKDX.exe");
    case DataFileStatus::Truncated:
        return QStringLiteral("Stream read error");
    case DataFileStatus::NotRegularFile:
        return QStringLiteral("Cannot open file %1: not a regular file").arg(fileName);
    }
    return {};
}

DataFileStatus decodeDataFile(const QByteArray &bytes, DataFile *file)
{
    return readWhole(MemorySource(bytes), file);
}

DataFileStatus readDataFile(int fd, DataFile *file)
{
    const std::optional<qint64> size = regularFileSize(fd);
    if (!size) {
        *file = DataFile();
        return DataFileStatus::NotRegularFile;
    }
    return readWhole(FdSource(fd, *size), file);
}

DataFileStatus readDataFile(const QString &fileName, DataFile *file, QString *error)
{
    const OpenFile in(fileName);
    DataFileStatus status = in.status();
    if (status == DataFileStatus::Ok)
        status = readWhole(in.source(), file);
    else
        *file = DataFile();
    if (error)
        *error = dataFileMessage(status, fileName);
    return status;
}

DataFileStatus readDataFileSummary(int fd, DataFileSummary *summary, qint64 maxCommentBytes)
{
    const std::optional<qint64> size = regularFileSize(fd);
    if (!size) {
        *summary = DataFileSummary();
        return DataFileStatus::NotRegularFile;
    }
    return readSummary(FdSource(fd, *size), summary, maxCommentBytes);
}

DataFileStatus readDataFileSummary(
    const QString &fileName, DataFileSummary *summary, qint64 maxCommentBytes, QString *error)
{
    const OpenFile in(fileName);
    DataFileStatus status = in.status();
    if (status == DataFileStatus::Ok)
        status = readSummary(in.source(), summary, maxCommentBytes);
    else
        *summary = DataFileSummary();
    if (error)
        *error = dataFileMessage(status, fileName);
    return status;
}

QStringList splitLines(const QString &text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QStringList DataFileSummary::commentLines() const
{
    return splitLines(fromWindows1251(commentBytes));
}

} // namespace files
