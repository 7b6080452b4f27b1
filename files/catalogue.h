#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The comment catalogue of a folder: for each data file, in the order of the folder listing,
// a marker line "=v=" + name + "=v=" and then the lines of its comment. Built from the
// header, titles and comment of each file; the data is seeked over.
namespace files {

inline const QString CatalogueMarker = QStringLiteral("=v=");

// The catalogue takes at most this much of each comment, so that a damaged or hostile file
// cannot fill the memory.
inline constexpr qint64 MaxCatalogueCommentBytes = qint64(1) << 20;

struct CatalogueEntry
{
    QString name; // without folder
    QStringList commentLines;
};

enum class CatalogueStop {
    // Every listed file is in the catalogue.
    None,
    // The folder holds no matching entry (or cannot be read); `message` asks for a folder.
    NoFiles,
    // A file whose type is not this program's: the entries before it are kept and the list
    // is hidden.
    ForeignFile,
    // A listed entry could not be opened (a folder, a FIFO, no permission): the entries
    // before it are kept and `message` tells which.
    CannotOpen,
};

struct Catalogue
{
    QList<CatalogueEntry> entries;
    CatalogueStop stop = CatalogueStop::None;
    // False when the folder itself could not be read (stop is then NoFiles).
    bool folderReadable = true;
    // The full name of the entry that stopped the listing, and what to tell the user.
    QString stopFile;
    QString message;

    // The lines of the list: each entry's marker line followed by its comment lines.
    QStringList lines() const;
};

// The marker line of a file name.
QString catalogueMarker(const QString &name);

// "Выберите путь, содержащий файлы " + the extension.
QString noFilesMessage(const QString &extension);

// The catalogue of the entries of `folder` (a folder name, with or without its final '/'; an
// empty name lists nothing)
// whose names end in `extension` (letter case ignored), in the order of listFolder(). A file
// that ends inside its header, titles or data is listed with an empty comment.
Catalogue buildCatalogue(const QString &folder, const QString &extension);

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

} // namespace files
