#include "channelchart/chartpicture.h"

#include "channelchart/chartreport.h"
#include "chart/chartrenderer.h"
#include "chart/pngwriter.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>

namespace chart {

namespace {

// The report's PDF, in memory.
class ReportPdf
{
public:
    explicit ReportPdf(const Report &report)
        : m_pdf(&m_buffer)
    {
        m_buffer.open(QIODevice::WriteOnly);
        setUpReportPdf(m_pdf, report);
    }
    QPdfWriter &pdf() { return m_pdf; }
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    QBuffer m_buffer { &m_bytes };
    QPdfWriter m_pdf;
};

QByteArray reportPdf(ChartRenderer &chart, const Report &report)
{
    ReportPdf page(report);
    QPainter painter;
    if (!painter.begin(&page.pdf()))
        return {};
    paintReport(painter, page.pdf(), chart, report);
    return painter.end() ? page.bytes() : QByteArray();
}

} // namespace

std::optional<PictureFormat> pictureFormat(const QString &name)
{
    if (name == QLatin1String("svg"))
        return PictureFormat::Svg;
    if (name == QLatin1String("png"))
        return PictureFormat::Png;
    if (name == QLatin1String("pdf"))
        return PictureFormat::Pdf;
    return std::nullopt;
}

QString mimeType(PictureFormat format)
{
    switch (format) {
    case PictureFormat::Svg:
        return QStringLiteral("image/svg+xml");
    case PictureFormat::Png:
        return QStringLiteral("image/png");
    case PictureFormat::Pdf:
        break;
    }
    return QStringLiteral("application/pdf");
}

void sizeForPicture(ChartRenderer &chart, PictureFormat format, const Report &report)
{
    if (format == PictureFormat::Pdf) {
        ReportPdf page(report);
        chart.setSize(reportChartSize(page.pdf(), chart, report));
    }
}

void layOutForPicture(ChartRenderer &chart, PictureFormat format)
{
    if (format != PictureFormat::Png) {
        // The SVG at the screen's resolution, as the PDF's chart is laid out too.
        chart.ensureLayout();
        return;
    }
    // On an image of the picture's kind: one row of it is enough.
    QImage image(chart.size().width(), 1, QImage::Format_RGB32);
    QPainter painter(&image);
    chart.paintChart(painter, chart.ClientBounds());
}

bool writePicture(
    ChartRenderer &chart, PictureFormat format, const Report &report, const PictureSink &sink)
{
    if (format == PictureFormat::Png) {
        const WhiteChart white(chart);
        return writeBandedPng(
            chart.size(),
            [&chart](QPainter &painter) { chart.paintChart(painter, chart.ClientBounds()); }, sink);
    }
    QByteArray bytes;
    if (format == PictureFormat::Svg) {
        const WhiteChart white(chart);
        bytes = chart.svg(chart.ClientBounds(), report.title);
    } else {
        bytes = reportPdf(chart, report);
    }
    return !bytes.isEmpty() && sink(bytes);
}

QByteArray picture(ChartRenderer &chart, PictureFormat format, const Report &report)
{
    QByteArray bytes;
    const bool made = writePicture(chart, format, report, [&bytes](const QByteArray &piece) {
        bytes += piece;
        return true;
    });
    return made ? bytes : QByteArray();
}

} // namespace chart
