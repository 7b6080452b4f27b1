#include "files/catalogue.h"

#include "files/datafile.h"
#include "files/folderbrowser.h"

namespace files {

QStringList Catalogue::lines() const
{
    QStringList out;
    for (const CatalogueEntry &entry : entries) {
        out.append(catalogueMarker(entry.name));
        out.append(entry.commentLines);
    }
    return out;
}

QString catalogueMarker(const QString &name)
{
    return CatalogueMarker + name + CatalogueMarker;
}

QString noFilesMessage(const QString &extension)
{
    return QStringLiteral("Выберите путь, содержащий файлы ") + extension;
}

Catalogue buildCatalogue(const QString &folder, const QString &extension)
{
    Catalogue catalogue;
    const QString prefix
        = folder.isEmpty() || folder.endsWith(u'/') ? folder : folder + QLatin1Char('/');
    const QStringList names = listFolder(prefix, extension, &catalogue.folderReadable);
    if (names.isEmpty()) {
        catalogue.stop = CatalogueStop::NoFiles;
        catalogue.message = noFilesMessage(extension);
        return catalogue;
    }
    catalogue.entries.reserve(names.size());
    for (const QString &name : names) {
        const QString fullName = prefix + name;
        DataFileSummary summary;
        const DataFileStatus status
            = readDataFileSummary(fullName, &summary, MaxCatalogueCommentBytes);
        switch (status) {
        case DataFileStatus::Ok:
            catalogue.entries.append({ name, summary.commentLines() });
            continue;
        case DataFileStatus::Truncated:
            catalogue.entries.append({ name, {} });
            continue;
        case DataFileStatus::NotInstrumentFile:
            catalogue.stop = CatalogueStop::ForeignFile;
            break;
        case DataFileStatus::CannotOpen:
        case DataFileStatus::NotRegularFile:
            catalogue.stop = CatalogueStop::CannotOpen;
            break;
        }
        catalogue.stopFile = fullName;
        catalogue.message = dataFileMessage(status, fullName);
        break;
    }
    return catalogue;
}

QString catalogueEntryName(const QStringList &lines, qsizetype line)
{
    if (line < 0 || line >= lines.size())
        return {};
    for (qsizetype i = line; i >= 0; --i) {
        const QString &text = lines.at(i);
        if (!text.startsWith(CatalogueMarker))
            continue;
        const qsizetype length = text.size() - 2 * CatalogueMarker.size();
        return length > 0 ? text.mid(CatalogueMarker.size(), length) : QString();
    }
    return {};
}

bool lineContains(const QString &line, const QString &text, bool matchCase)
{
    if (text.isEmpty())
        return false;
    return matchCase ? line.contains(text) : line.toUpper().contains(text.toUpper());
}

qsizetype findInCatalogue(
    const QStringList &lines, const QString &text, bool matchCase, qsizetype *searchLine)
{
    if (text.isEmpty() || lines.isEmpty())
        return -1;
    const QString wanted = matchCase ? text : text.toUpper();
    const qsizetype count = lines.size();
    const qsizetype start = *searchLine >= 0 && *searchLine < count ? *searchLine : 0;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype k = (start + i) % count;
        const QString &line = lines.at(k);
        if (matchCase ? line.contains(wanted) : line.toUpper().contains(wanted)) {
            *searchLine = k + 1 < count ? k + 1 : 0;
            return k;
        }
    }
    return -1;
}

} // namespace files
