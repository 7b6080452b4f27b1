#include "cli/datafileinput.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cli {

bool DataFileInput::fail(const files::DataFileProblem &problem)
{
    message(QStringLiteral("%1 %2").arg(m_source.shown, files::dataFileProblemText(problem)));
    return false;
}

bool DataFileInput::open(const QString &name, qint64 commentBytes)
{
    const std::optional<InputFile> source = inputFile(name);
    if (!source)
        return false;
    m_source = *source;
    files::DataFileProblem problem;
    if (files::readDataFileSummary(m_source.path, &m_summary, commentBytes, nullptr, &problem)
        != files::DataFileStatus::Ok)
        return fail(problem);
    return true;
}

void DataFileInput::setDisplay(const sig::DisplaySettings &display)
{
    sig::DisplaySettings settings = display;
    sig::applyFileHeader(settings, header());
    m_stream.emplace(m_decoder, header().DataLength, settings);
}

bool DataFileInput::readArray(const std::function<bool(const char *, qint64)> &piece)
{
    const qint64 length = m_summary.header.DataLength;
    const qint64 offset = m_summary.commentOffset - length;
    const auto failRead = [&](qint64 fileSize, int error) {
        files::DataFileProblem problem;
        problem.status = files::DataFileStatus::Truncated;
        problem.part = files::DataFileProblem::Part::Data;
        problem.fileSize = fileSize;
        problem.needed = m_summary.commentOffset;
        problem.systemError = error;
        return fail(problem);
    };
    // Opened again by name: checked to be a regular file that still holds the whole array.
    const int fd = ::open(
        QFile::encodeName(m_source.path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return failRead(m_summary.fileSize, errno);
    struct stat st;
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!regular) {
        ::close(fd);
        return failRead(m_summary.fileSize, 0);
    }
    std::vector<char> buffer(size_t(std::min(PieceBytes, std::max<qint64>(length, 1))));
    bool ok = true;
    for (qint64 done = 0; ok && done < length;) {
        const qint64 want = std::min<qint64>(qint64(buffer.size()), length - done);
        const ssize_t n = ::pread(fd, buffer.data(), size_t(want), offset + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : 0;
            ok = failRead(::fstat(fd, &st) == 0 ? qint64(st.st_size) : m_summary.fileSize, error);
            break;
        }
        done += n;
        ok = piece(buffer.data(), n);
    }
    ::close(fd);
    return ok;
}

bool DataFileInput::decode(const std::function<bool()> &piece)
{
    m_stream->restart();
    return readArray([&](const char *data, qint64 size) {
        m_stream->decode(data, size);
        return piece();
    });
}

} // namespace cli
