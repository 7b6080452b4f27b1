// The whole program as a user meets it: the real window on a real X display (Xvfb), driven by
// mouse and key events, measuring on the built-in board simulator over a pseudo-terminal,
// saving and opening files in a temporary folder, copying through the X clipboard as other
// programs see it, and printing through a CUPS daemon of the test's own into a PDF.
#include "acquisition/cyclerun.h"
#include "acquisition/measurementsession.h"
#include "app/contexthelp.h"
#include "app/cyclecontrol.h"
#include "app/filecontrol.h"
#include "app/form1.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "files/datafile.h"
#include "files/inifile.h"
#include "files/settings.h"
#include "tests/acceptance/cupsqueue.h"
#include "tests/app/controls.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QSvgRenderer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QXmlStreamReader>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <ostream>
#include <set>

inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using acquisition::SessionState;
using app::TForm1;
using files::ChannelId;

const QString Drawing = QStringLiteral("ПОСТРОЕНИЕ ГРАФИКА");
const QString Measuring = QStringLiteral("ИЗМЕРЕНИЕ");
const QString NoMoreFiles = QStringLiteral("Больше нет файлов");

// What the progress panel showed while a measurement ran, sampled every 20 ms.
struct ProgressSample
{
    QString status; // first status panel
    bool panelShown = false;
    int position = 0;
    int maximum = 0;
    QString elapsed;
};

// The recording's data, the comment and the header of a saved file.
files::DataFile readBack(const QString &path)
{
    files::DataFile file;
    QString error;
    EXPECT_EQ(files::readDataFile(path, &file, &error), files::DataFileStatus::Ok)
        << qPrintable(path) << ": " << qPrintable(error);
    return file;
}

// Runs the event loop until `done` holds or `timeoutMs` have passed; true when it holds. The
// loop waits for events (QTest::qWaitFor sleeps 10 ms between its rounds, which would hold up
// each of the transfer's hundreds of request-and-reply rounds).
bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(5);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

// Runs an X client asynchronously while this process keeps serving its own clipboard, and
// returns its output.
QByteArray runXClient(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return {};
    const bool done = waitUntil([&] { return process.state() == QProcess::NotRunning; }, 10000);
    if (!done) {
        process.kill();
        process.waitForFinished();
        ADD_FAILURE() << qPrintable(program) << " did not finish";
        return {};
    }
    EXPECT_EQ(process.exitCode(), 0) << qPrintable(process.readAllStandardError());
    return process.readAllStandardOutput();
}

// The clipboard's content in `format`, read by another program.
QByteArray clipboardAs(const QString &format)
{
    return runXClient(QStringLiteral("xclip"),
        { QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
            QStringLiteral("-t"), format });
}

class Acceptance : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            GTEST_SKIP() << "needs the X display of xvfb-run (platform is "
                         << qPrintable(QGuiApplication::platformName()) << ")";
        ASSERT_TRUE(dir.isValid());
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
        // The dialogs' "Mersklad" folder and anything else relative lands in the temporary
        // folder.
        previousFolder = QDir::currentPath();
        QDir::setCurrent(dir.path());
        data = dir.filePath(QStringLiteral("Mersklad"));
        QDir().mkpath(data);
    }

    void TearDown() override
    {
        if (form)
            form->close();
        form.reset();
        if (!previousFolder.isEmpty())
            QDir::setCurrent(previousFolder);
    }

    // The window as `ferrun --simulator` opens it on a first run (no settings file), shown
    // and active; its message boxes and file dialogs answer from the test's lists.
    TForm1 &open()
    {
        app::FormEnvironment environment;
        environment.showMessage = [this](const QString &text) { messages << text; };
        environment.sysfsRoot = dir.filePath(QStringLiteral("no-sys"));
        environment.devRoot = dir.filePath(QStringLiteral("no-dev"));
        app::AppOptions options;
        options.simulator = true;
        form = std::make_unique<TForm1>(
            dir.filePath(QStringLiteral("Ferrun.ini")), options, environment);
        form->fileControl().chooseSaveFile
            = [this](const QString &) -> std::optional<app::SaveChoice> {
            if (saveNames.empty()) {
                ADD_FAILURE() << "unexpected save dialog";
                return std::nullopt;
            }
            const QString name = saveNames.front();
            saveNames.pop_front();
            return app::SaveChoice { name, app::SaveFilter::AdcFiles };
        };
        form->fileControl().chooseOpenFile = [this]() -> QString {
            if (openNames.empty()) {
                ADD_FAILURE() << "unexpected open dialog";
                return {};
            }
            const QString name = openNames.front();
            openNames.pop_front();
            return name;
        };
        // Closing with a recording not saved asks; the tests' windows give it up.
        form->askSaveRecording = [] { return app::SaveAnswer::Discard; };
        form->show();
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        return *form;
    }

    // Key presses carrying each character of `text`, as a keyboard with a Russian layout
    // sends them.
    static void typeText(QWidget *widget, const QString &text)
    {
        for (const QChar ch : text) {
            const auto key = Qt::Key(ch.toUpper().unicode());
            QTest::sendKeyEvent(QTest::Press, widget, key, QString(ch), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, widget, key, QString(ch), Qt::NoModifier);
        }
    }

    static void click(QAbstractButton *button)
    {
        ASSERT_TRUE(button->isVisible()) << qPrintable(button->objectName());
        ASSERT_TRUE(button->isEnabled()) << qPrintable(button->objectName());
        QTest::mouseClick(button, Qt::LeftButton);
    }

    // Types `text` over the field's contents, as a user does after a click into it.
    static void typeInto(QWidget *field, const QString &text)
    {
        QTest::mouseClick(field, Qt::LeftButton);
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        typeText(field, text);
    }

    // Types a comment of several lines into the comment box, replacing what it held.
    void writeComment(const QStringList &lines)
    {
        QPlainTextEdit *box = control<QPlainTextEdit>(*form, "mComment");
        QTest::mouseClick(box->viewport(), Qt::LeftButton);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_Delete);
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0)
                QTest::keyClick(box, Qt::Key_Return);
            typeText(box, lines.at(i));
        }
        ASSERT_EQ(box->toPlainText(), lines.join(QLatin1Char('\n')));
    }

    // The frequency/time panel: a frequency typed into "Fвыборки, Гц".
    void chooseFrequency(int hertz)
    {
        TForm1 &f = *form;
        if (!control<QGroupBox>(f, "gbFT")->isVisible())
            click(control<QToolButton>(f, "btChooseF"));
        ASSERT_TRUE(control<QGroupBox>(f, "gbFT")->isVisible());
        typeInto(control<app::SpinEdit>(f, "seF"), QString::number(hertz));
        ASSERT_EQ(control<app::SpinEdit>(f, "seF")->value(), hertz);
    }

    // "ПУСК ИЗМЕРЕНИЯ" of the panel, then waits until the recording is drawn, sampling the
    // progress panel meanwhile.
    std::vector<ProgressSample> measure(int timeoutMs)
    {
        TForm1 &f = *form;
        std::vector<ProgressSample> samples;
        QTimer sampler;
        sampler.setInterval(20);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            samples.push_back(
                { statusBar(f)->panelText(0), control<QWidget>(f, "Panel1")->isVisible(),
                    control<QProgressBar>(f, "progressBar")->value(),
                    control<QProgressBar>(f, "progressBar")->maximum(),
                    control<QLabel>(f, "lElapsed")->text() });
        });
        sampler.start();
        click(control<QPushButton>(f, "btStart"));
        EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
        EXPECT_TRUE(waitUntil(
            [&] {
                return f.session().state() == SessionState::Idle
                    && statusBar(f)->panelText(0) == Drawing;
            },
            timeoutMs))
            << "status: " << qPrintable(statusBar(f)->panelText(0));
        sampler.stop();
        return samples;
    }

    // Every thermocouple whose box is checked, and the photodiode, has a line.
    void expectCurves(int checkedThermocouples)
    {
        TForm1 &f = *form;
        int lines = 0;
        for (int i = 0; i < 8; ++i) {
            const auto channel = ChannelId(i);
            if (i < 7 && !channelBox(f, i)->isChecked())
                continue;
            EXPECT_TRUE(f.seriesActive(channel)) << i;
            EXPECT_GT(f.series(channel)->Count(), 100) << i;
            ++lines;
        }
        EXPECT_EQ(lines, checkedThermocouples + 1);
        // The lines are on the screen: the chart as painted holds each checked line's colour.
        const QImage screen = chartOf(f)->grab().toImage().convertToFormat(QImage::Format_RGB32);
        std::set<QRgb> seen;
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x)
                seen.insert(screen.pixel(x, y) & 0xFFFFFF);
        int shown = 0;
        for (int i = 0; i < 8; ++i)
            if (f.seriesActive(ChannelId(i))
                && seen.count(f.seriesColor(ChannelId(i)).rgb() & 0xFFFFFF))
                ++shown;
        EXPECT_GE(shown, lines - 1) << "colours of the lines found on the screen";
    }

    QTemporaryDir dir;
    QString previousFolder;
    QString data; // where the user keeps the recordings
    std::unique_ptr<TForm1> form;
    QStringList messages;
    std::deque<QString> saveNames;
    std::deque<QString> openNames;
};

} // namespace

// Two measurements saved with their comments, then found again by opening, stepping through
// the folder and searching the catalogue; the comment and the chart copied to the clipboard.
TEST_F(Acceptance, MeasureSaveBrowseSearchAndCopy)
{
    QElapsedTimer clock;
    clock.start();
    TForm1 &f = open();
    ASSERT_TRUE(
        waitUntil([&] { return control<QToolButton>(f, "btStartPlus")->isEnabled(); }, 5000))
        << "the simulated board was not found";
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('|')));

    // 100000 Hz over the whole memory: 2.4 s of recording, long enough for the progress panel.
    chooseFrequency(100000);
    EXPECT_EQ(control<app::SpinEdit>(f, "seTime")->value(), 2400);
    EXPECT_EQ(control<app::SpinEdit>(f, "seSamples")->value(), 240000);
    const std::vector<ProgressSample> progress = measure(30000);
    ASSERT_FALSE(progress.empty());
    // The panel advanced during the recording: shown, its bar and its elapsed time moving on.
    std::set<int> positions;
    std::set<QString> elapsed;
    bool transferShown = false;
    for (const ProgressSample &s : progress) {
        if (s.status == Measuring && s.panelShown) {
            positions.insert(s.position);
            elapsed.insert(s.elapsed);
        }
        if (s.status.startsWith(QStringLiteral("ПЕРЕДАЧА МАССИВА")))
            transferShown = true;
    }
    EXPECT_GE(positions.size(), 2u) << "progress bar positions while measuring";
    EXPECT_TRUE(elapsed.count(QStringLiteral("00:00")) && elapsed.count(QStringLiteral("00:01")));
    EXPECT_TRUE(transferShown);
    EXPECT_FALSE(control<QWidget>(f, "Panel1")->isVisible());
    EXPECT_EQ(f.recording().data.size(), 8 * 60000);
    expectCurves(7);
    const QByteArray first = f.recording().data;
    const int firstPoints = f.series(ChannelId::T1)->Count();

    const QStringList firstComment { QStringLiteral("Нагрев образца №1"),
        QStringLiteral("феррит, печь на 60 °C") };
    writeComment(firstComment);
    const QString runA = QDir(data).filePath(QStringLiteral("run-a.kdx"));
    saveNames.push_back(runA);
    click(control<QToolButton>(f, "btSave"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ run-a.kdx"));
    {
        const files::DataFile saved = readBack(runA);
        EXPECT_EQ(saved.data, first);
        EXPECT_EQ(saved.header.ChartChannelBits, 0x7F);
        EXPECT_EQ(saved.comment(), firstComment.join(QStringLiteral("\r\n")));
    }

    // A second, shorter measurement without T7 and with a comment of its own.
    click(channelBox(f, 6));
    ASSERT_FALSE(channelBox(f, 6)->isChecked());
    chooseFrequency(240000);
    measure(30000);
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("Комментарий"));
    expectCurves(6);
    EXPECT_FALSE(f.seriesActive(ChannelId::T7));
    const QByteArray second = f.recording().data;
    writeComment({ QStringLiteral("Остывание образца №2") });
    const QString runB = QDir(data).filePath(QStringLiteral("run-b.kdx"));
    saveNames.push_back(runB);
    click(control<QToolButton>(f, "btSave"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ run-b.kdx"));
    EXPECT_EQ(readBack(runB).header.ChartChannelBits, 0x3F);

    // Reopening the first: its recording, channels and comment come back.
    openNames.push_back(runA);
    click(control<QToolButton>(f, "btLoadFile"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ run-a.kdx"));
    EXPECT_EQ(f.recording().data, first);
    EXPECT_TRUE(channelBox(f, 6)->isChecked());
    EXPECT_EQ(f.series(ChannelId::T1)->Count(), firstPoints);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(),
        firstComment.join(QLatin1Char('\n')));
    expectCurves(7);

    // Next and Previous step through the folder, without wrapping around.
    click(control<QToolButton>(f, "btNextFile"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ run-b.kdx"));
    EXPECT_EQ(f.recording().data, second);
    EXPECT_FALSE(channelBox(f, 6)->isChecked());
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(),
        QStringLiteral("Остывание образца №2"));
    click(control<QToolButton>(f, "btNextFile"));
    EXPECT_EQ(messages, QStringList { NoMoreFiles });
    messages.clear();
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ run-b.kdx"));
    click(control<QToolButton>(f, "btPrevFile"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ run-a.kdx"));
    EXPECT_EQ(f.recording().data, first);
    click(control<QToolButton>(f, "btNextFile"));
    EXPECT_EQ(f.recording().data, second);

    // The catalogue lists both files; a word of the first comment, typed in another letter
    // case, finds its line, and a double click on it opens the first file.
    click(control<QToolButton>(f, "btShowCmnt"));
    ASSERT_TRUE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
    const QString listed = control<QPlainTextEdit>(f, "MAllCmnt")->toPlainText();
    EXPECT_TRUE(listed.contains(QStringLiteral("=v=run-a.kdx=v=\nНагрев образца №1")));
    EXPECT_TRUE(listed.contains(QStringLiteral("=v=run-b.kdx=v=\nОстывание образца №2")));
    EXPECT_FALSE(control<QCheckBox>(f, "chkCaps")->isChecked());
    typeInto(control<QLineEdit>(f, "eFind"), QStringLiteral("НАГРЕВ"));
    click(control<QPushButton>(f, "btFind"));
    const QTextCursor found = control<QPlainTextEdit>(f, "MAllCmnt")->textCursor();
    EXPECT_EQ(found.selectedText(), firstComment.at(0));
    QTest::mouseDClick(control<QPlainTextEdit>(f, "MAllCmnt")->viewport(), Qt::LeftButton, {},
        control<QPlainTextEdit>(f, "MAllCmnt")->cursorRect(found).center());
    EXPECT_FALSE(control<QGroupBox>(f, "gbAllCmnt")->isVisible());
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ run-a.kdx"));
    EXPECT_EQ(f.recording().data, first);
    EXPECT_EQ(control<QPlainTextEdit>(f, "mComment")->toPlainText(),
        firstComment.join(QLatin1Char('\n')));

    // The comment copied: other programs read it with the file's name and date.
    click(control<QToolButton>(f, "btCopy"));
    const QString copied = QString::fromUtf8(clipboardAs(QStringLiteral("UTF8_STRING")));
    EXPECT_TRUE(copied.startsWith(firstComment.at(0))) << qPrintable(copied);
    EXPECT_TRUE(copied.contains(firstComment.at(1))) << qPrintable(copied);
    EXPECT_TRUE(copied.contains(runA + QStringLiteral("  "))) << qPrintable(copied);

    // The chart copied by the chart's context menu replaces the text on the clipboard.
    QTest::mouseClick(chartOf(f), Qt::RightButton, {}, chartOf(f)->rect().center());
    ASSERT_TRUE(waitUntil([&] { return control<QMenu>(f, "pmChart")->isVisible(); }, 5000));
    QAction *copyItem = control<QMenu>(f, "pmChart")->actions().value(0);
    ASSERT_TRUE(copyItem);
    EXPECT_EQ(copyItem->text(), QStringLiteral("Копировать"));
    QTest::mouseClick(control<QMenu>(f, "pmChart"), Qt::LeftButton, {},
        control<QMenu>(f, "pmChart")->actionGeometry(copyItem).center());
    EXPECT_TRUE(waitUntil([&] { return !control<QMenu>(f, "pmChart")->isVisible(); }, 5000));
    {
        const QByteArray targets = clipboardAs(QStringLiteral("TARGETS"));
        EXPECT_TRUE(targets.contains("image/svg+xml")) << targets.constData();
        EXPECT_TRUE(targets.contains("image/png")) << targets.constData();
        EXPECT_FALSE(targets.contains("UTF8_STRING")) << targets.constData();
    }

    // The chart copied by its button: one clipboard entry offered as SVG and as PNG.
    const QColor screenColour = chartOf(f)->Color();
    click(control<QToolButton>(f, "btSaveChart"));
    EXPECT_EQ(chartOf(f)->Color(), screenColour);
    const QByteArray targets = clipboardAs(QStringLiteral("TARGETS"));
    EXPECT_TRUE(targets.contains("image/svg+xml")) << targets.constData();
    EXPECT_TRUE(targets.contains("image/png")) << targets.constData();
    const QByteArray svg = clipboardAs(QStringLiteral("image/svg+xml"));
    QSvgRenderer renderer(svg);
    EXPECT_TRUE(renderer.isValid());
    int polylines = 0;
    QXmlStreamReader xml(svg);
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement
            && xml.name() == QStringLiteral("polyline"))
            ++polylines;
    EXPECT_FALSE(xml.hasError()) << qPrintable(xml.errorString());
    EXPECT_GE(polylines, 8) << "one polyline at least for each of the eight lines";
    const QImage png = QImage::fromData(clipboardAs(QStringLiteral("image/png")), "PNG");
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.size(), chartOf(f)->size());
    EXPECT_EQ(png.pixelColor(2, 2), QColor(Qt::white));

    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('|')));
    std::cout << "[ figures  ] user session: " << clock.elapsed() << " ms\n";
}

// The report printed without a dialog on the default printer, a real CUPS queue writing PDF:
// one job titled with the recording's name, the chart across the landscape page under the
// heading and the sampling figures.
TEST_F(Acceptance, PrintsOnTheDefaultCupsQueue)
{
    const QString unavailable = acceptance::CupsQueue::unavailableReason();
    if (!unavailable.isEmpty())
        GTEST_SKIP() << "printing not tested: " << qPrintable(unavailable);
    acceptance::CupsQueue queue;
    QString error;
    ASSERT_TRUE(queue.start(&error)) << qPrintable(error);

    TForm1 &f = open();
    ASSERT_TRUE(
        waitUntil([&] { return control<QToolButton>(f, "btStartPlus")->isEnabled(); }, 5000));
    chooseFrequency(240000);
    measure(30000);
    expectCurves(7);

    QElapsedTimer clock;
    clock.start();
    click(control<QToolButton>(f, "btPrint"));
    const qint64 sendMs = clock.elapsed();
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('|')));
    // The job was handed over when the click returned: the daemon knows it.
    EXPECT_EQ(queue.jobs(false).size() + queue.jobs(true).size(), 1);
    ASSERT_TRUE(waitUntil(
        [&] { return queue.jobs(false).isEmpty() && queue.jobs(true).size() == 1; }, 30000))
        << qPrintable(queue.errorLog());
    const qint64 writtenMs = clock.elapsed();

    const QFileInfoList pdfs
        = QDir(queue.pdfFolder()).entryInfoList({ QStringLiteral("*.pdf") }, QDir::Files);
    ASSERT_EQ(pdfs.size(), 1) << qPrintable(queue.errorLog());
    // The writer names the file after the job's title, each byte beyond ASCII written as its
    // octal escape with the backslash made an underscore: "Новая запись" begins "320_235_".
    QString titled;
    for (const char c : QStringLiteral("Новая").toUtf8())
        titled += QStringLiteral("%1_").arg(quint8(c), 3, 8, QChar(u'0'));
    EXPECT_TRUE(pdfs.at(0).fileName().startsWith(titled)) << qPrintable(pdfs.at(0).fileName());

    // The first page as an image at 36 dpi.
    const QString prefix = dir.filePath(QStringLiteral("page"));
    QProcess render;
    render.start(QStandardPaths::findExecutable(QStringLiteral("pdftoppm")),
        { QStringLiteral("-r"), QStringLiteral("36"), QStringLiteral("-f"), QStringLiteral("1"),
            QStringLiteral("-l"), QStringLiteral("1"), QStringLiteral("-png"),
            QStringLiteral("-singlefile"), pdfs.at(0).filePath(), prefix });
    ASSERT_TRUE(render.waitForFinished(30000));
    ASSERT_EQ(render.exitCode(), 0) << render.readAllStandardError().left(500).constData();
    const QImage page
        = QImage(prefix + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(page.isNull());

    // Ink: anything darker than light grey or clearly coloured. Lines: the clearly coloured
    // (the default colours of the thermocouples), on the white of the page.
    QRect ink, lines;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x) {
            const QColor c = page.pixelColor(x, y);
            const int spread = std::max({ c.red(), c.green(), c.blue() })
                - std::min({ c.red(), c.green(), c.blue() });
            if (qGray(c.rgb()) < 200 || spread > 60)
                ink |= QRect(x, y, 1, 1);
            if (spread > 60)
                lines |= QRect(x, y, 1, 1);
        }
    ASSERT_FALSE(lines.isEmpty()) << "no line of the chart on the page";
    // The page is landscape; the queue's writer puts it turned on a portrait sheet. Along the
    // page's long side the chart's lines span most of it; across, the heading and the
    // sampling figures add to what the chart takes.
    const bool turned = page.height() > page.width();
    const int longSide = turned ? page.height() : page.width();
    const int shortSide = turned ? page.width() : page.height();
    const int linesAlong = turned ? lines.height() : lines.width();
    const int linesAcross = turned ? lines.width() : lines.height();
    const int inkAcross = turned ? ink.width() : ink.height();
    EXPECT_GE(linesAlong, longSide * 7 / 10)
        << "the lines span " << linesAlong << " of " << longSide;
    EXPECT_GE(linesAcross, shortSide * 4 / 10)
        << "the lines span " << linesAcross << " of " << shortSide;
    EXPECT_GE(inkAcross, linesAcross + shortSide / 10)
        << "the page's ink spans " << inkAcross << " across, the lines " << linesAcross;
    EXPECT_LE(inkAcross, shortSide);

    std::cout << "[ figures  ] print: click to job accepted " << sendMs
              << " ms, click to PDF written " << writtenMs << " ms\n";
    RecordProperty("print_send_ms", int(sendMs));

    // A queue that takes no jobs: the print system's reason is named, and no job is made.
    ASSERT_TRUE(queue.client(QStringLiteral("cupsreject"), { queue.name() }, &error))
        << qPrintable(error);
    click(control<QToolButton>(f, "btPrint"));
    const QString refused
        = QStringLiteral("Не удаётся отправить задание печати на «%1»: ").arg(queue.name());
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.at(0).startsWith(refused)) << qPrintable(messages.at(0));
    EXPECT_GT(messages.at(0).size(), refused.size()) << "no reason";
    EXPECT_EQ(queue.jobs(false).size() + queue.jobs(true).size(), 1);
    queue.stop();
}

// A cycle run of three cycles, stopped with "Стоп" and saved as one file per cycle.
TEST_F(Acceptance, CycleRunSavedPerCycle)
{
    TForm1 &f = open();
    ASSERT_TRUE(
        waitUntil([&] { return control<QToolButton>(f, "btStartPlus")->isEnabled(); }, 5000));
    chooseFrequency(160000);
    click(control<QToolButton>(f, "btChooseF")); // closes the panel again
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_FALSE(control<QCheckBox>(f, "cb1file")->isChecked());
    writeComment({ QStringLiteral("Цикл из трёх измерений") });

    // What the third status panel reads as each transfer begins.
    QStringList cycleTexts;
    QObject::connect(&f.session(), &acquisition::MeasurementSession::stateChanged, &f.session(),
        [&](SessionState state) {
            const QString text = statusBar(f)->panelText(2);
            if (state == SessionState::Transferring && !text.isEmpty())
                cycleTexts << text;
        });
    acquisition::CycleRun &run = f.cycleControl().run();
    // "Стоп" is pressed as soon as the third cycle has been stored, whatever the load of the
    // machine.
    QObject::connect(&run, &acquisition::CycleRun::cycleStored, &run, [&](int stored) {
        if (stored == 3)
            QTimer::singleShot(0, control<QToolButton>(f, "btCycle"),
                [&] { click(control<QToolButton>(f, "btCycle")); });
    });
    click(control<QToolButton>(f, "btCycle"));
    EXPECT_EQ(control<QToolButton>(f, "btCycle")->text(), QStringLiteral("Стоп"));
    EXPECT_EQ(control<app::SpinEdit>(f, "seSamples")->value(), 30000);
    EXPECT_TRUE(control<QCheckBox>(f, "cbAvgMC")->isChecked());
    ASSERT_TRUE(waitUntil([&] { return run.storedCycles() >= 3 && !run.CycleRunning(); }, 30000))
        << "cycles stored: " << run.storedCycles();
    EXPECT_EQ(control<QToolButton>(f, "btCycle")->text(), QStringLiteral("ЦИКЛ"));
    // A measurement under way is still received and drawn, but not stored.
    ASSERT_TRUE(waitUntil(
        [&] {
            return !run.CycleRunning() && !run.timCycleActive()
                && f.session().state() == SessionState::Idle;
        },
        10000));
    EXPECT_EQ(run.storedCycles(), 3);
    EXPECT_EQ(f.work().cycles().count(), 3);
    EXPECT_TRUE(f.isWindowModified());
    ASSERT_GE(cycleTexts.size(), 3);
    EXPECT_EQ(cycleTexts.mid(0, 3),
        (QStringList {
            QStringLiteral("Цикл №0"), QStringLiteral("Цикл №1"), QStringLiteral("Цикл №2") }));
    expectCurves(7);

    const QString cycles = QDir(data).filePath(QStringLiteral("cycles"));
    QDir().mkpath(cycles);
    saveNames.push_back(QDir(cycles).filePath(QStringLiteral("run.kdx")));
    click(control<QToolButton>(f, "btSave"));
    EXPECT_EQ(QDir(cycles).entryList({ QStringLiteral("*.kdx") }, QDir::Files, QDir::Name),
        (QStringList { QStringLiteral("run0000.kdx"), QStringLiteral("run0001.kdx"),
            QStringLiteral("run0002.kdx") }));
    for (const char *name : { "run0000.kdx", "run0001.kdx", "run0002.kdx" }) {
        const files::DataFile saved = readBack(QDir(cycles).filePath(QString::fromLatin1(name)));
        EXPECT_EQ(saved.header.DataLength, 3500u) << qPrintable(name);
        EXPECT_EQ(saved.header.ChartChannelBits, 0xFF) << qPrintable(name);
        EXPECT_EQ(saved.comment(), QStringLiteral("Цикл из трёх измерений"));
    }
    EXPECT_FALSE(f.work().cycles().hasUnsaved());
    EXPECT_FALSE(f.isWindowModified());

    // One of them opens and draws like any recording.
    openNames.push_back(QDir(cycles).filePath(QStringLiteral("run0001.kdx")));
    click(control<QToolButton>(f, "btLoadFile"));
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("ФАЙЛ run0001.kdx"));
    EXPECT_EQ(f.recording().data.size(), 3500);
    expectCurves(7);
    EXPECT_TRUE(messages.isEmpty()) << qPrintable(messages.join(QLatin1Char('|')));
}

// Under a window manager, which frames the window only after it is shown, the size and place
// stored at closing come back exactly at every start (the frame is not added again).
TEST_F(Acceptance, SizeAndPlaceSurviveRestartsUnderAWindowManager)
{
    if (qEnvironmentVariableIsEmpty("FERRUN_WINDOW_MANAGER"))
        GTEST_SKIP() << "no window manager runs on the display";
    namespace K = files::SettingsKeys;
    const auto stored = [this] {
        const files::IniFile ini(dir.filePath(QStringLiteral("Ferrun.ini")));
        return QRect(ini.readInteger(K::chartSection, K::left, -1),
            ini.readInteger(K::chartSection, K::top, -1),
            ini.readInteger(K::chartSection, K::width, -1),
            ini.readInteger(K::chartSection, K::height, -1));
    };
    const auto outer
        = [](const TForm1 &f) { return QRect(f.pos(), QSize(f.windowWidth(), f.windowHeight())); };
    QRect first;
    for (int run = 0; run < 4; ++run) {
        SCOPED_TRACE(run);
        TForm1 &f = open();
        // Framed: the manager's frame is around the client area.
        ASSERT_TRUE(waitUntil([&] { return f.frameGeometry().size() != f.size(); }, 5000));
        if (run > 0) {
            EXPECT_TRUE(waitUntil([&] { return outer(f) == first; }, 5000))
                << "shown at " << outer(f).x() << "," << outer(f).y() << " " << outer(f).width()
                << "x" << outer(f).height();
        }
        f.close();
        form.reset();
        if (run == 0)
            first = stored();
        EXPECT_EQ(stored(), first);
    }
    EXPECT_GE(first.width(), TForm1::MinimumClientSize.width());
}
