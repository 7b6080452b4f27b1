// ferrun-bench-livetransfer: what drawing the chart as the blocks arrive costs a transfer.
//
// The window on the board simulator paced at 921600 bit/s (11 bits a byte), without a USB
// bridge and with one that holds each packet's tail for 16 ms, measures 8 memory blocks (960
// data blocks) with the chart drawn as the blocks arrive and, alternating, drawn only once
// complete. For each: the transfer's time (its transfer command to its outcome), the largest
// gap in the window's event handling during the transfer (a 1 ms timer's longest interval),
// and, with live drawing, the longest wait of a block from its arrival to its points drawn.
//
// Usage: ferrun-bench-livetransfer [runs, default 5]
// Prints medians; asserts nothing.

#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "chart/chart.h"
#include "chart/fastlineseries.h"
#include "sim/boardsimulator.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Figures
{
    double transferS = 0;
    double largestGapMs = 0;
    double longestDrawWaitMs = 0;
};

bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

Figures transfer(int bridgeMs, bool live)
{
    Figures figures;
    QTemporaryDir dir;
    sim::BoardOptions options;
    options.speed = 1000;
    options.wireRate = 921600;
    options.bridgeLatencyMs = bridgeMs;
    sim::BoardSimulator board(options);
    if (!board.start()) {
        std::printf("no board\n");
        return figures;
    }
    app::FormEnvironment environment;
    environment.showMessage = [](const QString &text) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    };
    environment.sysfsRoot = dir.filePath(QStringLiteral("no-sys"));
    environment.devRoot = dir.filePath(QStringLiteral("no-dev"));
    environment.recoveryFolder = dir.filePath(QStringLiteral("recovery"));
    environment.liveChart = live;
    app::AppOptions appOptions;
    appOptions.device = QString::fromStdString(board.devicePath());
    app::TForm1 form(dir.filePath(QStringLiteral("Ferrun.ini")), appOptions, environment);
    form.resize(1600, 900);
    form.show();
    QApplication::processEvents();
    acquisition::MeasurementSession &session = form.session();
    const chart::TChart &chart = *form.findChild<chart::TChart *>(QStringLiteral("Chart1"));

    QElapsedTimer clock;
    qint64 transferStart = -1;
    qint64 ended = -1;
    QObject::connect(&session, &acquisition::MeasurementSession::commandSent,
        [&](const QByteArray &c) {
            if (quint8(c[0]) == acquisition::TransferPlain && transferStart < 0)
                transferStart = clock.elapsed();
        });
    QObject::connect(&session, &acquisition::MeasurementSession::exchangeEnded,
        [&] { ended = clock.elapsed(); });
    // Each block's arrival, and the moment the chart holds its points.
    std::vector<qint64> arrivals;
    QObject::connect(&session, &acquisition::MeasurementSession::blockStored,
        [&](int, int, const QByteArray &) { arrivals.push_back(clock.elapsed()); });
    size_t drawnBlocks = 0;
    const int pointsPerBlock = 500 / 14;
    QTimer ticker;
    ticker.setInterval(1);
    ticker.setTimerType(Qt::PreciseTimer);
    qint64 lastTick = -1;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (transferStart >= 0 && ended < 0 && lastTick >= 0)
            figures.largestGapMs = std::max(figures.largestGapMs, double(now - lastTick));
        lastTick = now;
        if (live) {
            const size_t drawn = size_t(chart.Series(0)->Count() / pointsPerBlock);
            for (; drawnBlocks < std::min(drawn, arrivals.size()); ++drawnBlocks)
                figures.longestDrawWaitMs = std::max(
                    figures.longestDrawWaitMs, double(now - arrivals[drawnBlocks]));
        }
    });
    clock.start();
    ticker.start();
    form.findChild<QAction *>(QStringLiteral("actStart"))->trigger();
    if (!runUntil([&] { return ended >= 0; }, 120000))
        std::printf("no end of the transfer\n");
    figures.transferS = (ended - transferStart) / 1000.0;
    // Nobody answers the question on closing: the recording goes to the bench's own store.
    form.expectUnattendedClose();
    form.close();
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    for (const int bridge : { 0, 16 }) {
        std::vector<double> withLive, without, gapLive, gapWithout, wait;
        for (int run = 0; run < runs; ++run) {
            const Figures a = transfer(bridge, true);
            const Figures b = transfer(bridge, false);
            withLive.push_back(a.transferS);
            gapLive.push_back(a.largestGapMs);
            wait.push_back(a.longestDrawWaitMs);
            without.push_back(b.transferS);
            gapWithout.push_back(b.largestGapMs);
        }
        std::printf("bridge %d ms, 960 blocks, median of %d alternating runs: transfer %.3f s "
                    "drawn as it arrives, %.3f s drawn once complete (ratio %.4f); largest gap "
                    "in event handling %.1f ms and %.1f ms; longest wait of a block for its "
                    "points %.1f ms\n",
            bridge, runs, median(withLive), median(without), median(withLive) / median(without),
            median(gapLive), median(gapWithout), median(wait));
    }
    return 0;
}
