#include "files/recording.h"

#include <QFileInfo>

namespace files {

Recording recordingFromFile(DataFile file, const QString &path)
{
    Recording r;
    r.header = file.header;
    r.comment = file.comment();
    r.data = std::move(file.data);
    r.origin = RecordingOrigin::File;
    r.savedPath = path;
    r.time = QFileInfo(path).lastModified();
    return r;
}

DataFileStatus readRecording(
    const QString &fileName, Recording *recording, QString *error, DataFileProblem *problem)
{
    DataFile file;
    const DataFileStatus status = readDataFile(fileName, &file, error, problem);
    if (status == DataFileStatus::Ok)
        *recording = recordingFromFile(std::move(file), fileName);
    return status;
}

bool saveRecording(
    Recording &recording, const QString &fileName, QString *error, QString *reason, QString *note)
{
    if (recording.faulty) {
        if (error)
            *error
                = QStringLiteral("The recording is faulty (its transfer failed) and is not saved");
        if (reason)
            reason->clear();
        return false;
    }
    if (!saveDataFile(
            fileName, recording.header, recording.data, recording.comment, error, reason, note))
        return false;
    recording.savedPath = fileName;
    return true;
}

} // namespace files
