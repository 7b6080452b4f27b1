// Cursors A and B on the window's chart, driven by real mouse and key events on a recording
// opened from a real data file, and the panel of their region checked against the same file
// decoded apart.
#include "app/chartbuilder.h"
#include "app/chartexport.h"
#include "app/cursorreadout.h"
#include "app/regioncursors.h"
#include "app/regionpanel.h"
#include "app/statusbar.h"
#include "signal/regionstats.h"
#include "tests/app/filewindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>
#include <cmath>

using app::RegionCursors;
using app::RegionPanel;
using Cursor = app::RegionCursors::Cursor;

namespace {

constexpr int Frames = 400;
constexpr double IntervalUs = 100; // X of frame f: f / 10 ms

// T1 rising with a ripple, T2 falling, T3 jagged: frame 0 and 399 more.
QByteArray threeChannels(int shift = 0)
{
    QByteArray data;
    for (int f = 0; f < Frames; ++f)
        data += filewindow::words(
            { 1000 + 3 * f + f % 7 + shift, 2000 - 2 * f, 1500 + (f * 37) % 50 });
    return data;
}

class RegionCursorsTest : public filewindow::FileWindowTest
{
protected:
    // The window with a recording of T1..T3 opened: degrees against time in ms, "250°".
    app::TForm1 &openRecording()
    {
        app::TForm1 &f = open();
        path = file(QStringLiteral("three.kdx"));
        filewindow::writeDataFile(
            path, 0x07, threeChannels(), QStringLiteral("три"), IntervalUs, files::ValueScale250);
        load(path);
        EXPECT_EQ(f.series(files::ChannelId::T1)->Count(), Frames - 1);
        cursors = &f.regionCursors();
        panel = &f.regionPanel();
        chart = chartOf(f);
        return f;
    }

    int pixel(double x) const { return chart->BottomAxis()->ValueToPosition(x); }
    QPoint at(double x) const
    {
        chart->ensureLayout();
        return QPoint(pixel(x), chart->ChartRect().center().y());
    }
    double x(Cursor c) const { return cursors->position(c).value_or(-1); }
    // The drawn point's X: a whole number of frames of 0.1 ms.
    static bool onPoint(double x)
    {
        const double frame = std::nearbyint(x * 1000 / IntervalUs);
        return frame >= 1 && frame < Frames && frame * IntervalUs / 1000 == x;
    }
    static double perPixel(const chart::TChart &c)
    {
        return std::abs(c.BottomAxis()->PositionToValue(1) - c.BottomAxis()->PositionToValue(0));
    }
    int markerCentre(Cursor c) const
    {
        return cursors->marker(c)->x() + RegionCursors::MarkerReach;
    }

    // The same file decoded apart with the display the test's settings give.
    sig::DecodedRecording decodedApart() const
    {
        files::DataFile data;
        EXPECT_EQ(files::readDataFile(path, &data), files::DataFileStatus::Ok);
        sig::DisplaySettings s;
        s.timeUnitIndex = 1;
        s.axisMode = sig::AxisMode::ValuesTime;
        sig::applyFileHeader(s, data.header); // its channels, interval and 250° scale
        return sig::ChartDecoder().decode(data.data, s);
    }

    static QList<QStringList> cells(const QString &text)
    {
        QList<QStringList> lines;
        for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts))
            lines << line.split(u'\t');
        return lines;
    }

    QString path;
    RegionCursors *cursors = nullptr;
    RegionPanel *panel = nullptr;
    chart::TChart *chart = nullptr;
};

} // namespace

TEST_F(RegionCursorsTest, MousePlacesDragsAndRemovesTheCursorsWithoutZooming)
{
    app::TForm1 &f = openRecording();
    const int roomHeight = chart->height();
    chart->ensureLayout();
    const double minimum = chart->BottomAxis()->workingMinimum();
    const double maximum = chart->BottomAxis()->workingMaximum();
    EXPECT_FALSE(panel->isVisible());

    QTest::mouseClick(chart, Qt::LeftButton, Qt::ControlModifier, at(10.03));
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ShiftModifier, at(30.04));
    EXPECT_TRUE(chart->hasFocus());
    EXPECT_TRUE(onPoint(x(Cursor::A)) && onPoint(x(Cursor::B)));
    EXPECT_NEAR(x(Cursor::A), 10.03, perPixel(*chart) + 0.05);
    EXPECT_NEAR(x(Cursor::B), 30.04, perPixel(*chart) + 0.05);
    EXPECT_EQ(cursors->active(), Cursor::B);
    EXPECT_EQ(markerCentre(Cursor::A), pixel(x(Cursor::A)));
    EXPECT_TRUE(cursors->marker(Cursor::B)->isVisible());
    // The window has grown by what the screen had below it, and the chart gave the rest of
    // the panel's height, keeping two thirds of its own at least.
    ASSERT_TRUE(panel->isVisible());
    const int grown = panel->windowGrowth();
    EXPECT_GE(grown, 0);
    EXPECT_EQ(chart->height() + panel->height(), roomHeight + grown);
    EXPECT_GE(chart->height(), roomHeight * 2 / 3);
    EXPECT_EQ(panel->y(), chart->y() + chart->height());

    // A press beside A's line takes it along; the chart neither zooms nor scrolls.
    QTest::mousePress(chart, Qt::LeftButton, {}, at(x(Cursor::A)) + QPoint(3, 0));
    QTest::mouseMove(chart, at(20.5) + QPoint(3, 40));
    QTest::mouseRelease(chart, Qt::LeftButton, {}, at(20.5) + QPoint(3, 40));
    EXPECT_TRUE(onPoint(x(Cursor::A)));
    EXPECT_NEAR(x(Cursor::A), 20.5, 4 * perPixel(*chart) + 0.05);
    EXPECT_EQ(cursors->active(), Cursor::A);
    // B's own line, pressed where the user sees it, and dragged to the left.
    QWidget *markerB = cursors->marker(Cursor::B);
    const QPoint onB(RegionCursors::MarkerReach, markerB->height() / 2);
    const int targetB = markerB->x() + onB.x() - 60;
    QTest::mousePress(markerB, Qt::LeftButton, {}, onB);
    QTest::mouseMove(markerB, onB - QPoint(60, 0));
    QTest::mouseRelease(markerB, Qt::LeftButton, {}, onB - QPoint(60, 0));
    EXPECT_TRUE(onPoint(x(Cursor::B)));
    EXPECT_NEAR(pixel(x(Cursor::B)), targetB, 1);
    EXPECT_FALSE(chart->Zoomed());
    EXPECT_FALSE(chart->zoomDrag().Active);
    chart->ensureLayout();
    EXPECT_EQ(chart->BottomAxis()->workingMinimum(), minimum);
    EXPECT_EQ(chart->BottomAxis()->workingMaximum(), maximum);

    // A drag away from the lines still zooms; the cursors keep their X and their lines follow.
    const double a = x(Cursor::A), b = x(Cursor::B);
    QTest::mousePress(chart, Qt::LeftButton, {}, at(12) - QPoint(0, 60));
    QTest::mouseMove(chart, at(35) + QPoint(0, 60));
    QTest::mouseRelease(chart, Qt::LeftButton, {}, at(35) + QPoint(0, 60));
    ASSERT_TRUE(chart->Zoomed());
    QTRY_COMPARE(markerCentre(Cursor::A), pixel(a));
    EXPECT_EQ(x(Cursor::A), a);
    EXPECT_EQ(x(Cursor::B), b);
    EXPECT_EQ(markerCentre(Cursor::B), pixel(b));
    // A window resized: the same.
    f.resize(f.width() + 80, f.height() + 40);
    QTRY_COMPARE(markerCentre(Cursor::A), pixel(a));
    EXPECT_EQ(x(Cursor::A), a);

    // Esc with the chart focused takes both away; the window gives back what it grew by and
    // the chart has the rest.
    const int room = chart->height() + panel->height() - panel->windowGrowth();
    QTest::keyClick(chart, Qt::Key_Escape);
    EXPECT_FALSE(cursors->anyPlaced());
    EXPECT_FALSE(cursors->marker(Cursor::A)->isVisible());
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(panel->windowGrowth(), 0);
    EXPECT_EQ(chart->height(), room);
}

TEST_F(RegionCursorsTest, PanelListsTheStatisticsOfTheRegionAndCopiesThemExactly)
{
    app::TForm1 &f = openRecording();
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ShiftModifier, at(31.4));
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ControlModifier, at(7.7));
    const double a = x(Cursor::A), b = x(Cursor::B);
    ASSERT_LT(a, b);

    const sig::DecodedRecording r = decodedApart();
    const std::vector<sig::ChannelStatistics> statistics = sig::regionStatistics(r, a, b);
    ASSERT_EQ(statistics.size(), 3u);
    const int pa = sig::nearestPoint(r, a), pb = sig::nearestPoint(r, b);
    ASSERT_EQ(r.x(pa), a);

    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(panel->copyButton(), Qt::LeftButton);
    const QString copied = QGuiApplication::clipboard()->text();
    const QList<QStringList> rows = cells(copied);
    ASSERT_EQ(rows.size(), 6); // X's header and row, the table's header, T1..T3
    EXPECT_EQ(rows[0], (QStringList { "", "A", "B", "B − A", "1/|Δx|, Гц" }));
    // X to the tenth of a millisecond a point takes; 1/|Δx| to what one point changes.
    EXPECT_EQ(rows[1][0], QStringLiteral("X, мс"));
    EXPECT_EQ(rows[1][1], QString::number(a, 'f', 1));
    EXPECT_EQ(rows[1][2], QString::number(b, 'f', 1));
    EXPECT_EQ(rows[1][3], QString::number(b - a, 'f', 1));
    EXPECT_NEAR(rows[1][4].toDouble(), 1 / ((b - a) / 1000), 0.05);
    EXPECT_EQ(rows[2].size(), 8);
    EXPECT_EQ(rows[2][7], QStringLiteral("Наклон, °C/с"));
    const double perSecond = 1000; // X in ms
    // Values to one code of 250/4096 degrees: two decimals, the mean three; the slope to one
    // code over the region's 23.7 ms: no decimal.
    const auto shown
        = [](double value, int decimals) { return QString::number(value, 'f', decimals); };
    for (int i = 0; i < 3; ++i) {
        const QStringList &row = rows[3 + i];
        const sig::ChannelStatistics &s = statistics[size_t(i)];
        const int n = i + 1;
        ASSERT_EQ(row.size(), 8);
        EXPECT_EQ(row[0], QStringLiteral("T%1").arg(n));
        EXPECT_EQ(row[1], shown(r.y(n, pa), 2));
        EXPECT_EQ(row[2], shown(r.y(n, pb), 2));
        EXPECT_EQ(row[3], shown(r.y(n, pb) - r.y(n, pa), 2));
        EXPECT_EQ(row[4], shown(s.minimum, 2));
        EXPECT_EQ(row[5], shown(s.maximum, 2));
        EXPECT_EQ(row[6], shown(s.mean, 3));
        EXPECT_EQ(row[7], shown(s.slope * perSecond, 0));
        EXPECT_GT(s.count, 200);
    }
    // ferrun-cli stats over the same range writes the same numbers.
    QProcess cli;
    cli.start(QDir(qEnvironmentVariable("FERRUN_BIN_DIR")).filePath(QStringLiteral("ferrun-cli")),
        { QStringLiteral("stats"), path, QStringLiteral("--from"), rows[1][1],
            QStringLiteral("--to"), rows[1][2] });
    ASSERT_TRUE(cli.waitForFinished(30000));
    ASSERT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().constData();
    const QList<QStringList> stats
        = cells(QString::fromUtf8(cli.readAllStandardOutput()).replace(u',', u'\t'));
    ASSERT_EQ(stats.size(), 4);
    for (int i = 0; i < 3; ++i) {
        const QStringList &row = rows[3 + i], &line = stats[1 + i];
        EXPECT_EQ(line[0], row[0]);
        EXPECT_EQ(line[1].toLongLong(), statistics[size_t(i)].count);
        EXPECT_EQ(line[2], row[4]); // min
        EXPECT_EQ(line[3], row[5]); // max
        EXPECT_EQ(line[4], row[6]); // mean
        EXPECT_EQ(line[7], row[7]); // slope per second
    }

    // T1 rises by 3 codes a frame of 0.1 ms, 250/4096 degrees a code: 1831 °C/s or so.
    EXPECT_NEAR(rows[3][7].toDouble(), 3 * 250.0 / 4096 * 10000, 20);

    // The table shows the channels with the same digits, each name on its colour.
    QTableWidget *table = panel->table();
    ASSERT_EQ(table->rowCount(), 3);
    const QLocale locale = QLocale::system();
    for (int i = 0; i < 3; ++i) {
        for (int c = 0; c < RegionPanel::ColumnCount; ++c)
            EXPECT_EQ(table->item(i, 1 + c)->text(),
                QString(rows[3 + i][1 + c]).replace(u'.', locale.decimalPoint()));
        EXPECT_EQ(table->item(i, 0)->background().color(), f.seriesColor(files::ChannelId(i)));
    }
    EXPECT_TRUE(panel->summary()->text().contains(QStringLiteral("Δx = ")));

    // Ctrl+C in the table copies the same text; a channel hidden leaves the table.
    QGuiApplication::clipboard()->clear();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), copied);
    QTest::mouseClick(channelBox(f, 1), Qt::LeftButton);
    QTRY_COMPARE(table->rowCount(), 2);
    EXPECT_EQ(table->item(1, 0)->text(), QStringLiteral("T3"));

    // Folded to its header line: the chart takes the table's room.
    const int chartHeight = chart->height();
    QTest::mouseClick(panel->foldButton(), Qt::LeftButton);
    EXPECT_FALSE(table->isVisible());
    EXPECT_GT(chart->height(), chartHeight);
    EXPECT_LT(panel->height(), 40);
    QTest::mouseClick(panel->foldButton(), Qt::LeftButton);
    EXPECT_EQ(chart->height(), chartHeight);

    // One cursor: its values, the region's columns empty.
    QTest::mouseClick(chart, Qt::LeftButton, {}, at(2)); // the focus back on the chart
    QTest::keyClick(chart, Qt::Key_Escape);
    ASSERT_FALSE(cursors->anyPlaced());
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ShiftModifier, at(20));
    const QList<QStringList> one = cells(panel->text());
    ASSERT_EQ(one.size(), 5); // X's header and row, the table's header, T1, T3
    EXPECT_TRUE(one[1][1].isEmpty());
    EXPECT_EQ(one[1][2].toDouble(), x(Cursor::B));
    EXPECT_EQ(one[3][2], shown(r.y(1, sig::nearestPoint(r, x(Cursor::B))), 2));
    for (int c = 3; c < 8; ++c)
        EXPECT_TRUE(one[3][c].isEmpty()) << c;
}

TEST_F(RegionCursorsTest, KeysAndTheChartMenuPlaceAndMoveTheCursors)
{
    app::TForm1 &f = openRecording();
    QTest::mouseClick(chart, Qt::LeftButton, {}, at(5)); // the focus, nothing else
    ASSERT_TRUE(chart->hasFocus());
    EXPECT_FALSE(cursors->anyPlaced());
    const sig::DecodedRecording r = decodedApart();
    const auto point = [&](Cursor c) { return sig::nearestPoint(r, x(c)); };

    // The mouse gone from the chart: A at a quarter, B at three quarters of the shown range.
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(chart, &leave);
    const double low = chart->BottomAxis()->workingMinimum();
    const double high = chart->BottomAxis()->workingMaximum();
    QTest::keyClick(chart, Qt::Key_A);
    QTest::keyClick(chart, Qt::Key_B);
    EXPECT_EQ(x(Cursor::A), r.x(sig::nearestPoint(r, low + (high - low) / 4)));
    EXPECT_EQ(x(Cursor::B), r.x(sig::nearestPoint(r, low + (high - low) * 3 / 4)));
    EXPECT_EQ(cursors->active(), Cursor::B);

    // Arrows: a point; with Shift ten; with Ctrl a tenth of the shown range; Home and End
    // to the first and last point shown.
    const int pb = point(Cursor::B);
    QTest::keyClick(chart, Qt::Key_Left);
    EXPECT_EQ(point(Cursor::B), pb - 1);
    QTest::keyClick(chart, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(point(Cursor::B), pb + 9);
    const double before = x(Cursor::B);
    QTest::keyClick(chart, Qt::Key_Left, Qt::ControlModifier);
    EXPECT_EQ(x(Cursor::B), r.x(sig::nearestPoint(r, before - (high - low) / 10)));
    QTest::keyClick(chart, Qt::Key_End);
    EXPECT_EQ(point(Cursor::B), r.pointCount() - 1);
    QTest::keyClick(chart, Qt::Key_Space);
    EXPECT_EQ(cursors->active(), Cursor::A);
    QTest::keyClick(chart, Qt::Key_Home);
    EXPECT_EQ(point(Cursor::A), 0);
    // Zoomed in, the ends are those of the view.
    chart->BottomAxis()->SetRange(10, 20);
    QTest::keyClick(chart, Qt::Key_End);
    EXPECT_EQ(x(Cursor::A), 20);
    QTest::keyClick(chart, Qt::Key_Home, Qt::KeypadModifier);
    EXPECT_EQ(x(Cursor::A), 10);
    chart->BottomAxis()->SetRange(low, high);

    // With the mouse over the plot, A goes under it.
    QTest::mouseMove(chart, at(33.3));
    QTest::keyClick(chart, Qt::Key_A);
    EXPECT_NEAR(x(Cursor::A), 33.3, perPixel(*chart) + 0.05);

    // The chart's menu puts B where it was opened; its entries name the keys.
    QMenu *menu = control<QMenu>(f, "pmChart");
    QAction *placeB = nullptr;
    for (QAction *action : menu->actions())
        if (action->objectName() == QLatin1String("actCursorB"))
            placeB = action;
    ASSERT_NE(placeB, nullptr);
    EXPECT_EQ(placeB->text(), QStringLiteral("Поставить курсор B\tB"));
    QTest::mousePress(chart, Qt::RightButton, {}, at(12.5));
    QTest::mouseRelease(chart, Qt::RightButton, {}, at(12.5));
    QTRY_VERIFY(menu->isVisible());
    menu->close();
    placeB->trigger();
    EXPECT_NEAR(x(Cursor::B), 12.5, perPixel(*chart) + 0.05);

    // The menu key opens the chart's menu from the keyboard.
    QTest::keyClick(chart, Qt::Key_Menu);
    QTRY_VERIFY(menu->isVisible());
    menu->close();

    // Esc with no cursor left is the window's again.
    QTest::keyClick(chart, Qt::Key_Escape);
    EXPECT_FALSE(cursors->anyPlaced());
    EXPECT_FALSE(menu->actions().last()->isEnabled()); // "Убрать курсоры"
}

// The letters of A and B stay in sight where the lines meet each other and the readout's line.
TEST_F(RegionCursorsTest, ACursorsLetterIsNeverHidden)
{
    app::TForm1 &f = openRecording();
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ControlModifier, at(20));
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ShiftModifier, at(20));
    ASSERT_EQ(x(Cursor::A), x(Cursor::B));
    QTest::mouseClick(statusBar(f), Qt::LeftButton);
    ASSERT_TRUE(f.readoutOn());
    QTest::mouseMove(chart, at(25));
    ASSERT_TRUE(f.cursorReadout().cursorLine()->isVisible());
    const QObjectList stack = chart->children();
    EXPECT_LT(
        stack.indexOf(f.cursorReadout().cursorLine()), stack.indexOf(cursors->marker(Cursor::A)));
    EXPECT_LT(
        stack.indexOf(f.cursorReadout().cursorLine()), stack.indexOf(cursors->marker(Cursor::B)));
    // A's box (white, framed in its colour) at the top, B's (active, filled) under it.
    const QImage picture = chart->grab().toImage();
    const int left = cursors->marker(Cursor::A)->x();
    const int top = chart->ChartRect().top();
    EXPECT_EQ(picture.pixelColor(left, top + 6), QColor(0, 0, 139));
    EXPECT_EQ(picture.pixelColor(left + 1, top + 6), QColor(Qt::white));
    EXPECT_EQ(picture.pixelColor(left + 1, top + 13 + 6), QColor(139, 0, 139));
}

TEST_F(RegionCursorsTest, KeptThroughRebuildsAndClearedByAnotherRecording)
{
    app::TForm1 &f = openRecording();
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ControlModifier, at(12.3));
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ShiftModifier, at(25.6));
    const double frameA = std::nearbyint(x(Cursor::A) * 10);
    const double frameB = std::nearbyint(x(Cursor::B) * 10);

    // X in µs now: the cursors stay on their frames.
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    control<QComboBox>(f, "cbXscale")->setFocus();
    QTest::keyClick(control<QComboBox>(f, "cbXscale"), Qt::Key_Up);
    ASSERT_EQ(f.chartBuilder().lastRecording()->TimeUnitName, QStringLiteral("мкс"));
    EXPECT_EQ(x(Cursor::A), frameA * IntervalUs);
    EXPECT_EQ(x(Cursor::B), frameB * IntervalUs);
    QTRY_COMPARE(markerCentre(Cursor::B), pixel(x(Cursor::B)));
    EXPECT_TRUE(panel->summary()->text().startsWith(
        QStringLiteral("A: %1 мкс").arg(frameA * IntervalUs, 0, 'f', 0)))
        << qPrintable(panel->summary()->text());

    // Another file opened: the cursors and the panel go.
    const QString other = file(QStringLiteral("other.kdx"));
    filewindow::writeDataFile(other, 0x07, threeChannels(5), QStringLiteral("другой"), IntervalUs);
    load(other);
    EXPECT_FALSE(cursors->anyPlaced());
    EXPECT_FALSE(cursors->marker(Cursor::A)->isVisible());
    EXPECT_FALSE(panel->isVisible());
}

// PDF export: the report page, read back as text: the file's name (also the PDF's title), the
// date and time of the recording, the sampling figures, the comment and the cursors' table;
// the status bar names the file written.
TEST_F(RegionCursorsTest, PdfExportIsTheReportReadBackAsText)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "pdftotext (poppler-utils) is not installed";
    app::TForm1 &f = openRecording();
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ControlModifier, at(7.7));
    QTest::mouseClick(chart, Qt::LeftButton, Qt::ShiftModifier, at(31.4));
    app::ChartExport *exporter = &f.chartExport();
    const QString pdf = file(QStringLiteral("report.pdf"));
    exporter->choosePdfFile = [&] { return pdf; };
    f.findChild<QAction *>(QStringLiteral("actExportPdf"))->trigger();
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("Экспорт в PDF: report.pdf"));

    const auto run = [](const QString &program, const QStringList &args) {
        QProcess process;
        process.start(program, args);
        EXPECT_TRUE(process.waitForFinished(30000));
        return QString::fromUtf8(process.readAllStandardOutput());
    };
    const QString text = run(QStringLiteral("pdftotext"), { pdf, QStringLiteral("-") });
    const QString when = QLocale(QLocale::Russian, QLocale::Russia)
                             .toString(QFileInfo(path).lastModified(), "dd.MM.yyyy HH:mm:ss");
    // 100 µs between a channel's samples, three channels, 400 frames.
    for (const QString &part :
        { QStringLiteral("three.kdx"), QStringLiteral("три"), QStringLiteral("Записано: ") + when,
            QStringLiteral("Частота выборки: 30000 Гц (10000 Гц на канал)"),
            QStringLiteral("Выборок: 1200 (400 на канал)"), QStringLiteral("Длительность: 0,040 с"),
            QStringLiteral("Каналы: T1 T2 T3"), QStringLiteral("Усреднение в МК: нет"),
            QStringLiteral("Диапазон: 250°"), QStringLiteral("Δx = "), QStringLiteral("Наклон,") })
        EXPECT_TRUE(text.simplified().contains(QString(part).replace(QChar(0x00A0), u' ')))
            << qPrintable(part) << "\n"
            << qPrintable(text);
    const QString info = run(QStringLiteral("pdfinfo"), { pdf });
    EXPECT_TRUE(info.contains(QRegularExpression(QStringLiteral("Title:\\s+three.kdx"))))
        << qPrintable(info);
    EXPECT_TRUE(info.contains(
        QRegularExpression(QStringLiteral("(842 x 595|841.89 x 595.276) pts \\(A4\\)"))))
        << qPrintable(info);
}
