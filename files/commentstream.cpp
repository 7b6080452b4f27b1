#include "files/commentstream.h"

#include "files/windows1251.h"

#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

// Windows-1251 is a single-byte code page: each byte is one character of the basic plane
// (0x98, the unassigned one, becomes U+FFFD). The table is taken from fromWindows1251() once,
// so that a chunk decodes without a conversion call per line.
const std::array<char16_t, 256> &decodingTable()
{
    static const std::array<char16_t, 256> table = [] {
        QByteArray all(256, '\0');
        for (int b = 0; b < 256; ++b)
            all[b] = char(b);
        const QString text = fromWindows1251(all);
        std::array<char16_t, 256> t {};
        for (int b = 0; b < 256; ++b)
            t[size_t(b)] = b < text.size() ? text.at(b).unicode() : u'\uFFFD';
        return t;
    }();
    return table;
}

QString decode(const char *bytes, qsizetype count)
{
    const std::array<char16_t, 256> &table = decodingTable();
    QString text(count, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype i = 0; i < count; ++i)
        out[i] = table[quint8(bytes[i])];
    return text;
}

// Reads `count` bytes at `offset`; fewer only at the end of the file. -1 on an error (errno).
qint64 readAt(int fd, qint64 offset, char *buffer, qint64 count)
{
    qint64 done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, buffer + done, size_t(count - done), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += n;
    }
    return done;
}

} // namespace

CommentStream::CommentStream(qint64 chunkBytes)
    : m_chunkBytes(std::max<qint64>(chunkBytes, 1))
{
}

CommentStream::~CommentStream()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

DataFileStatus CommentStream::open(const QString &fileName, DataFileProblem *problem)
{
    reset();
    // Not blocking on a FIFO without a writer; the summary refuses anything but a regular file.
    m_fd = fileName.isEmpty() ? -1
                              : ::open(QFile::encodeName(fileName).constData(),
                                  O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    DataFileStatus status
        = m_fd >= 0 ? readDataFileSummary(m_fd, &m_summary, 0) : DataFileStatus::CannotOpen;
    if (status == DataFileStatus::Ok) {
        m_end = m_summary.commentSize;
        return status;
    }
    reset();
    // The cause from a read by name, which tells it in detail. A file that reads well now has
    // changed in between: its status is the one first found.
    DataFileSummary again;
    DataFileProblem found;
    const DataFileStatus named = readDataFileSummary(fileName, &again, 0, nullptr, &found);
    if (named == DataFileStatus::Ok) {
        found = DataFileProblem();
        found.status = status;
    } else {
        status = named;
    }
    if (problem)
        *problem = found;
    return status;
}

void CommentStream::reset()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_summary = DataFileSummary();
    m_end = 0;
    m_chunk.clear();
    m_failed = false;
    m_problem = DataFileProblem();
    seek(0, 1);
}

void CommentStream::seek(qint64 offset, qint64 lineNumber)
{
    m_chunk.clear();
    m_chunkOffset = std::clamp<qint64>(offset, 0, m_end);
    m_used = 0;
    m_afterCr = false;
    m_lineStart = m_chunkOffset;
    m_lineNumber = lineNumber;
    m_lineOpen = false;
}

void CommentStream::setLimit(qint64 bytes)
{
    m_end = std::clamp<qint64>(bytes, 0, m_summary.commentSize);
}

qint64 CommentStream::position() const
{
    return m_chunkOffset + m_used;
}

bool CommentStream::fail(int systemError)
{
    m_failed = true;
    m_problem = DataFileProblem();
    m_problem.status = DataFileStatus::Truncated;
    m_problem.part = DataFileProblem::Part::Comment;
    m_problem.systemError = systemError;
    m_problem.needed = m_summary.commentOffset + m_summary.commentSize;
    struct stat st;
    m_problem.fileSize
        = m_fd >= 0 && ::fstat(m_fd, &st) == 0 ? qint64(st.st_size) : m_summary.fileSize;
    return false;
}

bool CommentStream::fill()
{
    const qint64 offset = position();
    const qint64 count = std::min(m_chunkBytes, m_end - offset);
    if (count <= 0 || m_fd < 0 || m_failed)
        return false;
    m_chunk.resize(qsizetype(count));
    const qint64 got = readAt(m_fd, m_summary.commentOffset + offset, m_chunk.data(), count);
    if (got < 0)
        return fail(errno);
    if (got < count) // the file is shorter than when it was opened
        return fail(0);
    m_chunkOffset = offset;
    m_used = 0;
    return true;
}

bool CommentStream::next(CommentPiece *piece)
{
    for (;;) {
        if (m_failed)
            return false;
        if (m_used == m_chunk.size() && !fill()) {
            if (m_failed || !m_lineOpen)
                return false;
            // A final line without a break ends with the comment.
            *piece = { QString(), true, position(), m_lineStart, m_lineNumber };
            m_lineOpen = false;
            return true;
        }
        const char *p = m_chunk.constData() + m_used;
        const qsizetype n = m_chunk.size() - m_used;
        if (m_afterCr) {
            m_afterCr = false;
            if (*p == '\n') {
                ++m_used;
                m_lineStart = position();
                continue;
            }
        }
        qsizetype i = 0;
        while (i < n && p[i] != '\r' && p[i] != '\n')
            ++i;
        *piece = { decode(p, i), i < n, position(), m_lineStart, m_lineNumber };
        if (i < n) {
            m_afterCr = p[i] == '\r';
            m_used += i + 1;
            m_lineStart = position();
            ++m_lineNumber;
            m_lineOpen = false;
        } else {
            m_used += i;
            m_lineOpen = true;
        }
        return true;
    }
}

bool CommentStream::readText(qint64 offset, qint64 count, QString *text)
{
    text->clear();
    if (m_fd < 0 || offset < 0 || count < 0 || offset + count > m_summary.commentSize)
        return false;
    QByteArray bytes(qsizetype(count), Qt::Uninitialized);
    const qint64 got = readAt(m_fd, m_summary.commentOffset + offset, bytes.data(), count);
    if (got < 0)
        return fail(errno);
    if (got < count)
        return fail(0);
    *text = decode(bytes.constData(), bytes.size());
    return true;
}

LineMatcher::LineMatcher(const QString &text, bool matchCase)
    : m_wanted(matchCase ? text : text.toUpper())
    , m_matchCase(matchCase)
{
}

qsizetype LineMatcher::feed(QStringView piece, qsizetype minEnd)
{
    if (m_wanted.isEmpty())
        return -1;
    QString line = m_tail;
    line += m_matchCase ? piece.toString() : piece.toString().toUpper();
    qsizetype found = -1;
    for (qsizetype from = 0;;) {
        const qsizetype at = line.indexOf(m_wanted, from);
        if (at < 0)
            break;
        if (m_tailStart + at + m_wanted.size() > minEnd) {
            found = m_tailStart + at;
            break;
        }
        from = at + 1;
    }
    const qsizetype keep = std::min(line.size(), m_wanted.size() - 1);
    m_tailStart += line.size() - keep;
    m_tail = line.right(keep);
    return found;
}

void LineMatcher::endLine()
{
    m_tail.clear();
    m_tailStart = 0;
}

} // namespace files
