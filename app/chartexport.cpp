#include "app/chartexport.h"

#include "app/windowoutput.h"
#include "app/writefailure.h"
#include "channelchart/chartpicture.h"
#include "channelchart/chartreport.h"
#include "chart/chart.h"
#include "files/datafile.h"
#include "files/folderbrowser.h"
#include "files/outputfile.h"

#include <QBuffer>
#include <QClipboard>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMimeData>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <dlfcn.h>
#include <exception>

namespace app {

namespace {

QString cannotOpenClipboard()
{
    return QCoreApplication::translate("app::ChartExport", "Не удаётся открыть буфер обмена");
}

// The print system's reason for the last request it refused on this thread (CUPS keeps its
// last error per thread; the toolkit's print engine hands the job over on this thread when
// painting ends and does not look at the outcome); empty when the request succeeded or CUPS
// is not in use. CUPS is asked through the library the toolkit has already loaded.
QString printSystemRefusal()
{
    void *cups = ::dlopen("libcups.so.2", RTLD_LAZY | RTLD_NOLOAD);
    if (!cups)
        return {};
    const auto status = reinterpret_cast<int (*)()>(::dlsym(cups, "cupsLastError"));
    const auto text = reinterpret_cast<const char *(*)()>(::dlsym(cups, "cupsLastErrorString"));
    // IPP's client and server errors begin at 0x0400; below are the successes.
    constexpr int FirstError = 0x0400;
    QString reason;
    if (status && text && status() >= FirstError)
        reason = QString::fromUtf8(text());
    ::dlclose(cups);
    return reason;
}

} // namespace

PrinterJob::PrinterJob(std::unique_ptr<QPrinter> printer)
    : m_printer(std::move(printer))
{
}

PrinterJob::~PrinterJob() = default;

QPaintDevice *PrinterJob::page()
{
    return m_file ? m_file->page() : static_cast<QPaintDevice *>(m_printer.get());
}

QString PrinterJob::errorString() const
{
    return m_file ? m_file->errorString() : m_error;
}

QString PrinterJob::destination() const
{
    if (m_printer->outputFormat() == QPrinter::PdfFormat)
        return m_printer->outputFileName();
    return m_printer->printerName();
}

QString PrinterJob::doneText() const
{
    if (m_printer->outputFormat() == QPrinter::PdfFormat)
        return QCoreApplication::translate("app::ChartExport", "Печать в файл: %1")
            .arg(files::namePart(m_printer->outputFileName()));
    return QCoreApplication::translate("app::ChartExport", "Отправлено на печать: %1")
        .arg(m_printer->printerName());
}

bool PrinterJob::begin(QPainter &painter, const QString &title)
{
    if (m_printer->outputFormat() == QPrinter::PdfFormat) {
        m_file = std::make_unique<PdfFileJob>(
            m_printer->outputFileName(), m_printer->pageLayout(), m_printer->resolution());
        return m_file->begin(painter, title);
    }
    m_printer->setDocName(title);
    if (painter.begin(m_printer.get()) && m_printer->printerState() != QPrinter::Error)
        return true;
    if (painter.isActive())
        painter.end();
    m_error = QCoreApplication::translate(
        "app::ChartExport", "Не удаётся начать задание печати на «%1»")
                  .arg(destination());
    return false;
}

bool PrinterJob::end(QPainter &painter)
{
    if (m_file)
        return m_file->end(painter);
    // The job is handed to the print system when painting ends.
    const bool ended = painter.end();
    const QString refusal = printSystemRefusal();
    if (ended && refusal.isEmpty() && m_printer->printerState() != QPrinter::Error
        && m_printer->printerState() != QPrinter::Aborted)
        return true;
    m_error = refusal.isEmpty() ? QCoreApplication::translate(
                  "app::ChartExport", "Не удаётся отправить задание печати на «%1»")
                                      .arg(destination())
                                : QCoreApplication::translate("app::ChartExport",
                                    "Не удаётся отправить задание печати на «%1»: %2")
                                      .arg(destination(), refusal);
    return false;
}

void PrinterJob::abort(QPainter &painter)
{
    if (m_file) {
        m_file->abort(painter);
        return;
    }
    m_printer->abort();
    if (painter.isActive())
        painter.end();
}

std::unique_ptr<PrintJob> defaultPrinterJob()
{
    const QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull())
        return nullptr;
    auto printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    printer->setPageLayout(chart::reportPageLayout());
    return std::make_unique<PrinterJob>(std::move(printer));
}

// The PDF of the page, kept in memory until the job ends.
class PdfFileJob::Writer
{
public:
    Writer(const QPageLayout &layout, int resolution)
        : pdf(&buffer)
    {
        buffer.open(QIODevice::WriteOnly);
        pdf.setResolution(resolution);
        pdf.setPageLayout(layout);
        pdf.setCreator(QStringLiteral("Ferrun"));
    }
    QByteArray bytes;
    QBuffer buffer { &bytes };
    QPdfWriter pdf;
};

PdfFileJob::PdfFileJob(const QString &fileName)
    : PdfFileJob(fileName, chart::reportPageLayout(), 1200)
{
}

PdfFileJob::PdfFileJob(const QString &fileName, const QPageLayout &layout, int resolution)
    : m_fileName(fileName)
    , m_writer(std::make_unique<Writer>(layout, resolution))
{
}

PdfFileJob::~PdfFileJob() = default;

QPaintDevice *PdfFileJob::page()
{
    return &m_writer->pdf;
}

bool PdfFileJob::begin(QPainter &painter, const QString &title)
{
    m_writer->pdf.setTitle(title);
    if (painter.begin(&m_writer->pdf))
        return true;
    m_error = QCoreApplication::translate("app::ChartExport", "Не удаётся начать файл PDF %1")
                  .arg(m_fileName);
    return false;
}

QString PdfFileJob::doneText() const
{
    return QCoreApplication::translate("app::ChartExport", "Экспорт в PDF: %1")
        .arg(files::namePart(m_fileName));
}

bool PdfFileJob::end(QPainter &painter)
{
    painter.end();
    files::OutputFile out;
    if (!out.open(m_fileName, WindowOutput)) {
        m_error = writeFailureText(files::SaveFailure::CannotCreate, m_fileName, out.errorNumber());
        return false;
    }
    if (out.write(m_writer->bytes) && out.commit())
        return true;
    m_error = writeFailureText(files::SaveFailure::CannotWrite, m_fileName, out.errorNumber());
    return false;
}

void PdfFileJob::abort(QPainter &painter)
{
    if (painter.isActive())
        painter.end();
}

bool putOnClipboard(std::unique_ptr<QMimeData> data)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    const QStringList formats = data->formats();
    clipboard->setMimeData(data.release());
    // The platform may have refused the entry (another program holds the clipboard): what
    // the clipboard offers now tells.
    const QMimeData *now = clipboard->mimeData();
    if (!now)
        return false;
    for (const QString &format : formats)
        if (!now->hasFormat(format))
            return false;
    return true;
}

ChartExport::ChartExport(
    chart::TChart *chart, std::function<void(const QString &)> showMessage, QObject *parent)
    : QObject(parent)
    , m_chart(chart)
    , m_showMessage(std::move(showMessage))
{
    setObjectName(QStringLiteral("ChartExport"));
    dialogJob = [this]() -> std::unique_ptr<PrintJob> {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        // The report's page is offered; the user may choose another in the dialog.
        printer->setPageLayout(chart::reportPageLayout());
        QPrintDialog dialog(printer.get(), m_chart->window());
        dialog.setWindowTitle(tr("Печать"));
        if (dialog.exec() != QDialog::Accepted)
            return nullptr;
        return std::make_unique<PrinterJob>(std::move(printer));
    };
    choosePdfFile = [this] {
        return QFileDialog::getSaveFileName(m_chart->window(), tr("Экспорт в PDF"), QString(),
            QStringLiteral("PDF (*.pdf)"), nullptr, QFileDialog::DontUseNativeDialog);
    };
}

void ChartExport::btPrintClick()
{
    std::unique_ptr<PrintJob> job = printJob ? printJob() : nullptr;
    if (!job) {
        // No default printer: the user picks one, or a PDF file, in the dialog.
        printWithDialog();
        return;
    }
    print(std::move(job));
}

void ChartExport::printWithDialog()
{
    if (std::unique_ptr<PrintJob> job = dialogJob ? dialogJob() : nullptr)
        print(std::move(job));
}

void ChartExport::exportPdfClick()
{
    const QString name = choosePdfFile ? choosePdfFile() : QString();
    if (!name.isEmpty())
        print(std::make_unique<PdfFileJob>(name));
}

void ChartExport::print(std::unique_ptr<PrintJob> job)
{
    chart::Report page;
    if (report)
        page = report();
    if (page.title.isEmpty())
        page.title = m_chart->objectName();
    QPainter painter;
    if (!job->begin(painter, page.title)) {
        m_showMessage(job->errorString());
        return;
    }
    try {
        chart::paintReport(painter, *job->page(), *m_chart, page);
    } catch (const std::exception &e) {
        job->abort(painter);
        m_showMessage(QString::fromLocal8Bit(e.what()));
        return;
    }
    if (!job->end(painter)) {
        m_showMessage(job->errorString());
        return;
    }
    if (showStatus)
        showStatus(job->doneText());
}

std::unique_ptr<QMimeData> ChartExport::chartPicture()
{
    // The SVG titled with the chart's name; the PNG the same picture in pixels, as the
    // screen shows it but for the background.
    chart::Report named;
    named.title = m_chart->objectName();
    auto data = std::make_unique<QMimeData>();
    for (const chart::PictureFormat format :
        { chart::PictureFormat::Svg, chart::PictureFormat::Png })
        data->setData(chart::mimeType(format), chart::picture(*m_chart, format, named));
    return data;
}

void ChartExport::btSaveChartClick()
{
    std::unique_ptr<QMimeData> data = chartPicture();
    if (!clipboard || !clipboard(std::move(data)))
        m_showMessage(cannotOpenClipboard());
}

} // namespace app
