#include "channelchart/chartreport.h"

#include "chart/chartrenderer.h"
#include "files/channels.h"
#include "files/datafile.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <bit>
#include <cmath>

namespace chart {

namespace {

// The page's type sizes, in points.
constexpr double HeadingPoints = 14;
constexpr double TextPoints = 9.5;
constexpr double TablePoints = 8.5;
constexpr double GapPoints = 6;
// A long comment keeps the chart its room: what lies beyond these lines is not printed.
constexpr int CommentLines = 6;

QFont pageFont(double points, double pixelsPerPoint, bool bold = false)
{
    QFont font;
    font.setPixelSize(std::max(1, int(std::lround(points * pixelsPerPoint))));
    font.setBold(bold);
    return font;
}

// Blanks inside one figure do not break: a line wraps between figures only.
QString unbroken(QString text)
{
    return text.replace(u' ', QChar(0x00A0));
}

// Where each part of the page goes, in the device's pixels.
struct PageParts
{
    double pixelsPerPoint = 1;
    QFont heading, text, table;
    QRect headingRect, samplingRect, commentRect, chartRect, tableRect;
    QString sampling;
    int tableRowHeight = 0;
};

PageParts layOut(const QPaintDevice &device, const Report &report)
{
    PageParts p;
    p.pixelsPerPoint = device.logicalDpiY() / 72.0;
    p.heading = pageFont(HeadingPoints, p.pixelsPerPoint, true);
    p.text = pageFont(TextPoints, p.pixelsPerPoint);
    p.table = pageFont(TablePoints, p.pixelsPerPoint);
    const int width = device.width(), height = device.height();
    const int gap = int(std::lround(GapPoints * p.pixelsPerPoint));
    const QFontMetricsF heading(p.heading, &device), text(p.text, &device), table(p.table, &device);

    int top = 0;
    p.headingRect = QRect(0, top, width, int(std::ceil(heading.height())));
    top = p.headingRect.bottom() + 1 + gap / 2;

    QStringList figures;
    for (const QString &figure : report.sampling)
        figures << unbroken(figure);
    p.sampling = figures.join(QStringLiteral("     "));
    const QRectF sampling = text.boundingRect(
        QRectF(0, 0, width, height), Qt::TextWordWrap | Qt::AlignLeft, p.sampling);
    p.samplingRect = QRect(0, top, width, int(std::ceil(sampling.height())));
    top = p.samplingRect.bottom() + 1 + gap;

    if (!report.comment.trimmed().isEmpty()) {
        const QRectF comment = text.boundingRect(
            QRectF(0, 0, width, height), Qt::TextWordWrap | Qt::AlignLeft, report.comment);
        const double most = text.lineSpacing() * CommentLines;
        p.commentRect = QRect(0, top, width, int(std::ceil(std::min(comment.height(), most))));
        top = p.commentRect.bottom() + 1 + gap;
    }

    int tableHeight = 0;
    if (report.region) {
        p.tableRowHeight = int(std::ceil(table.height() * 1.4));
        // The caption, the header of two lines and a row per channel.
        tableHeight = p.tableRowHeight * (1 + 2 + int(report.region->rows.size()));
    }
    const int chartBottom = height - (tableHeight > 0 ? tableHeight + gap : 0);
    p.chartRect = QRect(0, top, width, std::max(1, chartBottom - top));
    if (tableHeight > 0)
        p.tableRect = QRect(0, chartBottom + gap, width, tableHeight);
    return p;
}

void paintTable(QPainter &painter, const PageParts &p, const ReportTable &region)
{
    const QRect area = p.tableRect;
    const int row = p.tableRowHeight;
    const int pad = int(std::lround(3 * p.pixelsPerPoint));
    painter.setFont(p.table);
    painter.setPen(Qt::black);
    painter.drawText(QRect(area.left(), area.top(), area.width(), row),
        Qt::AlignLeft | Qt::AlignVCenter, region.caption);

    const int columns = int(region.header.size());
    if (columns == 0)
        return;
    const QFontMetrics fm(p.table, painter.device());
    int first = fm.horizontalAdvance(region.header.first());
    for (const QStringList &cells : region.rows)
        if (!cells.isEmpty())
            first = std::max(first, fm.horizontalAdvance(cells.first()));
    first += 2 * pad;
    const double rest = double(area.width() - first) / std::max(1, columns - 1);
    const auto cell = [&](int column, int top, int height) {
        const int left = column == 0 ? 0 : first + int(std::lround((column - 1) * rest));
        const int right = column == 0 ? first : first + int(std::lround(column * rest));
        return QRect(area.left() + left, top, right - left, height);
    };

    const QPen grid(QColor(160, 160, 160), 0);
    int top = area.top() + row;
    for (int c = 0; c < columns; ++c) {
        const QRect box = cell(c, top, 2 * row);
        painter.fillRect(box, QColor(236, 236, 236));
        painter.setPen(grid);
        painter.drawRect(box);
        painter.setPen(Qt::black);
        painter.drawText(
            box.adjusted(pad, 0, -pad, 0), Qt::AlignCenter | Qt::TextWordWrap, region.header.at(c));
    }
    top += 2 * row;
    for (size_t r = 0; r < region.rows.size(); ++r, top += row) {
        const QStringList &cells = region.rows[r];
        const QColor colour = r < region.colours.size() ? region.colours[r] : QColor();
        for (int c = 0; c < columns; ++c) {
            const QRect box = cell(c, top, row);
            QColor ink = Qt::black;
            if (c == 0 && colour.isValid()) {
                painter.fillRect(box, colour);
                if (qGray(colour.rgb()) < 128)
                    ink = Qt::white;
            }
            painter.setPen(grid);
            painter.drawRect(box);
            painter.setPen(ink);
            painter.drawText(box.adjusted(pad, 0, -pad, 0),
                (c == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                c < cells.size() ? cells.at(c) : QString());
        }
    }
}

} // namespace

WhiteChart::WhiteChart(ChartRenderer &chart)
    : m_chart(chart)
    , m_saved(chart.Color())
{
    m_chart.setColor(Qt::white);
}

WhiteChart::~WhiteChart()
{
    m_chart.setColor(m_saved);
}

Report recordingReport(const QString &title, const files::DataFileHeader &header, qint64 dataLength,
    const QDateTime &recorded, const QString &comment, int rangeIndex, const QLocale &locale)
{
    Report report;
    report.title = title;
    report.comment = comment;
    const QString when = recorded.isValid() ? locale.toString(recorded,
                             QCoreApplication::translate("chart::Report", "dd.MM.yyyy HH:mm:ss",
                                 "the date format of the recording's time (QDateTime)"))
                                            : QStringLiteral("—");
    report.recorded = QCoreApplication::translate("chart::Report", "Записано: %1").arg(when);

    // The range the recording was made with, when its scale says; the one drawn with else.
    const bool range500 = header.ValueScale == files::ValueScale500
        || (header.ValueScale != files::ValueScale250 && rangeIndex != 0);
    const quint8 bits = header.ChartChannelBits;
    const int channels = std::popcount(unsigned(bits & files::ThermocoupleBits));
    const bool averaging = (bits & files::chartChannelBits(0, true)) != 0;
    const double interval = header.ChannelIntervalUs; // µs between one channel's samples
    const auto number = [&locale](double value, int decimals) {
        QLocale plain = locale;
        plain.setNumberOptions(QLocale::OmitGroupSeparator);
        return plain.toString(value, 'f', decimals);
    };
    const auto hertz = [&number](double value) {
        return number(value, value >= 100 ? 0 : value >= 1 ? 2 : 4);
    };
    if (interval > 0 && std::isfinite(interval) && channels > 0)
        report.sampling << QCoreApplication::translate(
            "chart::Report", "Частота выборки: %1 Гц (%2 Гц на канал)")
                               .arg(hertz(1e6 * channels / interval), hertz(1e6 / interval));
    const qint64 samples = dataLength / 2;
    const qint64 frames = channels > 0 ? samples / channels : 0;
    report.sampling << QCoreApplication::translate("chart::Report", "Выборок: %1 (%2 на канал)")
                           .arg(samples)
                           .arg(frames);
    if (interval > 0 && std::isfinite(interval))
        report.sampling << QCoreApplication::translate("chart::Report", "Длительность: %1 с")
                               .arg(number(frames * interval * (averaging ? 16 : 1) / 1e6, 3));
    QStringList names;
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        if (bits & files::thermocoupleBit(n))
            names << QString::fromLatin1(files::channelName(files::thermocouple(n)));
    report.sampling << QCoreApplication::translate("chart::Report", "Каналы: %1")
                           .arg(names.isEmpty() ? QStringLiteral("—") : names.join(u' '));
    report.sampling << (averaging
            ? QCoreApplication::translate("chart::Report", "Усреднение в МК: по 16 выборкам")
            : QCoreApplication::translate("chart::Report", "Усреднение в МК: нет"));
    report.sampling << QCoreApplication::translate("chart::Report", "Диапазон: %1")
                           .arg(range500 ? QStringLiteral("500°") : QStringLiteral("250°"));
    return report;
}

QPageLayout reportPageLayout()
{
    return QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
        QPageLayout::Millimeter);
}

void setUpReportPdf(QPdfWriter &pdf, const Report &report)
{
    pdf.setResolution(1200);
    pdf.setPageLayout(reportPageLayout());
    pdf.setTitle(report.title);
    pdf.setCreator(QStringLiteral("Ferrun"));
}

QSize reportChartSize(const QPaintDevice &device, const ChartRenderer &chart, const Report &report)
{
    const QRect rect = layOut(device, report).chartRect;
    const double scale = double(chart.screenDpi()) / std::max(1, device.logicalDpiY());
    return QSize(std::max(1, int(std::lround(rect.width() * scale))),
        std::max(1, int(std::lround(rect.height() * scale))));
}

void paintReport(
    QPainter &painter, const QPaintDevice &device, ChartRenderer &chart, const Report &report)
{
    const PageParts p = layOut(device, report);
    painter.save();
    // The page is paper: white under everything.
    painter.fillRect(QRect(0, 0, device.width(), device.height()), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::black);

    // The heading, with the recording's time at its right.
    painter.setFont(p.text);
    const int recordedWidth = painter.fontMetrics().horizontalAdvance(report.recorded);
    painter.drawText(p.headingRect, Qt::AlignRight | Qt::AlignBottom, report.recorded);
    painter.setFont(p.heading);
    const int room = std::max(0,
        p.headingRect.width() - recordedWidth - int(std::lround(GapPoints * 3 * p.pixelsPerPoint)));
    painter.drawText(p.headingRect, Qt::AlignLeft | Qt::AlignBottom,
        painter.fontMetrics().elidedText(report.title, Qt::ElideMiddle, room));

    painter.setFont(p.text);
    painter.drawText(p.samplingRect, Qt::AlignLeft | Qt::TextWordWrap, p.sampling);
    if (p.commentRect.isValid()) {
        painter.save();
        painter.setClipRect(p.commentRect);
        painter.drawText(QRect(p.commentRect.topLeft(), QSize(p.commentRect.width(), 1 << 20)),
            Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, report.comment);
        painter.restore();
    }

    {
        const WhiteChart white(chart);
        chart.PrintInRect(painter, p.chartRect, reportChartSize(device, chart, report));
    }
    if (report.region && p.tableRect.isValid())
        paintTable(painter, p, *report.region);
    painter.restore();
}

} // namespace chart
