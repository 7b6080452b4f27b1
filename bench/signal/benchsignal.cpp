// Chart build of a full recording in the window, offscreen:
//   build CxP median_ms=B add_ms=A over_add_ms=B-A cpu_build_ms cpu_add_ms decode_ms
//   first_paint CxP 1600x900 median_ms=M min_ms cpu_median_ms
//                                  (the chart painted into an image after its series were filled)
//   paint CxP 1600x900 median_ms=M min_ms cpu_median_ms     (painted again, nothing changed)
// Medians of 20 runs after 3 warm-ups; cpu_ figures count only the time the thread ran.
// `build` is TForm1::BuildChart (decoding, clearing and filling the series, titles, status);
// `add` clears the series and adds the same points from prepared lists.
// C channels of P points each; the photodiode line FD is drawn too (P more points).
// --rss C: builds once with C channels (0: none), paints, and prints the process's peak memory.
// --runs N: N measured runs instead of 20 (3 warm-ups stay); --channels C runs one case only.
// firstPaint, repaint, PreparedPoints::add and TForm1::BuildChart are functions of their own
// for an instruction count, steadier than times on a shared machine:
//   valgrind --tool=callgrind --toggle-collect='*::firstPaint(*' ferrun-bench-signal
//       --runs 1 --channels 1                                          (one command line)
// counts the 4 first paints of that run; the difference to --runs 5, divided by 4, is the
// count of one.
#include "app/chartbuilder.h"
#include "app/form1.h"
#include "chart/chart.h"
#include "signal/chartdecoder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <time.h>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// A full recording (480000 bytes) of thermocouple-like traces with the photodiode switching.
QByteArray recording(int channels)
{
    QByteArray bytes(480000, '\0');
    std::mt19937 rng(12345);
    std::normal_distribution<double> noise(0, 6);
    const int frames = 240000 / channels;
    for (int i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            const double v = 1500 + 300 * c + 400 * std::sin(i / 3000.0 + c) + noise(rng);
            int w = std::clamp(int(std::lround(v)), 0, 4095);
            if (c == 0 && (i / 5000) % 2)
                w |= 0x8000;
            const int at = 2 * (i * channels + c);
            bytes[at] = char(w & 0xFF);
            bytes[at + 1] = char(w >> 8);
        }
    }
    return bytes;
}

struct Window
{
    QTemporaryDir dir;
    std::unique_ptr<app::TForm1> form;

    explicit Window(int channels)
    {
        QFile ini(dir.filePath(QStringLiteral("Ferrun.ini")));
        ini.open(QIODevice::WriteOnly);
        QByteArray text = "[Options]\r\nXYmode=0\r\nX scale=1\r\n[Series select]\r\n";
        // The first `channels` thermocouples and the photodiode shown.
        for (int n = 1; n <= files::ChannelCount; ++n)
            text += "Channel " + QByteArray::number(n) + "="
                + (n <= channels || n == files::ChannelCount ? "1" : "0") + "\r\n";
        text += "[YScale]\r\nY max=0\r\n";
        ini.write(text);
        ini.close();
        app::FormEnvironment environment;
        environment.showMessage = [](const QString &) {};
        environment.sysfsRoot = dir.filePath(QStringLiteral("none"));
        environment.devRoot = dir.filePath(QStringLiteral("none"));
        form = std::make_unique<app::TForm1>(ini.fileName(), app::AppOptions {}, environment);
        form->show();
        form->findChild<chart::TChart *>(QStringLiteral("Chart1"))->resize(1600, 900);
        files::Recording r;
        r.data = recording(channels);
        r.header.ChartChannelBits = quint8((1u << channels) - 1);
        r.header.ChannelIntervalUs = 3055 / 14.7456 * channels;
        r.origin = files::RecordingOrigin::File;
        form->takeRecording(std::move(r));
    }
};

// Wall and thread CPU time of one call, in ms.
struct Timing
{
    double wall = 0;
    double cpu = 0;
};

double threadCpuMs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

template <class F> Timing timed(F f)
{
    QElapsedTimer t;
    const double cpu = threadCpuMs();
    t.start();
    f();
    return { t.nsecsElapsed() / 1e6, threadCpuMs() - cpu };
}

// The same points added straight from prepared lists, as the chart's own benchmark adds
// them: the cost the build adds to.
struct PreparedPoints
{
    std::vector<std::vector<double>> xs, ys;
    std::vector<chart::TChartSeries *> lines;
    chart::TChart *chart;

    PreparedPoints(chart::TChart &chart, const sig::DecodedRecording &r)
        : chart(&chart)
    {
        for (int i = 0; i < files::ChannelCount; ++i) {
            const bool photodiode = files::ChannelId(i) == files::ChannelId::FD;
            const int n = i + 1;
            if (photodiode ? !r.photodiodeDrawn : !r.hasChannel(n))
                continue;
            std::vector<double> x, y;
            for (int p = 0; p < r.pointCount(); ++p) {
                x.push_back(r.x(p));
                y.push_back(photodiode ? r.photodiodeY(p) : r.y(n, p));
            }
            xs.push_back(std::move(x));
            ys.push_back(std::move(y));
            lines.push_back(chart.Series(i));
        }
    }

    [[gnu::noipa]] void add() const
    {
        for (int i = 0; i < files::ChannelCount; ++i)
            chart->Series(i)->Clear();
        for (size_t s = 0; s < lines.size(); ++s)
            for (size_t i = 0; i < xs[s].size(); ++i)
                lines[s]->AddPoint(xs[s][i], ys[s][i]);
    }
};

// The chart painted into image; separate functions (kept apart from the optimiser, which
// would merge the two) for an instruction count of each.
[[gnu::noipa]] void firstPaint(chart::TChart &chart, QImage &image)
{
    QPainter p(&image);
    chart.paintChart(p, image.rect());
}

[[gnu::noipa]] void repaint(chart::TChart &chart, QImage &image)
{
    QPainter p(&image);
    chart.paintChart(p, image.rect());
}

void runCase(int channels, int runs)
{
    Window w(channels);
    app::TForm1 &form = *w.form;
    const sig::DisplaySettings settings
        = form.chartBuilder().displaySettings(form.recording().header);
    form.BuildChart();
    chart::TChart &chart = *form.findChild<chart::TChart *>(QStringLiteral("Chart1"));
    const PreparedPoints prepared(chart, *form.chartBuilder().lastRecording());
    QImage image(1600, 900, QImage::Format_ARGB32_Premultiplied);
    // Build and bare adds alternate, so that both see the same machine.
    std::vector<double> decodes, builds, adds, buildsCpu, addsCpu, firstPaints, paints;
    std::vector<double> firstPaintsCpu, paintsCpu;
    for (int run = 0; run < 3 + runs; ++run) {
        const Timing decode = timed([&] {
            sig::ChartDecoder decoder;
            const sig::DecodedRecording r = decoder.decode(form.recording().data, settings);
        });
        const Timing build = timed([&] { form.BuildChart(); });
        const Timing add = timed([&] { prepared.add(); });
        const Timing first = timed([&] { firstPaint(chart, image); });
        const Timing again = timed([&] { repaint(chart, image); });
        if (run < 3)
            continue;
        decodes.push_back(decode.wall);
        adds.push_back(add.wall);
        addsCpu.push_back(add.cpu);
        builds.push_back(build.wall);
        buildsCpu.push_back(build.cpu);
        firstPaints.push_back(first.wall);
        paints.push_back(again.wall);
        firstPaintsCpu.push_back(first.cpu);
        paintsCpu.push_back(again.cpu);
    }
    const QString name = QStringLiteral("%1x%2").arg(channels).arg(
        form.chartBuilder().lastRecording()->pointCount());
    const auto least
        = [](const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("build %s median_ms=%.3f add_ms=%.3f over_add_ms=%.3f cpu_build_ms=%.3f "
                "cpu_add_ms=%.3f decode_ms=%.3f\n",
        qPrintable(name), median(builds), median(adds), median(builds) - median(adds),
        median(buildsCpu), median(addsCpu), median(decodes));
    std::printf("build %s min_ms=%.3f add_min_ms=%.3f decode_min_ms=%.3f\n", qPrintable(name),
        least(builds), least(adds), least(decodes));
    std::printf("first_paint %s 1600x900 median_ms=%.3f min_ms=%.3f cpu_median_ms=%.3f\n",
        qPrintable(name), median(firstPaints), least(firstPaints), median(firstPaintsCpu));
    std::printf("paint %s 1600x900 median_ms=%.3f min_ms=%.3f cpu_median_ms=%.3f\n",
        qPrintable(name), median(paints), least(paints), median(paintsCpu));
    std::fflush(stdout);
}

// Channels 0: the window with its chart empty, for comparison.
int peakMemory(int channels)
{
    Window w(std::max(1, channels));
    w.form->resize(1600, 1070);
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
    if (channels > 0)
        w.form->BuildChart();
    w.form->findChild<chart::TChart *>(QStringLiteral("Chart1"))->repaint();
    for (int i = 0; i < 10; ++i)
        QApplication::processEvents();
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const sig::DecodedRecording *r = w.form->chartBuilder().lastRecording();
    std::printf("rss %dx%d max_rss_kib=%ld\n", channels, r ? r->pointCount() : 0, usage.ru_maxrss);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Chart build, first paint and repaint of a full recording."));
    parser.addHelpOption();
    const QCommandLineOption rss(QStringLiteral("rss"),
        QStringLiteral("Build once with C channels (0: none) and print the peak memory."),
        QStringLiteral("C"));
    const QCommandLineOption runs(QStringLiteral("runs"),
        QStringLiteral("Measured runs after 3 warm-ups (1..1000)."), QStringLiteral("N"),
        QStringLiteral("20"));
    const QCommandLineOption channels(QStringLiteral("channels"),
        QStringLiteral("Run only the case of C channels (1 or 7)."), QStringLiteral("C"));
    parser.addOptions({ rss, runs, channels });
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }
    bool ok = true;
    if (parser.isSet(rss)) {
        const int c = parser.value(rss).toInt(&ok);
        if (!ok || c < 0 || c > 7) {
            std::fprintf(stderr, "--rss: 0..7 channels\n");
            return 2;
        }
        return peakMemory(c);
    }
    const int n = parser.value(runs).toInt(&ok);
    if (!ok || n < 1 || n > 1000) {
        std::fprintf(stderr, "--runs: 1..1000\n");
        return 2;
    }
    const int only = parser.isSet(channels) ? parser.value(channels).toInt(&ok) : 0;
    if (!ok || (parser.isSet(channels) && only != 1 && only != 7)) {
        std::fprintf(stderr, "--channels: 1 or 7\n");
        return 2;
    }
    if (only != 7)
        runCase(1, n);
    if (only != 1)
        runCase(7, n);
    return 0;
}
