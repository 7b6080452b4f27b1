// ferrun-bench-files: figures of the data file subsystem on real files in a temporary folder
// (TMPDIR chooses where).
//
// 1. Next in a folder of 10,000 data files (each step lists and sorts the folder afresh).
// 2. The comment catalogue of 1000 data files of 480 KB each, with the files in the page
//    cache (one untimed build first).
// 3. Loading a full recording (480000 bytes of data) with the whole-file check.
//
// Each figure is the median of several runs, with the fastest and slowest. Prints figures;
// asserts nothing.

#include "files/catalogue.h"
#include "files/channels.h"
#include "files/datafile.h"
#include "files/folderbrowser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

void report(const char *what, int runs, const std::function<void()> &work)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        ms.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%-58s median %8.3f ms  (min %.3f, max %.3f, %d runs)\n", what, ms[ms.size() / 2],
        ms.front(), ms.back(), runs);
    std::fflush(stdout);
}

files::DataFileHeader header()
{
    files::DataFileHeader h;
    h.ChartChannelBits = files::ThermocoupleBits;
    h.ChannelIntervalUs = 621.5413411458334;
    h.ValueScale = files::ValueScale250;
    h.XTitle = QStringLiteral("Время, мкс");
    h.YTitle = QStringLiteral("Температура");
    return h;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    {
        QTemporaryDir dir;
        const QByteArray small = files::encodeDataFile(header(), QByteArray(100, 'd'), "c");
        for (int i = 0; i < 10000; ++i) {
            QFile f(dir.filePath(QStringLiteral("Run%1.kdx").arg(i, 5, 10, QLatin1Char('0'))));
            if (!f.open(QIODevice::WriteOnly) || f.write(small) != small.size()) {
                std::fprintf(stderr, "cannot write the folder\n");
                return 1;
            }
        }
        const QString current = dir.filePath("Run05000.kdx");
        files::BrowseStep step;
        report(
            "Next in a folder of 10,000 files", 21, [&] { step = files::nextDataFile(current); });
        if (step.fileName != dir.filePath("Run05001.kdx"))
            std::fprintf(stderr, "unexpected neighbour %s\n", qPrintable(step.fileName));
        report("Previous in a folder of 10,000 files", 21,
            [&] { step = files::previousDataFile(current); });
    }

    {
        QTemporaryDir dir;
        QByteArray data(480000, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 31 + i / 500);
        const QString comment = QStringLiteral(
            "Печь 2, термопары T1..T7\r\nтемпература до 800 градусов\r\nзапись %1");
        for (int i = 0; i < 1000; ++i) {
            const QByteArray bytes = files::encodeDataFile(header(), data, comment.arg(i));
            QFile f(dir.filePath(QStringLiteral("r%1.kdx").arg(i, 4, 10, QLatin1Char('0'))));
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
                std::fprintf(stderr, "cannot write the folder\n");
                return 1;
            }
        }
        files::Catalogue catalogue = files::buildCatalogue(dir.path(), files::DataFileSuffix);
        report("Catalogue of 1000 files of 480 KB (warm cache)", 11,
            [&] { catalogue = files::buildCatalogue(dir.path(), files::DataFileSuffix); });
        if (catalogue.lines().size() != 4000)
            std::fprintf(stderr, "unexpected catalogue of %lld lines\n",
                static_cast<long long>(catalogue.lines().size()));
        const QStringList lines = catalogue.lines();
        qsizetype searchLine = 0;
        report("Search of that catalogue (a word in its last line)", 11, [&] {
            searchLine = 0;
            files::findInCatalogue(lines, QStringLiteral("ЗАПИСЬ 999"), false, &searchLine);
        });

        files::DataFile loaded;
        const QString one = dir.filePath("r0500.kdx");
        report("Load of a full recording (480000 bytes, checked)", 51,
            [&] { files::readDataFile(one, &loaded); });
        if (loaded.data != data)
            std::fprintf(stderr, "the recording read back differs\n");
    }
    return 0;
}
