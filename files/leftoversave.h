#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace files {

// What was done with a temporary file that a killed or crashed save left behind.
struct LeftoverSave
{
    enum class Outcome {
        Removed, // a partial file (or no data file), removed
        Recovered, // a whole recording, kept under `path`
        NotRecovered, // a whole recording that could not be renamed: left where it was
    };
    Outcome outcome = Outcome::Removed;
    QString path; // Removed: the file removed; Recovered: its new name; NotRecovered: its name
    QString reason; // NotRecovered: why
};

// Clears away the temporary files (temporaryName) that saves of `fileName` left in its folder.
// Only files of that name pattern are looked at, and only those no save holds open any more
// (a save under way keeps its file locked): a file of the user's is never touched, nor one of
// a save still running. A save killed after it had written every byte left a whole file (its
// name says so), possibly the only copy of a recording: when it reads as a data file it is
// renamed to "NAME.recovered.kdx" beside the target (NAME: the target's name without ".kdx"),
// or, when that is taken, "NAME.recovered-2.kdx", "-3", ...; nothing is ever replaced.
// Anything else (a file cut short, a picture or text) holds no recording and is removed.
QList<LeftoverSave> clearLeftoverSaves(const QByteArray &fileName);
inline QList<LeftoverSave> clearLeftoverSaves(const QString &fileName)
{
    return clearLeftoverSaves(QFile::encodeName(fileName));
}

// The names (without the folder, shortened as temporaryTargetName shortens them) of the
// targets whose saves left temporary files in `folder`.
QList<QByteArray> leftoverTargets(const QByteArray &folder);

} // namespace files
