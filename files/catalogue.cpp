#include "files/catalogue.h"

#include "files/commentstream.h"
#include "files/folderbrowser.h"

#include <QCoreApplication>
#include <QHash>
#include <algorithm>

namespace files {

namespace {

// Tests the lines from `*searchLine` on, cycling, each once; see findInCatalogue().
template <typename Test> qsizetype findCycling(qsizetype count, qsizetype *searchLine, Test test)
{
    const qsizetype start = *searchLine >= 0 && *searchLine < count ? *searchLine : 0;
    for (qsizetype i = 0; i < count; ++i) {
        const qsizetype k = (start + i) % count;
        if (test(k)) {
            *searchLine = k + 1 < count ? k + 1 : 0;
            return k;
        }
    }
    return -1;
}

// Searches the part of `entry`'s comment the list does not show. Sets `*lineNumber` to the
// comment line that holds the first match ending beyond the shown part, or 0 when there is
// none; false when the file cannot be read (`problem` says why).
bool searchRest(const QString &fileName, const CatalogueEntry &entry, const QString &text,
    bool matchCase, qint64 *lineNumber, DataFileProblem *problem)
{
    *lineNumber = 0;
    CommentStream comment;
    if (comment.open(fileName, problem) != DataFileStatus::Ok)
        return false;
    comment.seek(entry.restOffset, entry.restLineNumber);
    LineMatcher matcher(text, matchCase);
    CommentPiece piece;
    while (comment.next(&piece)) {
        const qint64 shownOfLine = std::max<qint64>(entry.shownBytes - piece.lineStart, 0);
        if (matcher.feed(piece.text, qsizetype(shownOfLine)) >= 0) {
            *lineNumber = piece.lineNumber;
            return true;
        }
        if (piece.endsLine)
            matcher.endLine();
    }
    if (comment.failed()) {
        *problem = comment.problem();
        return false;
    }
    return true;
}

} // namespace

QStringList Catalogue::lines() const
{
    QStringList out;
    for (const CatalogueEntry &entry : entries) {
        out.append(catalogueMarker(entry.name));
        out.append(entry.commentLines);
        if (entry.cut())
            out.append(catalogueCutMark(entry.shownBytes, entry.commentSize));
    }
    return out;
}

QString catalogueMarker(const QString &name)
{
    return CatalogueMarker + name + CatalogueMarker;
}

QString catalogueCutMark(qint64 shownBytes, qint64 commentSize)
{
    return QCoreApplication::translate(
        "files::Catalogue", "… (комментарий длиннее, показано байт: %1 из %2)")
        .arg(shownBytes)
        .arg(commentSize);
}

QString noFilesMessage(const QString &extension)
{
    return QCoreApplication::translate("files::Catalogue", "Выберите путь, содержащий файлы ")
        + extension;
}

QString catalogueFolder(const QString &folder)
{
    return folder.isEmpty() || folder.endsWith(u'/') ? folder : folder + QLatin1Char('/');
}

QStringList catalogueFiles(const QString &folder, const QString &extension, bool *readable)
{
    return listFolder(catalogueFolder(folder), extension, readable);
}

Catalogue buildCatalogue(const QString &folder, const QString &extension, qint64 maxCommentBytes,
    qint64 maxBytes, qint64 maxLines)
{
    Catalogue catalogue;
    catalogue.folder = catalogueFolder(folder);
    const QStringList names = catalogueFiles(folder, extension, &catalogue.folderReadable);
    if (names.isEmpty()) {
        catalogue.noFiles = true;
        catalogue.message = noFilesMessage(extension);
        return catalogue;
    }
    qint64 bytesLeft = maxBytes;
    qint64 linesLeft = maxLines;
    CommentStream comment;
    for (const QString &name : names) {
        DataFileProblem problem;
        if (comment.open(catalogue.folder + name, &problem) != DataFileStatus::Ok) {
            catalogue.skipped.append({ name, problem });
            continue;
        }
        CatalogueEntry entry;
        entry.name = name;
        entry.commentSize = comment.commentSize();
        comment.setLimit(std::min(maxCommentBytes, bytesLeft));
        // The lines up to the limit, or up to the lines left: then the first line not shown
        // is where the search of the rest begins.
        QString line;
        CommentPiece piece;
        bool linesFull = false;
        while (comment.next(&piece)) {
            if (entry.commentLines.size() >= linesLeft) {
                linesFull = true;
                break;
            }
            line += piece.text;
            if (!piece.endsLine)
                continue;
            entry.commentLines.append(line);
            line.clear();
            entry.restOffset = piece.lineStart;
            entry.restLineNumber = piece.lineNumber;
        }
        if (comment.failed()) {
            catalogue.skipped.append({ name, comment.problem() });
            continue;
        }
        if (linesFull) {
            entry.shownBytes = piece.lineStart;
            entry.restOffset = piece.lineStart;
            entry.restLineNumber = piece.lineNumber;
        } else {
            entry.shownBytes = comment.position();
        }
        bytesLeft -= entry.shownBytes;
        linesLeft -= entry.commentLines.size();
        catalogue.entries.append(std::move(entry));
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
    if (text.isEmpty())
        return -1;
    const QString wanted = matchCase ? text : text.toUpper();
    return findCycling(lines.size(), searchLine, [&](qsizetype k) {
        const QString &line = lines.at(k);
        return matchCase ? line.contains(wanted) : line.toUpper().contains(wanted);
    });
}

CatalogueFind findInCatalogue(const Catalogue &catalogue, const QStringList &lines,
    const QString &text, bool matchCase, qsizetype *searchLine)
{
    CatalogueFind find;
    if (text.isEmpty())
        return find;
    // The cut marks' lines and their entries.
    QHash<qsizetype, const CatalogueEntry *> cuts;
    qsizetype at = 0;
    for (const CatalogueEntry &entry : catalogue.entries) {
        at += 1 + entry.commentLines.size();
        if (entry.cut())
            cuts.insert(at++, &entry);
    }
    const QString wanted = matchCase ? text : text.toUpper();
    find.line = findCycling(lines.size(), searchLine, [&](qsizetype k) {
        const CatalogueEntry *entry = cuts.value(k);
        if (!entry) {
            const QString &line = lines.at(k);
            return matchCase ? line.contains(wanted) : line.toUpper().contains(wanted);
        }
        DataFileProblem problem;
        qint64 lineNumber = 0;
        if (!searchRest(
                catalogue.folder + entry->name, *entry, text, matchCase, &lineNumber, &problem)) {
            find.unreadable.append({ entry->name, problem });
            return false;
        }
        if (lineNumber == 0)
            return false;
        find.beyondShown = true;
        find.name = entry->name;
        find.commentLine = lineNumber;
        return true;
    });
    return find;
}

} // namespace files
