#pragma once

#include "files/datafile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// Saving the cycles of a cycle run: the whole stream into one data file, or one data file
// per stored cycle named after the file chosen for the save.
namespace files {

// The array of one averaged cycle: 7 blocks of 500 bytes.
inline constexpr int CycleRecordBytes = 3500;

// One stored cycle: its array and its number, counted from 0 in the order the cycles were
// recorded. The head of a record list is an empty record waiting for the next cycle.
struct CycleRecord
{
    qint32 number = 0;
    QByteArray data;
};

// The name of the file of cycle `number`: `lastSavedFile` without its extension, followed by
// the number with at least four digits and ".kdx" (".../run.kdx", 7 gives ".../run0007.kdx";
// the extension is always .kdx whatever extension was chosen).
QString cycleFileName(const QString &lastSavedFile, qint32 number);

struct CycleSaveResult
{
    // Files written, in the order written.
    QStringList written;
    // The file that could not be written (empty when every record was written), the failure
    // ("Cannot create file <name>" or the write failure) and the system's explanation.
    QString failedFile;
    QString error;
    QString reason;
    SaveFailure failure = SaveFailure::None;
    bool ok() const { return failedFile.isEmpty(); }
};

// One file per filled record of `records`, newest (highest index) first, each written
// atomically with `header` (DataLength set to the record's length, 3500 for an averaged
// cycle), the record's array and `comment`. Each record is released (removed from
// `records`) as soon as its file is written. A failure stops the save there: the record
// that failed and every record not yet written stay in `records`, so that they can be
// saved again under another name; the files already written stay. Empty records (the
// head) are neither written nor removed.
CycleSaveResult saveCycleRecords(const QString &lastSavedFile, const DataFileHeader &header,
    std::vector<CycleRecord> &records, const QString &comment, const OutputOptions &options = {});

// The one-file save of a cycle run: `stream` (every cycle's array in order) as the data of
// one file, written atomically. The stream itself is not changed by the save.
bool saveCycleStream(const QString &fileName, const DataFileHeader &header,
    const QByteArray &stream, const QString &comment, QString *error = nullptr,
    QString *reason = nullptr, const OutputOptions &options = {}, SaveFailure *failure = nullptr);

} // namespace files
