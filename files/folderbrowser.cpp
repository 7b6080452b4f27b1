#include "files/folderbrowser.h"

#include <QFile>
#include <algorithm>
#include <dirent.h>
#include <utility>
#include <vector>

namespace files {

QStringList listFolder(const QString &folder, const QString &suffix, bool *readable)
{
    DIR *dir = folder.isEmpty() ? nullptr : ::opendir(QFile::encodeName(folder).constData());
    if (readable)
        *readable = dir != nullptr;
    if (!dir)
        return {};
    // Each name with its sort key: the name in upper case.
    std::vector<std::pair<QString, QString>> entries;
    while (const dirent *entry = ::readdir(dir)) {
        const char *raw = entry->d_name;
        if (raw[0] == '.' && (raw[1] == 0 || (raw[1] == '.' && raw[2] == 0)))
            continue;
        QString name = QFile::decodeName(raw);
        if (!name.endsWith(suffix, Qt::CaseInsensitive))
            continue;
        QString key = name.toUpper();
        entries.emplace_back(std::move(key), std::move(name));
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end());
    QStringList names;
    names.reserve(qsizetype(entries.size()));
    for (auto &entry : entries)
        names.append(std::move(entry.second));
    return names;
}

QString folderPart(const QString &fullName)
{
    return fullName.left(fullName.lastIndexOf(u'/') + 1);
}

QString namePart(const QString &fullName)
{
    return fullName.mid(fullName.lastIndexOf(u'/') + 1);
}

QString extensionPart(const QString &fullName)
{
    const QString name = namePart(fullName);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot < 0 ? QString() : name.mid(dot);
}

BrowseStep previousDataFile(const QString &currentDataFile)
{
    const QString folder = folderPart(currentDataFile);
    const QString current = namePart(currentDataFile);
    const QStringList names = listFolder(folder, DataFileSuffix);
    if (!names.isEmpty() && names.first() == current)
        return { BrowseOutcome::NoMoreFiles, {} };
    const qsizetype at = names.indexOf(current);
    if (at < 0)
        return { BrowseOutcome::Nothing, {} };
    return { BrowseOutcome::Open, folder + names.at(at - 1) };
}

BrowseStep nextDataFile(const QString &currentDataFile)
{
    const QString folder = folderPart(currentDataFile);
    const QStringList names = listFolder(folder, DataFileSuffix);
    const qsizetype at = names.indexOf(namePart(currentDataFile));
    if (at < 0 || at + 1 >= names.size())
        return { BrowseOutcome::NoMoreFiles, {} };
    return { BrowseOutcome::Open, folder + names.at(at + 1) };
}

} // namespace files
