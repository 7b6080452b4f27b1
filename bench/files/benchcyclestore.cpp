// ferrun-bench-cyclestore: what it costs to make each cycle of a cycle run durable, on the disk
// of a temporary folder (TMPDIR chooses where; the store itself lives under the user's data
// folder, so run it with TMPDIR on that disk).
//
// 1. One append of an averaged cycle (3500 bytes): the cycle and the journal's note written
//    and flushed, then the data length written and flushed. Median, 90th percentile, fastest
//    and slowest of 1000 appends, and the median as a share of the cycle period at the fastest
//    sampling (about 650 ms from one start command to the next).
// 2. The resident memory of that run after its first cycle and after its 1000th.
// 3. A one-file save of the 1000 cycles, streamed from the journal.
//
// Prints figures; asserts nothing.

#include "files/cyclestore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int Cycles = 1000;
constexpr double FastestCyclePeriodMs = 650.0;

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    files::DataFileHeader header;
    header.ChartChannelBits = files::chartChannelBits(0x7F, true);
    header.ChannelIntervalUs = 3055 / 14.7456 * 7;
    header.ValueScale = files::ValueScale250;
    header.XTitle = QStringLiteral("Время, мкс");
    header.YTitle = QStringLiteral("Температура");

    files::CycleStore cycles(files::RecoveryStore(dir.filePath(QStringLiteral("recovery"))),
        files::RecoveryKeeper::Cycle);
    cycles.beginRun();
    std::vector<double> ms;
    ms.reserve(Cycles); // the figures' own memory is taken before the first
    qint64 firstKb = 0;
    for (int i = 0; i < Cycles; ++i) {
        const QByteArray cycle(files::CycleRecordBytes, char(i));
        QElapsedTimer timer;
        timer.start();
        QString error;
        if (!cycles.append(header, cycle, &error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        ms.push_back(timer.nsecsElapsed() / 1e6);
        if (i == 0)
            firstKb = residentKb();
    }
    const qint64 lastKb = residentKb();
    std::sort(ms.begin(), ms.end());
    const double median = ms[ms.size() / 2];
    std::printf("durable append of a 3500-byte cycle: median %.3f ms, 90th percentile %.3f ms "
                "(min %.3f, max %.3f, %d appends)\n",
        median, ms[ms.size() * 9 / 10], ms.front(), ms.back(), Cycles);
    std::printf("share of the fastest cycle period (%.0f ms): %.2f %%\n", FastestCyclePeriodMs,
        100.0 * median / FastestCyclePeriodMs);
    std::printf("resident memory of the run: %lld kB after the first cycle, %lld kB after %d\n",
        qlonglong(firstKb), qlonglong(lastKb), Cycles);

    std::vector<double> saves;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!cycles.saveOneFile(dir.filePath(QStringLiteral("run.kdx")), QString()))
            return 1;
        saves.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(saves.begin(), saves.end());
    std::printf("one-file save of %d cycles (%lld bytes): median %.3f ms (min %.3f, max %.3f)\n",
        Cycles, qlonglong(cycles.dataBytes()), saves[saves.size() / 2], saves.front(),
        saves.back());
    cycles.discard();
    return 0;
}
