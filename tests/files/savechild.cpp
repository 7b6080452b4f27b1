// ferrun-test-savechild FILE MEGABYTES: saves FILE over and over, alternating a recording of
// all 'A' bytes and one of all 'B' bytes, until it is killed. Prints "saving" once before
// the first save, so that the test knows saves are under way.

#include "files/datafile.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3)
        return 2;
    const QString fileName = args.at(1);
    const qsizetype size = args.at(2).toLongLong() << 20;
    files::DataFileHeader header;
    header.XTitle = QStringLiteral("Время, мкс");
    header.YTitle = QStringLiteral("Температура");
    const QByteArray a(size, 'A');
    const QByteArray b(size, 'B');
    std::puts("saving");
    std::fflush(stdout);
    for (bool odd = false;; odd = !odd) {
        QString error;
        if (!files::saveDataFile(fileName, header, odd ? b : a, QStringLiteral("new"), &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
    }
}
