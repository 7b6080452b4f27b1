// Reading data files: the whole checked recording for a load, and the bounded summary
// (header, titles, comment) for the catalogue and `ferrun-cli info`.

#include "files/datafile.h"
#include "files/windows1251.h"

#include <QCoreApplication>
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
    // The titles' full lengths (what was kept of them may be shorter).
    qint64 xTitleBytes = 0;
    qint64 yTitleBytes = 0;
    qint64 commentOffset() const { return dataOffset + qint64(header.DataLength); }
};

using Part = DataFileProblem::Part;

DataFileStatus truncatedIn(DataFileProblem *problem, Part part, qint64 size, qint64 needed)
{
    if (problem) {
        problem->status = DataFileStatus::Truncated;
        problem->part = part;
        problem->fileSize = size;
        problem->needed = needed;
    }
    return DataFileStatus::Truncated;
}

constexpr qint64 ScaleAndOffsetSize = 12;

// Reads the zero-terminated title at `*pos`; keeps at most MaxTitleBytes of it and counts
// the whole in `*length`.
bool readTitle(const Source &source, qint64 *pos, QString *title, qint64 *length)
{
    const qint64 start = *pos;
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
            *length = *pos - start;
            *pos += 1;
            *title = fromWindows1251(kept);
            return true;
        }
    }
}

// The header and titles; Truncated also when fewer than DataLength bytes follow the titles.
DataFileStatus readLayout(const Source &source, Layout *layout, DataFileProblem *problem)
{
    char fixed[FixedHeaderSize + ScaleAndOffsetSize];
    const qint64 got = source.readAt(0, fixed, sizeof fixed);
    if (got < 2 || readLittleEndian<quint16>(fixed) != DataFileType) {
        if (problem) {
            problem->status = DataFileStatus::NotInstrumentFile;
            if (got >= 2)
                problem->fileTypeField = readLittleEndian<quint16>(fixed);
        }
        return DataFileStatus::NotInstrumentFile;
    }
    if (got < qint64(sizeof fixed))
        return truncatedIn(problem, Part::Header, source.size(), sizeof fixed);

    DataFileHeader &h = layout->header;
    h.FileType = DataFileType;
    h.ChartChannelBits = quint8(fixed[4]);
    h.DataLength = readLittleEndian<quint32>(fixed + 5);
    h.ChannelIntervalUs = readDouble(fixed + 9);
    h.ValueScale = readDouble(fixed + FixedHeaderSize);
    h.ValueOffset = readLittleEndian<qint32>(fixed + FixedHeaderSize + 8);

    qint64 pos = sizeof fixed;
    // A title without its zero byte needs at least one byte more than the file has.
    if (!readTitle(source, &pos, &h.XTitle, &layout->xTitleBytes))
        return truncatedIn(problem, Part::XTitle, source.size(), source.size() + 1);
    if (!readTitle(source, &pos, &h.YTitle, &layout->yTitleBytes))
        return truncatedIn(problem, Part::YTitle, source.size(), source.size() + 1);
    layout->dataOffset = pos;
    if (qint64(h.DataLength) > source.size() - pos)
        return truncatedIn(problem, Part::Data, source.size(), pos + qint64(h.DataLength));
    return DataFileStatus::Ok;
}

// Reads [offset, offset + count) whole, or fails.
bool readExactly(const Source &source, qint64 offset, qint64 count, QByteArray *out)
{
    out->resize(qsizetype(count));
    return source.readAt(offset, out->data(), count) == count;
}

// A read that returned less than the file's length promised: the file shrank, or the device
// failed.
DataFileStatus shortRead(DataFileProblem *problem, Part part, qint64 size, qint64 needed)
{
    const int error = errno;
    truncatedIn(problem, part, size, needed);
    if (problem && error != 0)
        problem->systemError = error;
    return DataFileStatus::Truncated;
}

DataFileStatus readWhole(const Source &source, DataFile *file, DataFileProblem *problem)
{
    *file = DataFile();
    Layout layout;
    DataFileStatus status = readLayout(source, &layout, problem);
    if (status != DataFileStatus::Ok)
        return status;
    DataFile loaded;
    loaded.header = layout.header;
    errno = 0;
    if (!readExactly(source, layout.dataOffset, layout.header.DataLength, &loaded.data))
        return shortRead(problem, Part::Data, source.size(), layout.commentOffset());
    if (!readExactly(source, layout.commentOffset(), source.size() - layout.commentOffset(),
            &loaded.commentBytes))
        return shortRead(problem, Part::Comment, source.size(), source.size());
    *file = std::move(loaded);
    return DataFileStatus::Ok;
}

DataFileStatus readSummary(const Source &source, DataFileSummary *summary, qint64 maxCommentBytes,
    DataFileProblem *problem)
{
    *summary = DataFileSummary();
    summary->fileSize = source.size();
    Layout layout;
    const DataFileStatus status = readLayout(source, &layout, problem);
    if (status == DataFileStatus::NotInstrumentFile)
        return status;
    summary->header = layout.header;
    summary->xTitleSize = layout.xTitleBytes;
    summary->yTitleSize = layout.yTitleBytes;
    if (status != DataFileStatus::Ok)
        return status;
    summary->commentOffset = layout.commentOffset();
    summary->commentSize = source.size() - layout.commentOffset();
    const qint64 wanted = maxCommentBytes < 0 ? summary->commentSize
                                              : std::min(summary->commentSize, maxCommentBytes);
    errno = 0;
    if (!readExactly(source, layout.commentOffset(), wanted, &summary->commentBytes)) {
        summary->commentBytes.clear();
        return shortRead(problem, Part::Comment, source.size(), source.size());
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
            m_problem.systemError = fileName.isEmpty() ? ENOENT : errno;
            return;
        }
        struct stat st;
        if (::fstat(m_fd, &st) != 0) {
            m_status = DataFileStatus::CannotOpen;
            m_problem.systemError = errno;
            return;
        }
        m_problem.fileType = st.st_mode & S_IFMT;
        if (S_ISDIR(st.st_mode)) {
            m_status = DataFileStatus::CannotOpen;
            m_problem.systemError = EISDIR;
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
    // What went wrong opening it (for a status other than Ok).
    DataFileProblem problem() const
    {
        DataFileProblem p = m_problem;
        p.status = m_status;
        return p;
    }
    FdSource source() const { return FdSource(m_fd, m_size); }

private:
    int m_fd = -1;
    qint64 m_size = 0;
    DataFileStatus m_status = DataFileStatus::Ok;
    DataFileProblem m_problem;
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
        return QCoreApplication::translate("files::DataFile", "Не удаётся открыть файл %1").arg(fileName);
    case DataFileStatus::NotInstrumentFile:
        return QCoreApplication::translate("files::DataFile",
            "Приложение открывает файлы *.kdx, записанные АЦП. Для просмотра "
            "выбранного файла используйте универсальное приложение "
            "ViewKDX.exe");
    case DataFileStatus::Truncated:
        return QCoreApplication::translate("files::DataFile", "Ошибка чтения потока");
    case DataFileStatus::NotRegularFile:
        return QCoreApplication::translate("files::DataFile", "Не удаётся открыть файл %1: это не обычный файл").arg(fileName);
    }
    return {};
}

QString dataFileProblemText(const DataFileProblem &problem)
{
    const auto system = [&] { return QString::fromLocal8Bit(std::strerror(problem.systemError)); };
    switch (problem.status) {
    case DataFileStatus::Ok:
        return {};
    case DataFileStatus::CannotOpen:
        if (problem.systemError == EISDIR)
            return QStringLiteral("is a folder, not a data file");
        return QStringLiteral("cannot be opened: %1").arg(system());
    case DataFileStatus::NotRegularFile: {
        const char *what = S_ISFIFO(problem.fileType) ? "a FIFO"
            : S_ISCHR(problem.fileType)               ? "a character device"
            : S_ISBLK(problem.fileType)               ? "a block device"
            : S_ISSOCK(problem.fileType)              ? "a socket"
                                                      : "not a file";
        return QStringLiteral("is not a regular file (%1)").arg(QLatin1String(what));
    }
    case DataFileStatus::NotInstrumentFile:
        if (problem.fileTypeField)
            return QStringLiteral("is not an instrument data file (its type field is %1, not %2)")
                .arg(*problem.fileTypeField)
                .arg(DataFileType);
        return QStringLiteral("is not an instrument data file (shorter than its 2-byte type)");
    case DataFileStatus::Truncated: {
        const char *part = "";
        switch (problem.part) {
        case Part::Header:
            part = "header";
            break;
        case Part::XTitle:
            part = "time-axis title";
            break;
        case Part::YTitle:
            part = "value-axis title";
            break;
        case Part::Data:
            part = "data";
            break;
        case Part::Comment:
        case Part::None:
            part = "comment";
            break;
        }
        QString text = problem.needed > problem.fileSize
            ? QStringLiteral("ends inside its %1: %2 bytes, %3 needed")
                  .arg(QLatin1String(part))
                  .arg(problem.fileSize)
                  .arg(problem.needed)
            : QStringLiteral("could not be read to its end (in its %1)").arg(QLatin1String(part));
        if (problem.systemError != 0)
            text += QStringLiteral(": %1").arg(system());
        return text;
    }
    }
    return {};
}

DataFileStatus decodeDataFile(const QByteArray &bytes, DataFile *file)
{
    return readWhole(MemorySource(bytes), file, nullptr);
}

DataFileStatus readDataFile(int fd, DataFile *file)
{
    const std::optional<qint64> size = regularFileSize(fd);
    if (!size) {
        *file = DataFile();
        return DataFileStatus::NotRegularFile;
    }
    return readWhole(FdSource(fd, *size), file, nullptr);
}

DataFileStatus readDataFile(
    const QString &fileName, DataFile *file, QString *error, DataFileProblem *problem)
{
    const OpenFile in(fileName);
    DataFileStatus status = in.status();
    DataFileProblem found = in.problem();
    if (status == DataFileStatus::Ok)
        status = readWhole(in.source(), file, &found);
    else
        *file = DataFile();
    found.status = status;
    if (error)
        *error = dataFileMessage(status, fileName);
    if (problem)
        *problem = found;
    return status;
}

DataFileStatus readDataFileSummary(int fd, DataFileSummary *summary, qint64 maxCommentBytes)
{
    const std::optional<qint64> size = regularFileSize(fd);
    if (!size) {
        *summary = DataFileSummary();
        return DataFileStatus::NotRegularFile;
    }
    return readSummary(FdSource(fd, *size), summary, maxCommentBytes, nullptr);
}

DataFileStatus readDataFileSummary(const QString &fileName, DataFileSummary *summary,
    qint64 maxCommentBytes, QString *error, DataFileProblem *problem)
{
    const OpenFile in(fileName);
    DataFileStatus status = in.status();
    DataFileProblem found = in.problem();
    if (status == DataFileStatus::Ok)
        status = readSummary(in.source(), summary, maxCommentBytes, &found);
    else
        *summary = DataFileSummary();
    found.status = status;
    if (error)
        *error = dataFileMessage(status, fileName);
    if (problem)
        *problem = found;
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
