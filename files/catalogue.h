#pragma once

#include "files/datafile.h"

#include <QList>
#include <QString>
#include <QStringList>

// The comment catalogue of a folder: for each data file, in the order of the folder listing,
// a marker line "=v=" + name + "=v=" and then the lines of its comment. Built from the
// header, titles and comment of each file; the data is seeked over. A listed entry that is not
// a readable data file is skipped, and the others are listed.
namespace files {

inline const QString CatalogueMarker = QStringLiteral("=v=");

// What the window's list holds of the comments, so that a long or hostile comment cannot fill
// the memory: at most this much of each comment, and of all of them together at most the
// bytes and lines below (marker lines not counted). A comment cut short is followed by its cut
// mark; the search still reads it whole from the file.
inline constexpr qint64 MaxCatalogueCommentBytes = qint64(1) << 20;
inline constexpr qint64 MaxCatalogueBytes = qint64(8) << 20;
inline constexpr qint64 MaxCatalogueLines = 200000;

struct CatalogueEntry
{
    QString name; // without folder
    // The comment's lines, or those of its first shownBytes bytes when it is cut.
    QStringList commentLines;
    qint64 commentSize = 0;
    qint64 shownBytes = 0;
    // Where the search of the part not shown begins: the start of the last line shown (a
    // match may begin in it and end beyond the cut), and that line's number from 1.
    qint64 restOffset = 0;
    qint64 restLineNumber = 1;
    bool cut() const { return shownBytes < commentSize; }
};

// A listed entry that is not in the catalogue, and why.
struct CatalogueSkip
{
    QString name; // without folder
    DataFileProblem problem;
};

struct Catalogue
{
    // The folder listed, with its final '/'.
    QString folder;
    QList<CatalogueEntry> entries;
    QList<CatalogueSkip> skipped;
    // The folder holds no matching entry (or cannot be read): `message` asks for a folder.
    bool noFiles = false;
    // False when the folder itself could not be read.
    bool folderReadable = true;
    QString message;

    // The lines of the list: each entry's marker line, its comment lines, and for a cut
    // comment its cut mark.
    QStringList lines() const;
};

// The marker line of a file name.
QString catalogueMarker(const QString &name);

// The line that follows a comment cut short in the list: "… (комментарий длиннее, показано
// байт: 1048576 из 5000000)".
QString catalogueCutMark(qint64 shownBytes, qint64 commentSize);

// "Выберите путь, содержащий файлы " + the extension.
QString noFilesMessage(const QString &extension);

// The names of the entries of `folder` (a folder name, with or without its final '/'; an
// empty name lists nothing) whose names end in `extension` (letter case ignored), in the
// order of listFolder().
QStringList catalogueFiles(const QString &folder, const QString &extension, bool *readable);
// The folder name with its final '/' (empty stays empty).
QString catalogueFolder(const QString &folder);

// The catalogue of those entries, each comment bounded as the constants above say. An entry
// that cannot be opened, is not a regular file, is not an instrument data file or ends inside
// its header, titles or data (its comment cannot be found) is skipped and noted in `skipped`.
Catalogue buildCatalogue(const QString &folder, const QString &extension,
    qint64 maxCommentBytes = MaxCatalogueCommentBytes, qint64 maxBytes = MaxCatalogueBytes,
    qint64 maxLines = MaxCatalogueLines);

// The name of the file whose entry holds line `line`: the nearest line at or above it that
// begins with the marker, without its first and last three characters. Empty when no such
// line is at or above it (or `line` is out of range).
QString catalogueEntryName(const QStringList &lines, qsizetype line);

// True when `line` contains `text`: with `matchCase` exactly, otherwise both in upper case
// (Cyrillic letters fold too). An empty text is found nowhere.
bool lineContains(const QString &line, const QString &text, bool matchCase);

// The search of the catalogue panel. Tests the lines from `*searchLine` on, continuing with
// line 0 after the last, each line once; returns the first that contains `text` and sets
// `*searchLine` to the line after it (0 after the last line), so that each further search
// finds the next line, cycling through the list. Returns -1 and leaves `*searchLine` as it
// was when no line contains the text (or the text is empty). A `*searchLine` beyond the list
// (the list was rebuilt shorter) starts at line 0.
qsizetype findInCatalogue(
    const QStringList &lines, const QString &text, bool matchCase, qsizetype *searchLine);

// Where the catalogue search found the text.
struct CatalogueFind
{
    // The list line, -1 when nothing was found.
    qsizetype line = -1;
    // Found in the part of a comment the list does not show (`line` is then its cut mark):
    // the file's name and the number of the comment line, from 1.
    bool beyondShown = false;
    QString name;
    qint64 commentLine = 0;
    // Entries whose part not shown could not be read (gone, changed or unreadable since the
    // catalogue was built), with the cause.
    QList<CatalogueSkip> unreadable;
};

// findInCatalogue() over `lines` (= catalogue.lines()), where the cut mark of a cut comment
// stands for the part of the comment not shown: that part is read from the file in chunks
// and searched whole, a match that begins in the last line shown and ends beyond it included.
CatalogueFind findInCatalogue(const Catalogue &catalogue, const QStringList &lines,
    const QString &text, bool matchCase, qsizetype *searchLine);

} // namespace files
