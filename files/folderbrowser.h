#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

// Stepping from the current data file to its neighbours in the folder listing. The listing is
// read afresh on every step; nothing is kept between steps.
namespace files {

inline const QString DataFileSuffix = QStringLiteral(".kdx");
// Said when a step finds no further file; in the window's language.
inline QString noMoreFilesMessage()
{
    return QCoreApplication::translate("files::FolderBrowser", "Больше нет файлов");
}

// The entries of `folder` whose names end in `suffix`, letter case ignored (an empty suffix
// takes every entry), sub-folders, hidden entries and anything else of that name included,
// "." and ".." never. Sorted in ascending order ignoring letter case (names are compared in
// upper case, the order NTFS volumes list them in), names that differ only in case by their
// exact spelling. An unreadable folder lists nothing and sets `readable` false; so does an
// empty folder name (the folder part of a name without any, such as "zu:", names no folder).
QStringList listFolder(const QString &folder, const QString &suffix, bool *readable = nullptr);

// The folder part of a full name, with its final '/' ("" for a name without a folder), and
// the name part.
QString folderPart(const QString &fullName);
QString namePart(const QString &fullName);
// The extension of the name part from its last '.', dot included; "" when it has none.
QString extensionPart(const QString &fullName);

enum class BrowseOutcome {
    // Open `fileName` (the neighbour's full name), which becomes the current data file.
    Open,
    // Show NoMoreFilesMessage; the current data file stays.
    NoMoreFiles,
    // Nothing happens: Previous when the current file is not in the listing.
    Nothing,
};

struct BrowseStep
{
    BrowseOutcome outcome = BrowseOutcome::Nothing;
    QString fileName;
    bool operator==(const BrowseStep &) const = default;
};

// The neighbours of `currentDataFile` among the "*.kdx" entries of its folder. Its name is
// compared with the listed names exactly, letter case included. There is no wrap-around:
// Previous on the first entry and Next on the last give NoMoreFiles. Next on a file that is
// not listed (deleted, or named in another letter case) gives NoMoreFiles, Previous Nothing.
BrowseStep previousDataFile(const QString &currentDataFile);
BrowseStep nextDataFile(const QString &currentDataFile);

} // namespace files
