#pragma once

#include <QMimeData>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QPageLayout;
class QPainter;
class QPaintDevice;
class QPrinter;

namespace chart {
class TChart;
struct Report;
} // namespace chart

namespace app {

// One print job on a page: what btPrint needs from the print system. Replaceable, so that
// tests print into a file or an image, or have a job that fails.
class PrintJob
{
public:
    virtual ~PrintJob() = default;
    // The page; its width and height are the paintable area in device pixels.
    virtual QPaintDevice *page() = 0;
    // Starts the job titled title with painter on the page; false when it cannot start.
    virtual bool begin(QPainter &painter, const QString &title) = 0;
    // Ends the job and hands it to the print system; false when that fails.
    virtual bool end(QPainter &painter) = 0;
    // Abandons the job after a failure while drawing: nothing is printed.
    virtual void abort(QPainter &painter) = 0;
    // Why begin or end failed, in the print system's words.
    virtual QString errorString() const = 0;
    // Where the page went, for the status bar: "Отправлено на печать: …", "Экспорт в PDF: …".
    virtual QString doneText() const { return {}; }
};

class PdfFileJob;

// A job on a Qt printer: the desktop's print system (CUPS), or a PDF file (the print dialog's
// "print to file"), which is written as every save of the window is, by a PdfFileJob on the
// printer's page. A job the print system refuses is reported with the print system's reason.
class PrinterJob : public PrintJob
{
public:
    explicit PrinterJob(std::unique_ptr<QPrinter> printer);
    ~PrinterJob() override;

    QPrinter &printer() { return *m_printer; }
    QPaintDevice *page() override;
    bool begin(QPainter &painter, const QString &title) override;
    bool end(QPainter &painter) override;
    void abort(QPainter &painter) override;
    QString errorString() const override;
    QString doneText() const override;

private:
    QString destination() const;

    std::unique_ptr<QPrinter> m_printer;
    // The file of a printer that prints into a PDF file, from begin on.
    std::unique_ptr<PdfFileJob> m_file;
    QString m_error;
};

// A job on the default printer of the print system, or nullptr when none is selected. Its page
// is landscape A4, the report's.
std::unique_ptr<PrintJob> defaultPrinterJob();

// A job on a PDF file of one page (landscape A4 unless given), titled in its metadata, written
// once the page is done as every save of the window is (WindowOutput: a file replaced whole;
// a device or FIFO refused); a failure names the system's reason (app/writefailure.h).
class PdfFileJob : public PrintJob
{
public:
    explicit PdfFileJob(const QString &fileName);
    PdfFileJob(const QString &fileName, const QPageLayout &layout, int resolution);
    ~PdfFileJob() override;
    QPaintDevice *page() override;
    bool begin(QPainter &painter, const QString &title) override;
    bool end(QPainter &painter) override;
    void abort(QPainter &painter) override;
    QString errorString() const override { return m_error; }
    QString doneText() const override;

private:
    class Writer;
    QString m_fileName;
    std::unique_ptr<Writer> m_writer;
    QString m_error;
};

// Puts data on the system clipboard, replacing its contents; false when the clipboard did
// not take it.
bool putOnClipboard(std::unique_ptr<QMimeData> data);

// Printing and copying the window's chart: btPrint, btSaveChart and the "Копировать" item
// of pmChart. Print and PDF export make the same page, the recording's report
// (channelchart/chartreport.h): what `report` gives, with the chart.
class ChartExport : public QObject
{
    Q_OBJECT

public:
    // showMessage tells the user of a failure (an information box in the window).
    ChartExport(chart::TChart *chart, std::function<void(const QString &)> showMessage,
        QObject *parent = nullptr);

    // Where print jobs and the clipboard's contents go; tests replace them. `dialogJob` is
    // the system's print dialog (printing to a PDF file offered): nullptr when cancelled.
    // `choosePdfFile` names the file of "Экспорт в PDF…": empty when cancelled.
    std::function<std::unique_ptr<PrintJob>()> printJob = defaultPrinterJob;
    std::function<std::unique_ptr<PrintJob>()> dialogJob;
    std::function<QString()> choosePdfFile;
    std::function<bool(std::unique_ptr<QMimeData>)> clipboard = putOnClipboard;
    // The report's texts (the file's name, date, figures, comment, cursors' table); without
    // it the page has the chart's name as its heading and nothing else but the chart.
    std::function<chart::Report()> report;
    // The status bar's first panel: where a page went.
    std::function<void(const QString &)> showStatus;

    // btPrint: the report on a landscape A4 page of the default printer, as one job titled
    // with the report's title, the chart on white. Without a default printer (usual on a
    // Linux desktop) the print dialog opens instead.
    void btPrintClick();
    // "Печать…": always the print dialog (landscape A4 offered).
    void printWithDialog();
    // "Экспорт в PDF…": the same page into a PDF file.
    void exportPdfClick();
    // btSaveChart and "Копировать": the chart on a white background as one clipboard entry
    // in two formats, SVG (image/svg+xml, for office suites and vector editors) and PNG.
    void btSaveChartClick();

    // The clipboard entry of btSaveChartClick: the chart's picture over its client bounds,
    // with a white background; the chart's own colour is back when it returns.
    std::unique_ptr<QMimeData> chartPicture();

private:
    void print(std::unique_ptr<PrintJob> job);

    chart::TChart *m_chart;
    std::function<void(const QString &)> m_showMessage;
};

} // namespace app
