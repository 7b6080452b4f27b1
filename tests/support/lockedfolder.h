#pragma once

#include <QFile>
#include <QString>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// Shared by the tests of files and of the command line: a folder made to refuse new files.
namespace testsupport {

// A folder that takes no new file, even for root (immutable), while it lives.
class LockedFolder
{
public:
    explicit LockedFolder(const QString &path)
        : m_fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY))
    {
        m_locked = m_fd >= 0 && ::ioctl(m_fd, FS_IOC_GETFLAGS, &m_flags) == 0;
        int flags = m_flags | FS_IMMUTABLE_FL;
        m_locked = m_locked && ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (!m_locked && ::geteuid() != 0)
            m_locked = ::chmod(QFile::encodeName(path).constData(), 0555) == 0;
        m_path = path;
    }
    ~LockedFolder()
    {
        if (m_fd >= 0)
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &m_flags);
        ::chmod(QFile::encodeName(m_path).constData(), 0755);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool locked() const { return m_locked; }

private:
    int m_fd;
    int m_flags = 0;
    bool m_locked = false;
    QString m_path;
};

} // namespace testsupport
