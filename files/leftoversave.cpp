#include "files/leftoversave.h"

#include "files/datafile.h"

#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {

constexpr qsizetype MaxEntryBytes = 255;

// "NAME.recovered.kdx" or "NAME.recovered-N.kdx" beside the target, NAME shortened when the
// entry would exceed what a folder entry may hold.
QString recoveredName(const QString &fileName, int number)
{
    const qsizetype slash = fileName.lastIndexOf(u'/');
    const QString folder = fileName.left(slash + 1);
    QString name = fileName.mid(slash + 1);
    if (name.endsWith(QStringLiteral(".kdx"), Qt::CaseInsensitive))
        name.chop(4);
    const QString suffix = number <= 1 ? QStringLiteral(".recovered.kdx")
                                       : QStringLiteral(".recovered-%1.kdx").arg(number);
    while (!name.isEmpty() && QFile::encodeName(name + suffix).size() > MaxEntryBytes) {
        name.chop(1);
        if (!name.isEmpty() && name.back().isHighSurrogate())
            name.chop(1);
    }
    return folder + name + suffix;
}

} // namespace

LeftoverSave clearLeftoverSave(const QString &fileName)
{
    LeftoverSave result;
    if (fileName.isEmpty())
        return result;
    const QString leftover = temporarySaveName(fileName);
    const QByteArray encoded = QFile::encodeName(leftover);
    struct stat st;
    if (::lstat(encoded.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return result;

    DataFile file;
    if (readDataFile(leftover, &file) != DataFileStatus::Ok) {
        if (::unlink(encoded.constData()) == 0)
            result.outcome = LeftoverSave::Outcome::Removed;
        return result;
    }
    // renameat2 with RENAME_NOREPLACE: a name that exists, whatever it is, is never replaced.
    for (int number = 1; number < 1000; ++number) {
        const QString candidate = recoveredName(fileName, number);
        if (::renameat2(AT_FDCWD, encoded.constData(), AT_FDCWD,
                QFile::encodeName(candidate).constData(), RENAME_NOREPLACE)
            == 0) {
            result.outcome = LeftoverSave::Outcome::Recovered;
            result.path = candidate;
            return result;
        }
        if (errno != EEXIST) {
            result.reason = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
    }
    result.outcome = LeftoverSave::Outcome::NotRecovered;
    result.path = leftover;
    if (result.reason.isEmpty())
        result.reason = QStringLiteral("every recovered name is taken");
    return result;
}

} // namespace files
