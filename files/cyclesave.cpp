#include "files/cyclesave.h"

#include <QFileInfo>

namespace files {

QString cycleFileName(const QString &lastSavedFile, qint32 number)
{
    // Only the last suffix of the file's own name is the extension: a dot in a folder name
    // or a name without extension keeps the name whole.
    const QFileInfo info(lastSavedFile);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString base = lastSavedFile.left(lastSavedFile.size() - name.size()) + stem;
    return base + QString::asprintf("%.4d.kdx", int(number));
}

CycleSaveResult saveCycleRecords(const QString &lastSavedFile, const DataFileHeader &header,
    std::vector<CycleRecord> &records, const QString &comment, const OutputOptions &options)
{
    CycleSaveResult result;
    // Newest first; a written record is erased at once, so the indexes below stay valid.
    for (qsizetype i = qsizetype(records.size()) - 1; i >= 0; --i) {
        const CycleRecord &record = records[size_t(i)];
        if (record.data.isEmpty())
            continue;
        const QString fileName = cycleFileName(lastSavedFile, record.number);
        if (!saveDataFile(fileName, header, record.data, comment, &result.error, &result.reason,
                nullptr, options, &result.failure)) {
            result.failedFile = fileName;
            return result;
        }
        result.written.append(fileName);
        records.erase(records.begin() + i);
    }
    return result;
}

bool saveCycleStream(const QString &fileName, const DataFileHeader &header,
    const QByteArray &stream, const QString &comment, QString *error, QString *reason,
    const OutputOptions &options, SaveFailure *failure)
{
    return saveDataFile(
        fileName, header, stream, comment, error, reason, nullptr, options, failure);
}

} // namespace files
