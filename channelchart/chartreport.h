#pragma once

#include <QColor>
#include <QDateTime>
#include <QLocale>
#include <QPageLayout>
#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

class QPainter;
class QPaintDevice;
class QPdfWriter;

namespace files {
struct DataFileHeader;
}

// The report of a recording, one page that a lab files: the window's PDF export and print
// and `ferrun-cli plot --format pdf` lay it out alike. Landscape A4: the file's name as the
// heading, the date and time of the recording, the sampling figures and the comment above;
// the chart below them at the screen's layout; the cursors' region table under the chart when
// cursors are placed.
namespace chart {

class ChartRenderer;

// The cursors' region as the report's table shows it.
struct ReportTable
{
    QString caption; // the cursors' X, Δx and 1/|Δx|
    QStringList header; // the columns' captions
    std::vector<QStringList> rows; // one per channel, its name first
    std::vector<QColor> colours; // each row's channel colour
};

// What a report page says besides its chart.
struct Report
{
    QString title; // the page's heading and the PDF's title: the file's name
    QString recorded; // "Записано: ..."
    QStringList sampling; // the sampling figures, one "name: value" each
    QString comment;
    std::optional<ReportTable> region;
};

// The heading, the date and the sampling figures of a recording held with `header` and
// `dataLength` bytes of data, recorded at `recorded` (not valid: not known); its range is the
// one its scale names, or `rangeIndex` (0 "250°", any other "500°") for a scale of neither;
// numbers and the date in `locale`, the texts in the language of the installed translation.
Report recordingReport(const QString &title, const files::DataFileHeader &header, qint64 dataLength,
    const QDateTime &recorded, const QString &comment, int rangeIndex, const QLocale &locale);

// Landscape A4 with margins of 10 mm.
QPageLayout reportPageLayout();
// A PDF writer set up for a report: its page layout, a resolution of 1200 dpi, the report's
// title as the document's title.
void setUpReportPdf(QPdfWriter &pdf, const Report &report);

// The size the chart is laid out at on a report page of `device` (the screen's pixels of
// `chart`, so that its texts and lines look as on the screen): what a chart whose points are
// reduced to its pixel columns is sized to first.
QSize reportChartSize(const QPaintDevice &device, const ChartRenderer &chart, const Report &report);

// The chart on white, as on paper, for the life of the object: its own colour is back on
// every way out.
class WhiteChart
{
public:
    explicit WhiteChart(ChartRenderer &chart);
    ~WhiteChart();
    WhiteChart(const WhiteChart &) = delete;
    WhiteChart &operator=(const WhiteChart &) = delete;

private:
    ChartRenderer &m_chart;
    QColor m_saved;
};

// Paints the report on `device`'s paintable area with `painter`, begun on it. The chart is
// drawn on white as printed; the chart on the screen stays as it was.
void paintReport(
    QPainter &painter, const QPaintDevice &device, ChartRenderer &chart, const Report &report);

} // namespace chart
