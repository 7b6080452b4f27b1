#pragma once

#include "files/datafile.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace files {

// Where a recording came from.
enum class RecordingOrigin {
    None, // nothing recorded or opened yet
    Measurement, // the transfer of a measurement
    ShortRead, // the "500 байт" read, or the re-read of the board's memory
    Cycle, // one cycle of a cycle run
    File, // a data file that was opened
};

// One recording as the program holds it: the header it is written with, the array exactly as
// received or read, the comment, where it came from, whether it can be trusted and whether
// (and where) it is saved. The acquisition produces recordings, loading a data file produces
// one, and drawing, export, saving and the recovery folder take one.
struct Recording
{
    // The header record a save writes (DataLength is taken from `data` then). A front end
    // that draws the recording brings the display values up to date at every chart build.
    DataFileHeader header;
    QByteArray data;
    // The comment as the comment box shows it (lines separated by CR LF).
    QString comment;
    RecordingOrigin origin = RecordingOrigin::None;
    // Bytes of a transfer that failed (stray bytes, a board that went away or fell silent):
    // something to look at, never to be saved or presented as a recording.
    bool faulty = false;
    // The data file that holds this recording; empty while it is held nowhere else.
    QString savedPath;
    // The recovery folder's copy it was reopened from (it still needs saving).
    QString recoveryPath;
    // When it was received; for an opened file, the file's modification time.
    QDateTime time;
    // The session's number of the exchange that made it (0 for a file): bytes that come
    // later may prove that exchange, and so this recording, out of step.
    quint64 exchangeId = 0;

    bool isEmpty() const { return data.isEmpty(); }
    bool isSaved() const { return !savedPath.isEmpty(); }
    // A good recording that exists only in memory: losing it loses data. A cycle's recording
    // is held by its cycle run's stores, which are saved as a whole.
    bool needsSaving() const
    {
        return !data.isEmpty() && !faulty && savedPath.isEmpty()
            && origin != RecordingOrigin::Cycle;
    }
};

// The recording a data file holds: origin File, saved at `path`.
Recording recordingFromFile(DataFile file, const QString &path);

// Reads and checks the whole data file (readDataFile) and returns it as a recording.
DataFileStatus readRecording(const QString &fileName, Recording *recording,
    QString *error = nullptr, DataFileProblem *problem = nullptr);

// Writes the recording with its header and comment (saveDataFile: atomically for a file, as a
// stream for a device or FIFO). A faulty recording
// is refused. On success the recording is marked saved at `fileName`.
bool saveRecording(Recording &recording, const QString &fileName, QString *error = nullptr,
    QString *reason = nullptr, QString *note = nullptr);

} // namespace files
