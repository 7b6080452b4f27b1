// Opening a full recording (480000 bytes: all eight memory blocks) in the window, offscreen,
// as browsing does (no dialog), and drawing it:
//   load CHANNELS median_ms=M min_ms=N     read, check, decode and fill the series
//   paint CHANNELS median_ms=M min_ms=N    one synchronous repaint of the chart
//   total CHANNELS median_ms=M min_ms=N
// and the parts of a load: the checked read of the file alone, the chart build (decode and
// series fill) alone, and the decode alone.
// for T1 alone (240000 points) and for T1..T7 with the photodiode (34285 points a line).
// --runs N (default 20, after 3 warm-up runs).
#include "app/chartbuilder.h"
#include "app/filecontrol.h"
#include "bench/app/benchwindow.h"
#include "chart/chart.h"
#include "files/datafile.h"
#include "signal/chartdecoder.h"

#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int FullRecordingBytes = 480000;

// Thermocouple-like codes: a slow ramp per channel with a little ripple; the photodiode
// bit set in the second half.
QByteArray recording(int channels)
{
    QByteArray data(FullRecordingBytes, Qt::Uninitialized);
    const int frames = FullRecordingBytes / 2 / channels;
    char *p = data.data();
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
            int code = (800 + 300 * c + f / 64 + (f * 7 + c * 13) % 23) & 0x0FFF;
            if (c == 0 && f >= frames / 2)
                code |= 0x8000;
            *p++ = char(code & 0xFF);
            *p++ = char(code >> 8);
        }
    }
    // A recording of 7 channels leaves 2 bytes of a frame that are not whole.
    std::memset(p, 0, size_t(data.data() + data.size() - p));
    return data;
}

void print(const char *what, int channels, const std::vector<double> &ms)
{
    std::printf("%s %d median_ms=%.3f min_ms=%.3f\n", what, channels, benchwindow::median(ms),
        *std::min_element(ms.begin(), ms.end()));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int runs = 20;
    const QStringList args = QApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--runs"));
    if (at >= 0 && at + 1 < args.size())
        runs = std::max(1, args.at(at + 1).toInt());

    benchwindow::Window window;
    if (!window.form)
        return 1;
    app::TForm1 &form = *window.form;
    chart::TChart &chart = *form.findChild<chart::TChart *>(QStringLiteral("Chart1"));

    for (const int channels : { 1, 7 }) {
        files::DataFileHeader header;
        header.ChartChannelBits = quint8((1 << channels) - 1);
        header.ChannelIntervalUs = 621.5413411458334 / 3 * channels;
        header.ValueScale = files::ValueScale250;
        header.XTitle = QStringLiteral("Время, мкс");
        header.YTitle = QStringLiteral("Температура");
        const QString name = window.dir.filePath(QStringLiteral("full%1.kdx").arg(channels));
        if (!files::saveDataFile(name, header, recording(channels), QStringLiteral("bench"))) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(name));
            return 1;
        }
        std::vector<double> loads, paints, totals;
        for (int i = 0; i < runs + 3; ++i) {
            form.fileControl().CurrentDataFile = name;
            QElapsedTimer clock;
            clock.start();
            if (!form.fileControl().loadCurrentDataFile())
                return 1;
            const qint64 loaded = clock.nsecsElapsed();
            chart.repaint();
            const qint64 painted = clock.nsecsElapsed();
            if (i < 3)
                continue;
            loads.push_back(double(loaded) / 1e6);
            paints.push_back(double(painted - loaded) / 1e6);
            totals.push_back(double(painted) / 1e6);
        }
        std::vector<double> reads, builds, decodes;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer clock;
            clock.start();
            files::DataFile file;
            files::readDataFile(name, &file);
            reads.push_back(double(clock.nsecsElapsed()) / 1e6);
            clock.restart();
            form.BuildChart();
            builds.push_back(double(clock.nsecsElapsed()) / 1e6);
            clock.restart();
            sig::ChartDecoder decoder;
            const sig::DecodedRecording r
                = decoder.decode(file.data, form.chartBuilder().displaySettings());
            decodes.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        std::printf("points %d per line\n", form.series(files::ChannelId::T1)->Count());
        print("read", channels, reads);
        print("build", channels, builds);
        print("decode", channels, decodes);
        print("load", channels, loads);
        print("paint", channels, paints);
        print("total", channels, totals);
    }
    return 0;
}
