#include "cli/output.h"

#include "files/printable.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace cli {

StandardOutput::StandardOutput(const QString &command)
    : m_command(command)
{
}

bool StandardOutput::fail(int error)
{
    if (!m_failed)
        std::fprintf(stderr, "ferrun-cli %s: cannot write to standard output: %s\n",
            qPrintable(m_command), std::strerror(error));
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

QString escaped(const QString &name)
{
    return files::escapeControls(name, false);
}

} // namespace cli
