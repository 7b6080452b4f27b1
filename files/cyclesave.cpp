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

} // namespace files
