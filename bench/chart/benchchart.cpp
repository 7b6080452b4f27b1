// Paint, append and fill times of the chart, offscreen:
//   paint SERIESxPOINTS WIDTHxHEIGHT median_ms=M min_ms=N p90_ms=P cpu_median_ms=C
//         cpu_min_ms=D cpu_p90_ms=Q                        (20 paints after 3 warm-ups)
//     The full repaint of a recording: every point reduced to the pixel columns again (the
//     series forget the columns of the paint before, as after a new recording, a zoom or a
//     resize), the whole picture painted.
//   repaint SERIESxPOINTS WIDTHxHEIGHT median_ms=M min_ms=N p90_ms=P
//     The same chart painted again unchanged: the series' columns kept from the paint
//     before, as after a change of the value axis alone.
//   append SERIESxPOINTS WIDTHxHEIGHT block=500B median_ms=M p90_ms=P max_ms=X
//         partial=K/B painted_px=W
//     The recording arriving in blocks of 500 bytes (250 words, each word one point of one
//     series in turn) into a shown chart whose time axis spans the whole recording from
//     the start: each block's points appended, then the events processed until the chart
//     has shown them. K of the B blocks were painted as columns alone; W is the median
//     width of the part painted anew. The value axis is automatic, so a block with a new
//     extreme repaints the whole chart.
// The first three are wall-clock times; the cpu_ ones count only the time the painting
// thread ran, so that they leave out the time the thread waited for the processor while
// other programs ran: on a shared machine the wall-clock median of a 1 ms paint moves with
// the load, its processor time hardly.
//   add SERIESxPOINTS median_ms=M                            (Clear, then AddPoint for all)
// --data FILE reads the series instead of generating them: little-endian uint32 series
// count, then per series a uint32 point count n, n doubles X, n doubles Y.
// --png DIR also saves each rendered picture there.
#include "chart/chart.h"
#include "files/channels.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <time.h>
#include <vector>

namespace {

struct SeriesData
{
    std::vector<double> x, y;
};
using DataSet = std::vector<SeriesData>;

// Thermocouple-like traces in ADC units: slow drift, a heating step and noise.
DataSet generate(int seriesCount, int points)
{
    DataSet data(static_cast<size_t>(seriesCount));
    std::mt19937 rng(12345);
    std::normal_distribution<double> noise(0, 6);
    for (int s = 0; s < seriesCount; ++s) {
        SeriesData &d = data[static_cast<size_t>(s)];
        d.x.reserve(static_cast<size_t>(points));
        d.y.reserve(static_cast<size_t>(points));
        double level = 2000 + 500 * s;
        for (int i = 1; i <= points; ++i) {
            level += noise(rng) * 0.02;
            const double step
                = i > points / 3 ? 1500 * (1 - std::exp(-(i - points / 3) / 4000.0)) : 0;
            d.x.push_back(i);
            d.y.push_back(std::round(level + step + 200 * std::sin(i / 3000.0) + noise(rng)));
        }
    }
    return data;
}

bool readData(const QString &path, DataSet &data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(
            stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    const QByteArray bytes = file.readAll();
    qsizetype pos = 0;
    auto read = [&](void *out, qsizetype size) {
        if (pos + size > bytes.size())
            return false;
        std::memcpy(out, bytes.constData() + pos, static_cast<size_t>(size));
        pos += size;
        return true;
    };
    quint32 count = 0;
    if (!read(&count, 4) || count > 1000) {
        std::fprintf(stderr, "%s: bad series count\n", qPrintable(path));
        return false;
    }
    data.assign(count, {});
    for (auto &s : data) {
        quint32 n = 0;
        if (!read(&n, 4) || qsizetype(n) * 16 > bytes.size() - pos) {
            std::fprintf(stderr, "%s: truncated series\n", qPrintable(path));
            return false;
        }
        s.x.resize(n);
        s.y.resize(n);
        if (!read(s.x.data(), qsizetype(n) * 8) || !read(s.y.data(), qsizetype(n) * 8))
            return false;
    }
    return true;
}

// Processor time of the calling thread, in milliseconds.
double threadMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double quantile(std::vector<double> v, double q)
{
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(std::ceil(q * static_cast<double>(v.size()))) - 1;
    return v[std::min(i, v.size() - 1)];
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void fill(chart::TChart &c, const DataSet &data)
{
    for (size_t s = 0; s < data.size(); ++s) {
        chart::TChartSeries &series = *c.Series(static_cast<int>(s));
        series.Clear();
        const SeriesData &d = data[s];
        for (size_t i = 0; i < d.x.size(); ++i)
            series.AddPoint(d.x[i], d.y[i]);
    }
}

void setUp(chart::TChart &c, const DataSet &data)
{
    c.setMargins(0, 0, 0, 0); // as the window's chart
    for (int s = 0; s < int(data.size()); ++s)
        c.addFastLineSeries(s < files::ChannelCount
                ? QString::fromLatin1(files::channelName(files::ChannelId(s)))
                : QStringLiteral("S%1").arg(s));
    c.LeftAxis()->Title().setCaption(QStringLiteral("единицы АЦП"));
    c.BottomAxis()->Title().setCaption(QStringLiteral("Выборки"));
}

// Paints of a shown chart: counts them and keeps the part each painted anew.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(chart::TChart &c)
        : chart_(c)
    {
        c.installEventFilter(this);
    }
    int paints = 0;

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (object == &chart_ && event->type() == QEvent::Paint)
            ++paints;
        return false;
    }

private:
    chart::TChart &chart_;
};

void runAppends(const DataSet &data, const QString &name, QSize size)
{
    chart::TChart c;
    setUp(c, data);
    c.resize(size);
    double first = data[0].x.front(), last = data[0].x.back();
    for (const auto &s : data) {
        first = std::min(first, s.x.front());
        last = std::max(last, s.x.back());
    }
    c.BottomAxis()->setReservedRange(first, last);
    PaintWatch watch(c);
    c.show();
    QCoreApplication::processEvents();

    // Word w of the recording is point w / n of series w % n.
    const size_t n = data.size();
    size_t words = 0;
    for (const auto &s : data)
        words = std::max(words, s.x.size() * n);
    const size_t blockWords = 250;
    std::vector<double> times;
    std::vector<int> widths;
    int partial = 0, blocks = 0;
    for (size_t from = 0; from < words; from += blockWords) {
        const size_t to = std::min(words, from + blockWords);
        const int paintsBefore = watch.paints;
        QElapsedTimer t;
        t.start();
        for (size_t s = 0; s < n; ++s) {
            const size_t a = std::min((from + n - 1 - s) / n, data[s].x.size());
            const size_t b = std::min((to + n - 1 - s) / n, data[s].x.size());
            if (b > a)
                c.Series(int(s))->appendPoints(
                    data[s].x.data() + a, data[s].y.data() + a, int(b - a));
        }
        // The look at the appends is queued, the paint it asks for posted in turn.
        for (int round = 0; round < 10 && watch.paints == paintsBefore; ++round)
            QCoreApplication::processEvents();
        times.push_back(t.nsecsElapsed() / 1e6);
        ++blocks;
        const QRect part = c.lastPaintedPart();
        if (part != c.rect())
            ++partial;
        widths.push_back(part.width());
    }
    std::printf("append %s %dx%d block=500B median_ms=%.3f p90_ms=%.3f max_ms=%.3f partial=%d/%d "
                "painted_px=%.0f\n",
        qPrintable(name), size.width(), size.height(), median(times), quantile(times, 0.9),
        *std::max_element(times.begin(), times.end()), partial, blocks,
        median(std::vector<double>(widths.begin(), widths.end())));
}

void runCase(const DataSet &data, const QString &pngDir)
{
    size_t most = 0;
    for (const auto &s : data)
        most = std::max(most, s.x.size());
    const QString name = QStringLiteral("%1x%2").arg(data.size()).arg(most);

    chart::TChart c;
    setUp(c, data);

    std::vector<double> adds;
    for (int run = 0; run < 3 + 20; ++run) {
        QElapsedTimer t;
        t.start();
        fill(c, data);
        const double ms = t.nsecsElapsed() / 1e6;
        if (run >= 3)
            adds.push_back(ms);
    }

    for (const QSize size : { QSize(1600, 900), QSize(800, 450) }) {
        c.resize(size);
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        std::vector<double> paints, cpu, repaints;
        for (int run = 0; run < 3 + 20; ++run) {
            for (int s = 0; s < c.SeriesCount(); ++s)
                static_cast<chart::TFastLineSeries *>(c.Series(s))->forgetColumns();
            QElapsedTimer t;
            t.start();
            const double cpu0 = threadMs();
            {
                QPainter p(&image);
                c.paintChart(p, c.ClientBounds());
            }
            const double cpuMs = threadMs() - cpu0;
            const double ms = t.nsecsElapsed() / 1e6;
            if (run >= 3) {
                paints.push_back(ms);
                cpu.push_back(cpuMs);
            }
        }
        std::printf("paint %s %dx%d median_ms=%.3f min_ms=%.3f p90_ms=%.3f cpu_median_ms=%.3f "
                    "cpu_min_ms=%.3f cpu_p90_ms=%.3f\n",
            qPrintable(name), size.width(), size.height(), median(paints),
            *std::min_element(paints.begin(), paints.end()), quantile(paints, 0.9), median(cpu),
            *std::min_element(cpu.begin(), cpu.end()), quantile(cpu, 0.9));
        for (int run = 0; run < 3 + 20; ++run) {
            QElapsedTimer t;
            t.start();
            {
                QPainter p(&image);
                c.paintChart(p, c.ClientBounds());
            }
            if (run >= 3)
                repaints.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("repaint %s %dx%d median_ms=%.3f min_ms=%.3f p90_ms=%.3f\n", qPrintable(name),
            size.width(), size.height(), median(repaints),
            *std::min_element(repaints.begin(), repaints.end()), quantile(repaints, 0.9));
        if (!pngDir.isEmpty())
            image.save(QDir(pngDir).filePath(QStringLiteral("chart-%1-%2x%3.png")
                                                 .arg(name)
                                                 .arg(size.width())
                                                 .arg(size.height())));
    }
    std::printf("add %s median_ms=%.3f\n", qPrintable(name), median(adds));
    for (const QSize size : { QSize(1600, 900), QSize(800, 450) })
        runAppends(data, name, size);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    app.setFont(QFont(QStringLiteral("DejaVu Sans"), 8));
    chart::setDefaultListCapacity(700000);

    QString dataFile, pngDir;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--data") && i + 1 < args.size()) {
            dataFile = args[++i];
        } else if (args[i] == QLatin1String("--png") && i + 1 < args.size()) {
            pngDir = args[++i];
        } else {
            std::fprintf(stderr, "usage: ferrun-bench-chart [--data FILE] [--png DIR]\n");
            return 2;
        }
    }
    if (!dataFile.isEmpty()) {
        DataSet data;
        if (!readData(dataFile, data))
            return 1;
        runCase(data, pngDir);
        return 0;
    }
    runCase(generate(1, 239999), pngDir);
    runCase(generate(7, 34285), pngDir);
    return 0;
}
