#pragma once

#include "files/datafile.h"

#include <QString>
#include <QStringList>

// Saving the cycles of a cycle run: the whole run into one data file, or one data file per
// cycle named after the file chosen for the save (CycleStore).
namespace files {

// The array of one averaged cycle: 7 blocks of 500 bytes.
inline constexpr int CycleRecordBytes = 3500;

// The name of the file of cycle `number`: `lastSavedFile` without its extension, followed by
// the number with at least four digits and ".kdx" (".../run.kdx", 7 gives ".../run0007.kdx";
// the extension is always .kdx whatever extension was chosen).
QString cycleFileName(const QString &lastSavedFile, qint32 number);

struct CycleSaveResult
{
    // Files written, in the order written.
    QStringList written;
    // The file that could not be written (empty when every cycle was written), the failure
    // ("Cannot create file <name>" or the write failure), the system's explanation and its
    // error number.
    QString failedFile;
    QString error;
    QString reason;
    SaveFailure failure = SaveFailure::None;
    int systemError = 0;
    bool ok() const { return failedFile.isEmpty(); }
};

} // namespace files
