#include "cli/output.h"

#include "files/printable.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cli {

namespace {

QString &commandName()
{
    static QString name;
    return name;
}

bool closedStreams[3] = { false, false, false };
bool progressLineOpen = false;

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Copies all of standard input into an unnamed file of the temporary folder; its descriptor,
// or -1 with `*error`.
int copyStandardInput(int *error)
{
    const QByteArray folder = QFile::encodeName(QDir::tempPath());
    int fd = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        QByteArray name = folder + "/ferrun-cli-input-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            ::unlink(name.constData());
    }
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    std::vector<char> buffer(size_t(1) << 20);
    for (;;) {
        ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *error = errno;
            if (n == 0)
                return fd;
            ::close(fd);
            return -1;
        }
        for (const char *data = buffer.data(); n > 0;) {
            const ssize_t written = ::write(fd, data, size_t(n));
            if (written < 0 && errno == EINTR)
                continue;
            if (written < 0) {
                *error = errno;
                ::close(fd);
                return -1;
            }
            data += written;
            n -= written;
        }
    }
}

} // namespace

void setCommand(const QString &name)
{
    commandName() = name;
}

QString command()
{
    return commandName();
}

void drawProgressLine(const QString &text)
{
    // To the line's start, the text, and the rest of the line cleared.
    std::fprintf(stderr, "\r%s\x1b[K", text.toUtf8().constData());
    std::fflush(stderr);
    progressLineOpen = true;
}

void endProgressLine()
{
    if (progressLineOpen)
        std::fputc('\n', stderr);
    progressLineOpen = false;
}

void message(const QString &text)
{
    endProgressLine();
    const QByteArray line = files::escapeControls(text, false).toUtf8();
    if (commandName().isEmpty())
        std::fprintf(stderr, "ferrun-cli: %s\n", line.constData());
    else
        std::fprintf(stderr, "ferrun-cli %s: %s\n", qPrintable(commandName()), line.constData());
    std::fflush(stderr);
}

QString escaped(const QString &name)
{
    return files::escapeControls(name, true);
}

void holdClosedStandardStreams()
{
    for (int fd = 0; fd < 3; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // Opened for neither reading nor writing: both fail (EBADF), as on the closed one.
        const int held = ::open("/dev/null", O_PATH | O_CLOEXEC);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
        closedStreams[fd] = true;
    }
}

bool standardStreamClosed(int fd)
{
    return fd >= 0 && fd < 3 && closedStreams[fd];
}

bool StandardOutput::fail(int error)
{
    if (!m_failed)
        message(standardStreamClosed(STDOUT_FILENO)
                ? QStringLiteral("cannot write to standard output: it is closed")
                : QStringLiteral("cannot write to standard output: %1").arg(systemText(error)));
    m_failed = true;
    return false;
}

bool StandardOutput::write(const QByteArray &bytes)
{
    if (m_failed)
        return false;
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout) != size_t(bytes.size()))
        return fail(errno ? errno : EIO);
    return true;
}

bool StandardOutput::finish()
{
    if (m_failed)
        return false;
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return fail(errno ? errno : EIO);
    return true;
}

int printText(const QString &text)
{
    StandardOutput out;
    return out.write(text) && out.finish() ? 0 : ExitOutputFailed;
}

std::optional<InputFile> inputFile(const QString &name)
{
    if (name != QLatin1String("-"))
        return InputFile { name, escaped(name) };
    const QString shown = QStringLiteral("standard input");
    if (standardStreamClosed(STDIN_FILENO)) {
        message(QStringLiteral("cannot read standard input: it is closed"));
        return std::nullopt;
    }
    if (::isatty(STDIN_FILENO)) {
        message(QStringLiteral("standard input is a terminal: give a data file through a pipe "
                               "or a redirection (< FILE)"));
        return std::nullopt;
    }
    // A regular file (a redirection) is read as it is, from its start, through its own path.
    struct stat st;
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode))
        return InputFile { QStringLiteral("/proc/self/fd/0"), shown };
    int error = 0;
    const int fd = copyStandardInput(&error);
    if (fd < 0) {
        message(QStringLiteral("cannot read standard input: %1").arg(systemText(error)));
        return std::nullopt;
    }
    // Kept open for the program's life: the path names it.
    return InputFile { QStringLiteral("/proc/self/fd/%1").arg(fd), shown };
}

QString shownError(const QString &error, const QString &path)
{
    const QString prefix = QStringLiteral("cannot write ") + path;
    if (!error.startsWith(prefix))
        return error;
    return QStringLiteral("cannot write ") + outputShown(path) + error.mid(prefix.size());
}

QString count(qint64 n, const char *singular, const char *plural)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? singular : plural));
}

QString outputShown(const QString &name)
{
    return name == QLatin1String("-") ? QStringLiteral("standard output") : escaped(name);
}

} // namespace cli
