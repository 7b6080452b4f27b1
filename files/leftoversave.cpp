#include "files/leftoversave.h"

#include "files/datafile.h"
#include "files/outputfile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

constexpr qsizetype MaxEntryBytes = 255;

QByteArray folderOf(const QByteArray &path)
{
    return path.left(path.lastIndexOf('/') + 1);
}

// "NAME.recovered.kdx" or "NAME.recovered-N.kdx" beside the target, NAME shortened (by whole
// UTF-8 characters) when the entry would exceed what a folder entry may hold.
QByteArray recoveredName(const QByteArray &fileName, int number)
{
    QByteArray name = fileName.mid(fileName.lastIndexOf('/') + 1);
    if (name.toLower().endsWith(".kdx"))
        name.chop(4);
    const QByteArray suffix = number <= 1 ? QByteArrayLiteral(".recovered.kdx")
                                          : ".recovered-" + QByteArray::number(number) + ".kdx";
    while (!name.isEmpty() && name.size() + suffix.size() > MaxEntryBytes) {
        while (name.size() > 1 && (uchar(name.back()) & 0xC0) == 0x80)
            name.chop(1);
        name.chop(1);
    }
    return folderOf(fileName) + name + suffix;
}

// Clears one leftover, held open and locked as `fd`; nothing when it could not be removed.
std::optional<LeftoverSave> clearOne(
    int fd, const QByteArray &leftover, bool whole, const QByteArray &fileName)
{
    LeftoverSave result;
    DataFile file;
    if (!whole || readDataFile(fd, &file) != DataFileStatus::Ok) {
        result.path = QFile::decodeName(leftover);
        if (::unlink(leftover.constData()) != 0)
            return std::nullopt;
        return result;
    }
    // renameat2 with RENAME_NOREPLACE: a name that exists, whatever it is, is never replaced.
    for (int number = 1; number < 1000; ++number) {
        const QByteArray candidate = recoveredName(fileName, number);
        if (::renameat2(
                AT_FDCWD, leftover.constData(), AT_FDCWD, candidate.constData(), RENAME_NOREPLACE)
            == 0) {
            result.outcome = LeftoverSave::Outcome::Recovered;
            result.path = QFile::decodeName(candidate);
            return result;
        }
        if (errno != EEXIST) {
            result.reason = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
    }
    result.outcome = LeftoverSave::Outcome::NotRecovered;
    result.path = QFile::decodeName(leftover);
    if (result.reason.isEmpty())
        result.reason = QStringLiteral("every recovered name is taken");
    return result;
}

// The entries of `folder` ("" for the working folder) that are temporary files of saves.
template <typename Visit> void forEachLeftover(const QByteArray &folder, Visit visit)
{
    DIR *dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
    if (!dir)
        return;
    QList<QByteArray> names;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!temporaryTarget(name).isEmpty())
            names.append(name);
    }
    ::closedir(dir);
    for (const QByteArray &name : names) {
        bool whole = false;
        const QByteArray target = temporaryTarget(name, &whole);
        visit(name, target, whole);
    }
}

} // namespace

QList<LeftoverSave> clearLeftoverSaves(const QByteArray &fileName)
{
    QList<LeftoverSave> results;
    const QByteArray folder = folderOf(fileName);
    const QByteArray target = temporaryTargetName(fileName.mid(folder.size()));
    if (target.isEmpty())
        return results;
    forEachLeftover(folder, [&](const QByteArray &name, const QByteArray &of, bool whole) {
        if (of != target)
            return;
        const QByteArray leftover = folder + name;
        const int fd = ::open(
            leftover.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            return;
        struct stat opened;
        struct stat named;
        // A regular file that no save holds, and still the file of that name.
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode)
            && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::lstat(leftover.constData(), &named) == 0
            && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
            if (const std::optional<LeftoverSave> done = clearOne(fd, leftover, whole, fileName))
                results.append(*done);
        ::close(fd);
    });
    return results;
}

QList<QByteArray> leftoverTargets(const QByteArray &folder)
{
    QList<QByteArray> targets;
    QByteArray prefix = folder;
    if (!prefix.isEmpty() && !prefix.endsWith('/'))
        prefix += '/';
    forEachLeftover(prefix, [&](const QByteArray &, const QByteArray &of, bool) {
        if (!targets.contains(of))
            targets.append(of);
    });
    return targets;
}

} // namespace files
