#include "app/chartexport.h"
#include "app/form1.h"
#include "app/statusbar.h"
#include "app/writefailure.h"
#include "channelchart/channelchart.h"
#include "chart/chart.h"
#include "tests/app/testenvironment.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPrinter>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QXmlStreamReader>
#include <cmath>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

using app::ChartExport;
using app::PrinterJob;
using app::PrintJob;

namespace {

const QColor Face(212, 208, 200); // a window face colour other than white
const QColor T1Colour(0, 128, 0);
const QColor Unprinted(255, 0, 255); // the page where nothing was printed

// The window's chart, 641 x 353 without margins, with a point-size font as the window has.
void setUpChart(chart::TChart &c)
{
    c.setObjectName(QStringLiteral("Chart1"));
    c.setFont(QFont(QStringLiteral("DejaVu Sans"), 9));
    c.resize(641, 353);
    chart::setUpChannelChart(c);
    c.setColor(Face);
}

// The chart painted as on the screen.
QImage screenOf(chart::TChart &c)
{
    QImage image(c.size(), QImage::Format_RGB32);
    QPainter painter(&image);
    c.paintChart(painter, c.ClientBounds());
    return image;
}

// A print job on an image standing for the page, at 300 dpi.
class ImageJob : public app::PrintJob
{
public:
    ImageJob(QImage &page, QStringList &titles, bool failAtEnd = false)
        : m_page(page)
        , m_titles(titles)
        , m_failAtEnd(failAtEnd)
    {
    }
    QPaintDevice *page() override { return &m_page; }
    bool begin(QPainter &painter, const QString &title) override
    {
        m_titles << title;
        return painter.begin(&m_page);
    }
    bool end(QPainter &painter) override { return painter.end() && !m_failAtEnd; }
    void abort(QPainter &painter) override { painter.end(); }
    QString errorString() const override { return QStringLiteral("The printer went away"); }

private:
    QImage &m_page;
    QStringList &m_titles;
    bool m_failAtEnd;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QImage blankPage(int width, int height)
{
    QImage page(width, height, QImage::Format_RGB32);
    page.fill(Unprinted);
    page.setDotsPerMeterX(11811); // 300 dpi
    page.setDotsPerMeterY(11811);
    return page;
}

struct Polyline
{
    QColor stroke;
    QPolygonF points;
};

// The polylines and texts of an SVG picture.
void readSvg(
    const QByteArray &svg, std::vector<Polyline> &lines, QStringList &texts, QStringList &fontSizes)
{
    QXmlStreamReader xml(svg);
    QColor stroke;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (a.hasAttribute(QStringLiteral("stroke")))
            stroke = QColor(a.value(QStringLiteral("stroke")).toString());
        if (xml.name() == QStringLiteral("polyline")) {
            Polyline line { stroke, {} };
            const QStringList pairs = a.value(QStringLiteral("points"))
                                          .toString()
                                          .split(QLatin1Char(' '), Qt::SkipEmptyParts);
            for (const QString &pair : pairs) {
                const QStringList xy = pair.split(QLatin1Char(','));
                line.points << QPointF(xy.value(0).toDouble(), xy.value(1).toDouble());
            }
            lines.push_back(line);
        } else if (xml.name() == QStringLiteral("text")) {
            fontSizes << a.value(QStringLiteral("font-size")).toString();
            texts << xml.readElementText();
        }
    }
    EXPECT_FALSE(xml.hasError()) << qPrintable(xml.errorString());
}

class ChartExportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setUpChart(c);
        // A full recording in T1, a short straight line in T2.
        for (int i = 1; i <= 239999; ++i)
            c.Series(0)->AddPoint(i, 2000 + 800 * std::sin(i / 9000.0) + (i * 7919 % 13));
        for (int i = 0; i <= 10; ++i)
            c.Series(1)->AddPoint(i * 24000, 1000 + i * 100);
        exporter.clipboard = [this](std::unique_ptr<QMimeData> data) {
            clipboard = std::move(data);
            return clipboardWorks;
        };
    }

    chart::TChart c;
    QStringList messages;
    ChartExport exporter { &c, [this](const QString &text) { messages << text; } };
    std::unique_ptr<QMimeData> clipboard;
    bool clipboardWorks = true;
};

} // namespace

TEST_F(ChartExportTest, CopyIsOneEntryOfSvgAndPngOnWhiteWithTheScreenRanges)
{
    // Zoomed on the screen: the copy shows the same ranges.
    c.BottomAxis()->SetRange(50000, 150000);
    c.LeftAxis()->SetRange(1500, 2500);
    const QImage screen = screenOf(c);
    const QRect plot = c.ChartRect();

    exporter.btSaveChartClick();
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('\n')));
    EXPECT_EQ(c.Color(), Face);
    EXPECT_EQ(screenOf(c), screen); // the screen's colour and ranges are back
    ASSERT_TRUE(clipboard);
    EXPECT_EQ(clipboard->formats(),
        QStringList({ QStringLiteral("image/svg+xml"), QStringLiteral("image/png") }));

    // PNG: the screen's picture but for the white background.
    QImage png;
    ASSERT_TRUE(png.loadFromData(clipboard->data(QStringLiteral("image/png")), "PNG"));
    EXPECT_EQ(png.size(), c.size());
    png = png.convertToFormat(QImage::Format_RGB32);
    int background = 0, blended = 0, t1Screen = 0, t1Png = 0;
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x) {
            t1Screen += screen.pixelColor(x, y) == T1Colour;
            t1Png += png.pixelColor(x, y) == T1Colour;
            if (screen.pixel(x, y) == png.pixel(x, y))
                continue;
            if (screen.pixelColor(x, y) == Face && png.pixelColor(x, y) == QColor(Qt::white))
                ++background;
            else
                ++blended; // the edges of antialiased texts on the background
        }
    EXPECT_GT(background, 100000);
    EXPECT_LT(blended, background / 10);
    EXPECT_EQ(t1Png, t1Screen);
    EXPECT_GT(t1Screen, plot.width());

    // SVG: parses, draws on white, holds each shown series as a polyline inside the
    // plotting rectangle, and labels the same ranges.
    const QByteArray svg = clipboard->data(QStringLiteral("image/svg+xml"));
    QSvgRenderer renderer(svg);
    ASSERT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.viewBox(), QRect(0, 0, 640, 352));
    QImage drawn(640, 352, QImage::Format_RGB32);
    drawn.fill(Qt::black);
    {
        QPainter p(&drawn);
        renderer.render(&p);
    }
    EXPECT_EQ(drawn.pixelColor(2, 2), QColor(Qt::white));
    std::vector<Polyline> lines;
    QStringList texts, fontSizes;
    readSvg(svg, lines, texts, fontSizes);
    qsizetype t1Points = 0;
    for (const Polyline &line : lines) {
        if (line.stroke != T1Colour || c.legendRect().contains(line.points.boundingRect().toRect()))
            continue; // another series, or the legend's symbol
        t1Points += line.points.size();
        for (const QPointF &p : line.points) {
            EXPECT_GE(p.x(), plot.left());
            EXPECT_LE(p.x(), plot.right());
            EXPECT_GE(p.y(), plot.top());
            EXPECT_LE(p.y(), plot.bottom());
        }
    }
    EXPECT_GT(t1Points, plot.width()); // at least one point per pixel column
    EXPECT_TRUE(texts.contains(QStringLiteral("60,000"))) << qPrintable(texts.join(' '));
    EXPECT_TRUE(texts.contains(QStringLiteral("140,000")));
    EXPECT_TRUE(texts.contains(QStringLiteral("2,500")));
    EXPECT_TRUE(texts.contains(QStringLiteral("Выборки")));
    // Texts as large as on the screen (9 points at the screen's resolution), not at 72 dpi.
    ASSERT_FALSE(fontSizes.isEmpty());
    const QString screenSize = QString::number(9.0 * c.logicalDpiY() / 72);
    for (const QString &size : fontSizes)
        EXPECT_TRUE(size == screenSize || size == screenSize + QStringLiteral("px"))
            << qPrintable(size) << " instead of " << qPrintable(screenSize);
}

TEST_F(ChartExportTest, AClipboardThatFailsIsReportedWithTheColourBack)
{
    const QImage screen = screenOf(c);
    clipboardWorks = false;
    exporter.btSaveChartClick();
    EXPECT_EQ(messages, QStringList { QStringLiteral("Не удаётся открыть буфер обмена") });
    EXPECT_EQ(c.Color(), Face);
    EXPECT_EQ(screenOf(c), screen);
}

TEST_F(ChartExportTest, TheSystemClipboardHoldsBothFormats)
{
    ChartExport system(&c, [this](const QString &text) { messages << text; });
    system.btSaveChartClick();
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('\n')));
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    ASSERT_TRUE(data);
    EXPECT_TRUE(QSvgRenderer(data->data(QStringLiteral("image/svg+xml"))).isValid());
    QImage png;
    EXPECT_TRUE(png.loadFromData(data->data(QStringLiteral("image/png")), "PNG"));
    EXPECT_EQ(png.size(), c.size());
}

TEST_F(ChartExportTest, PrintIsTheReportPageWithTheScreenRangesOnWhite)
{
    // A line y = x from 0 to 1000, with the bottom axis zoomed to its first half: on the
    // page it runs from the chart's lower left corner to the middle of its right edge.
    for (int i = 0; i < c.SeriesCount(); ++i)
        c.Series(i)->Clear();
    for (int i = 0; i <= 1000; ++i)
        c.Series(0)->AddPoint(i, i);
    c.BottomAxis()->SetRange(0, 500);
    const QImage screen = screenOf(c);
    const QRect plot = c.ChartRect();

    // Landscape A4 at 300 dpi less 10 mm margins.
    QImage page = blankPage(3272, 2244);
    QStringList titles;
    exporter.printJob = [&] { return std::make_unique<ImageJob>(page, titles); };
    exporter.btPrintClick();
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('\n')));
    // Without the window's texts the page is headed with the chart's name.
    EXPECT_EQ(titles, QStringList { QStringLiteral("Chart1") });
    EXPECT_EQ(screenOf(c), screen);
    EXPECT_EQ(c.ChartRect(), plot);
    EXPECT_EQ(c.Color(), Face);

    // Paper everywhere, the chart on white in the page's lower part, at full width.
    // Zoomed, the line runs in the chart's lower half while it crosses the page's left half.
    int t1 = 0, face = 0, upperLeft = 0;
    for (int y = 0; y < page.height(); y += 2)
        for (int x = 0; x < page.width(); x += 2) {
            const QColor colour = page.pixelColor(x, y);
            ASSERT_NE(colour, Unprinted) << x << ", " << y;
            face += colour == Face;
            if (colour == T1Colour) {
                ++t1;
                upperLeft += x < page.width() / 2 && y < page.height() / 2;
            }
        }
    EXPECT_EQ(face, 0);
    EXPECT_GT(t1, 500);
    EXPECT_EQ(upperLeft, 0);
}

TEST_F(ChartExportTest, PrintToAPdfFileIsOneTitledPage)
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("chart.pdf"));
    exporter.printJob = [&] {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return std::make_unique<app::PrinterJob>(std::move(printer));
    };
    exporter.btPrintClick();
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('\n')));
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_TRUE(bytes.startsWith("%PDF-"));
    EXPECT_EQ(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r"), 1);
    // The title, as Qt writes it: UTF-16 with a byte-order mark.
    QByteArray title("\xFE\xFF", 2);
    for (QChar ch : QStringLiteral("Chart1"))
        title += char(ch.unicode() >> 8) + QByteArray(1, char(ch.unicode() & 0xFF));
    EXPECT_TRUE(bytes.contains("/Title (" + title + ")"));
}

TEST_F(ChartExportTest, NoPrinterOrAFailingJobIsReportedAndLeavesTheScreen)
{
    c.BottomAxis()->SetRange(1000, 2000);
    const QImage screen = screenOf(c);

    // No default printer: the print dialog, where the user may choose a PDF file (a
    // printer writing one, as the dialog gives it). Cancelled, it prints nothing.
    exporter.printJob = [] { return nullptr; };
    QTemporaryDir dir;
    const QString chosen = dir.filePath(QStringLiteral("chosen.pdf"));
    int dialogs = 0;
    exporter.dialogJob = [&]() -> std::unique_ptr<app::PrintJob> {
        if (++dialogs == 1)
            return nullptr;
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(chosen);
        return std::make_unique<app::PrinterJob>(std::move(printer));
    };
    exporter.btPrintClick();
    EXPECT_EQ(dialogs, 1);
    EXPECT_FALSE(QFile::exists(chosen));
    exporter.btPrintClick();
    EXPECT_EQ(dialogs, 2);
    EXPECT_TRUE(readFile(chosen).startsWith("%PDF-"));
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('\n')));

    // A print into a file in a folder that is not there: the file and the system's reason.
    messages.clear();
    const QString pdf = dir.filePath(QStringLiteral("missing/chart.pdf"));
    exporter.printJob = [&] {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(pdf);
        return std::make_unique<app::PrinterJob>(std::move(printer));
    };
    exporter.btPrintClick();
    EXPECT_EQ(messages,
        QStringList { QStringLiteral("Не удаётся создать файл %1: %2")
                          .arg(pdf, app::systemErrorText(ENOENT)) });
    EXPECT_FALSE(QFile::exists(pdf));

    // A job that fails when it is handed over.
    messages.clear();
    QImage page = blankPage(1000, 1400);
    QStringList titles;
    exporter.printJob = [&] { return std::make_unique<ImageJob>(page, titles, true); };
    exporter.btPrintClick();
    EXPECT_EQ(messages, QStringList { QStringLiteral("The printer went away") });

    EXPECT_EQ(screenOf(c), screen);
    EXPECT_EQ(c.BottomAxis()->Minimum(), 1000);
    EXPECT_EQ(c.BottomAxis()->Maximum(), 2000);
}

TEST(ChartExportWindow, ButtonsAndMenuReachTheExport)
{
    QTemporaryDir dir;
    QStringList messages;
    app::FormEnvironment environment = apptest::environmentIn(dir, messages);
    app::TForm1 form(dir.filePath(QStringLiteral("Ferrun.ini")), app::AppOptions {}, environment);
    messages.clear(); // what start-up said about the instrument
    ChartExport *exporter = &form.chartExport();
    int copies = 0;
    exporter->clipboard = [&](std::unique_ptr<QMimeData> data) {
        copies += data->hasFormat(QStringLiteral("image/svg+xml"));
        return true;
    };
    exporter->printJob = [] { return nullptr; };
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    QTest::mouseClick(control<QToolButton>(form, "btSaveChart"), Qt::LeftButton);
    EXPECT_EQ(copies, 1);
    const QList<QAction *> items = control<QMenu>(form, "pmChart")->actions();
    ASSERT_EQ(items.size(), 7); // with the readout's switch and the cursors' entries
    EXPECT_EQ(items[0]->text(), QStringLiteral("Копировать"));
    items[0]->trigger();
    EXPECT_EQ(copies, 2);

    // The print button without a default printer, and "Печать…" always: the print dialog.
    int dialogs = 0;
    exporter->dialogJob = [&]() -> std::unique_ptr<PrintJob> {
        ++dialogs;
        return nullptr;
    };
    QTest::mouseClick(control<QToolButton>(form, "btPrint"), Qt::LeftButton);
    EXPECT_EQ(dialogs, 1);
    exporter->printJob = [] {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(QStringLiteral("/dev/null"));
        return std::make_unique<PrinterJob>(std::move(printer));
    };
    form.findChild<QAction *>(QStringLiteral("actPrint"))->trigger();
    EXPECT_EQ(dialogs, 2);
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('\n')));

    // "Экспорт в PDF…": one page with the chart on white; a file is replaced whole, and a
    // folder or a FIFO in its place is left as it was, with the cause named.
    const QString pdf = dir.filePath(QStringLiteral("chart.pdf"));
    QStringList names { pdf };
    exporter->choosePdfFile = [&] { return names.takeFirst(); };
    QAction *exportPdf = form.findChild<QAction *>(QStringLiteral("actExportPdf"));
    exportPdf->trigger();
    const QByteArray written = readFile(pdf);
    EXPECT_TRUE(written.startsWith("%PDF-"));
    EXPECT_EQ(written.count("/Type /Page\n") + written.count("/Type /Page\r"), 1);
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('\n')));
    // The status bar says where it went.
    EXPECT_EQ(statusBar(form)->panelText(0), QStringLiteral("Экспорт в PDF: chart.pdf"));

    const QString folder = dir.filePath(QStringLiteral("folder.pdf"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.pdf")));
    const QString fifo = dir.filePath(QStringLiteral("fifo.pdf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    names = { folder, fifo };
    exportPdf->trigger();
    exportPdf->trigger();
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages.at(0).contains(folder)) << qPrintable(messages.at(0));
    EXPECT_TRUE(messages.at(1).contains(fifo)) << qPrintable(messages.at(1));
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(QFileInfo(fifo).isFile(), false);
    EXPECT_EQ(readFile(pdf), written);
    names = { QString() }; // cancelled
    exportPdf->trigger();
    EXPECT_EQ(messages.size(), 2);
}
