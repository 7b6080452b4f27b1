// Copy and print times of the window's chart with a full recording drawn, offscreen:
//   copy SERIESxPOINTS WIDTHxHEIGHT median_ms=M min_ms=N svg_bytes=S png_bytes=P
//     (btSaveChart: from the click to the system clipboard holding SVG and PNG; 10 copies
//     after 2 warm-ups)
//   print SERIESxPOINTS median_ms=M min_ms=N pdf_bytes=B
//     (btPrint into a PDF file at 1200 dpi, A4: from the click to the job handed over; 5
//     jobs after 1 warm-up)
#include "app/chartexport.h"
#include "channelchart/channelchart.h"
#include "chart/chart.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPrinter>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Thermocouple-like traces in ADC units, as the paint benchmark draws them.
void fill(chart::TChart &c, int seriesCount, int points)
{
    std::mt19937 rng(12345);
    std::normal_distribution<double> noise(0, 6);
    for (int s = 0; s < seriesCount; ++s) {
        chart::TChartSeries &series = *c.Series(s);
        series.Clear();
        double level = 2000 + 500 * s;
        for (int i = 1; i <= points; ++i) {
            level += noise(rng) * 0.02;
            const double step
                = i > points / 3 ? 1500 * (1 - std::exp(-(i - points / 3) / 4000.0)) : 0;
            series.AddPoint(i, std::round(level + step + 200 * std::sin(i / 3000.0) + noise(rng)));
        }
    }
}

void runCase(int seriesCount, int points, QSize size, bool print)
{
    chart::TChart c;
    c.setObjectName(QStringLiteral("Chart1"));
    c.resize(size);
    chart::setUpChannelChart(c);
    for (int s = seriesCount; s < c.SeriesCount(); ++s)
        c.Series(s)->setActive(false);
    fill(c, seriesCount, points);
    c.show();
    QApplication::processEvents();

    QStringList messages;
    app::ChartExport exporter(&c, [&](const QString &text) { messages << text; });
    const QString name = QStringLiteral("%1x%2").arg(seriesCount).arg(points);

    std::vector<double> copies;
    for (int run = 0; run < 2 + 10; ++run) {
        QElapsedTimer t;
        t.start();
        exporter.btSaveChartClick();
        const double ms = t.nsecsElapsed() / 1e6;
        if (run >= 2)
            copies.push_back(ms);
        QApplication::processEvents(); // the screen's repaint after the colour came back
    }
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    const qsizetype svg = data ? data->data(QStringLiteral("image/svg+xml")).size() : 0;
    const qsizetype png = data ? data->data(QStringLiteral("image/png")).size() : 0;
    std::printf("copy %s %dx%d median_ms=%.1f min_ms=%.1f svg_bytes=%lld png_bytes=%lld\n",
        qPrintable(name), size.width(), size.height(), median(copies),
        *std::min_element(copies.begin(), copies.end()), static_cast<long long>(svg),
        static_cast<long long>(png));

    if (print) {
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("chart.pdf"));
        exporter.printJob = [&] {
            auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
            printer->setResolution(1200);
            printer->setPageSize(QPageSize(QPageSize::A4));
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdf);
            return std::make_unique<app::PrinterJob>(std::move(printer));
        };
        std::vector<double> jobs;
        for (int run = 0; run < 1 + 5; ++run) {
            QElapsedTimer t;
            t.start();
            exporter.btPrintClick();
            const double ms = t.nsecsElapsed() / 1e6;
            if (run >= 1)
                jobs.push_back(ms);
        }
        std::printf("print %s %dx%d median_ms=%.1f min_ms=%.1f pdf_bytes=%lld\n", qPrintable(name),
            size.width(), size.height(), median(jobs), *std::min_element(jobs.begin(), jobs.end()),
            static_cast<long long>(QFileInfo(pdf).size()));
    }
    for (const QString &m : messages)
        std::printf("message: %s\n", qPrintable(m));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QFont font = app.font();
    font.setPointSize(8); // the window's font size
    app.setFont(font);
    chart::setDefaultListCapacity(700000);

    runCase(1, 239999, QSize(641, 353), true); // the window's chart at its designed size
    runCase(7, 34285, QSize(641, 353), true);
    runCase(1, 239999, QSize(1600, 900), false);
    return 0;
}
