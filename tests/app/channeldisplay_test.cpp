// Channel display on real widgets: check boxes and series, the shared colour dialog, the
// exit handlers of the option fields, and the status bar's cursor readout over the chart.
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/chartbuilder.h"
#include "app/contexthelp.h"
#include "app/cursorreadout.h"
#include "app/form1.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "tests/app/testenvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

using acquisition::Field;
using app::TForm1;
using files::ChannelId;

namespace {

const QString Hint = QStringLiteral("Щелкните для отображения X,Y");

class ChannelDisplayTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("Ferrun.ini"));
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    }

    // T1 and T3 with the photodiode, the given axis mode, "мс"; a recording of three frames
    // after frame 0 at 100 µs: T1 200, 300, 400 and T3 210, 310, 410, photodiode on in the
    // second.
    TForm1 &open(int mode)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        QString ini = QStringLiteral("[Options]\r\nXYmode=%1\r\nX scale=1\r\nTrange=0\r\n"
                                     "[Series select]\r\n")
                          .arg(mode);
        for (int n : { 2, 4, 5, 6, 7 })
            ini += QStringLiteral("Channel %1=0\r\n").arg(n);
        file.write(ini.toUtf8());
        file.close();
        app::FormEnvironment environment = apptest::environmentIn(dir, messages);
        form = std::make_unique<TForm1>(path, app::AppOptions {}, environment);
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        return *form;
    }

    // That recording (of T1 and T3) made the current one, its frames `intervalUs` apart.
    static void holdRecording(TForm1 &f, double intervalUs = 100)
    {
        files::Recording r;
        for (int w : { 100, 110, 200, 210, 300 | 0x8000, 310, 400, 410 }) {
            r.data.append(char(w & 0xFF));
            r.data.append(char(w >> 8));
        }
        r.header.ChartChannelBits = 0x05;
        r.header.ChannelIntervalUs = intervalUs;
        r.origin = files::RecordingOrigin::File;
        f.takeRecording(r);
    }

    // The mouse over the chart at the pixel of bottom-axis value x, halfway down the plot.
    static void hover(TForm1 &f, double x)
    {
        chartOf(f)->ensureLayout();
        const QRect plot = chartOf(f)->ChartRect();
        QTest::mouseMove(
            chartOf(f), QPoint(chartOf(f)->BottomAxis()->ValueToPosition(x), plot.center().y()));
    }

    static QString number(double value, int decimals)
    {
        return QLocale::system().toString(value, 'f', decimals);
    }

    QTemporaryDir dir;
    QString path;
    QStringList messages;
    std::unique_ptr<TForm1> form;
};

} // namespace

TEST_F(ChannelDisplayTest, ReadoutShowsTheFrameUnderTheMouse)
{
    TForm1 &f = open(1);
    holdRecording(f);
    f.BuildChart();
    QTest::mouseClick(statusBar(f), Qt::LeftButton);
    ASSERT_TRUE(f.readoutOn());

    hover(f, 2.2); // frame 2
    EXPECT_EQ(statusBar(f)->panelText(1), QStringLiteral("X = 2   ФД 1"));
    EXPECT_EQ(statusBar(f)->panelText(2), QStringLiteral("T1\u2009300  T3\u2009310"));
    QWidget *line = f.cursorReadout().cursorLine();
    EXPECT_TRUE(line->isVisible());
    EXPECT_EQ(line->x(), chartOf(f)->BottomAxis()->ValueToPosition(2));
    EXPECT_EQ(line->width(), 1);
    hover(f, 3);
    EXPECT_EQ(statusBar(f)->panelText(1), QStringLiteral("X = 3   ФД 0"));
    EXPECT_EQ(statusBar(f)->panelText(2), QStringLiteral("T1\u2009400  T3\u2009410"));

    // A hidden channel leaves the readout; frame 0 and what lies beyond the last frame show
    // nothing.
    QTest::mouseClick(channelBox(f, 0), Qt::LeftButton);
    hover(f, 1);
    EXPECT_EQ(statusBar(f)->panelText(2), QStringLiteral("T3\u2009210"));
    // As after scrolling: the axis shows more than the recording.
    chartOf(f)->BottomAxis()->SetRange(0, 5);
    hover(f, 0.4);
    EXPECT_FALSE(line->isVisible());
    EXPECT_TRUE(statusBar(f)->panelText(1).isEmpty());
    EXPECT_TRUE(statusBar(f)->panelText(2).isEmpty());
    hover(f, 2);
    EXPECT_TRUE(line->isVisible());
    EXPECT_EQ(line->x(), chartOf(f)->BottomAxis()->ValueToPosition(2));
    hover(f, 3.6);
    EXPECT_FALSE(line->isVisible());
    EXPECT_TRUE(statusBar(f)->panelText(1).isEmpty());
    hover(f, 2);

    // Off: the line goes, the hint is written, moving the mouse shows nothing.
    QTest::mouseClick(statusBar(f), Qt::LeftButton);
    EXPECT_FALSE(line->isVisible());
    EXPECT_EQ(statusBar(f)->panelText(1), Hint);
    EXPECT_TRUE(statusBar(f)->panelText(2).isEmpty());
    hover(f, 3);
    EXPECT_EQ(statusBar(f)->panelText(1), Hint);
    EXPECT_FALSE(line->isVisible());
}

TEST_F(ChannelDisplayTest, ReadoutInDegreesAgainstTime)
{
    TForm1 &f = open(0);
    holdRecording(f);
    control<app::SpinEdit>(f, "seYmax")->assign(0);
    f.BuildChart();
    QTest::mouseClick(statusBar(f), Qt::LeftButton);
    // 10 ms of X: the readout needs a bottom axis reaching past 1.
    holdRecording(f, 10000);
    hover(f, 20);
    EXPECT_EQ(statusBar(f)->panelText(1), QStringLiteral("X = 20 мс   ФД 1"));
    EXPECT_EQ(statusBar(f)->panelText(2),
        QStringLiteral("T1\u2009%1  T3\u2009%2")
            .arg(number(300 * 250.0 / 4096, 2), number(310 * 250.0 / 4096, 2)));

    // 0.1 ms apart: the whole axis lies below 1, nothing is shown.
    holdRecording(f);
    EXPECT_FALSE(f.cursorReadout().cursorLine()->isVisible());
    hover(f, 0.2);
    EXPECT_TRUE(statusBar(f)->panelText(1).isEmpty());
    EXPECT_FALSE(f.cursorReadout().cursorLine()->isVisible());
}

TEST_F(ChannelDisplayTest, ReadoutWithoutARecordingLeavesTheStatusAlone)
{
    TForm1 &f = open(1);
    QTest::mouseClick(statusBar(f), Qt::LeftButton);
    statusBar(f)->setPanelText(2, QStringLiteral("Цикл №3"));
    QTest::mouseMove(chartOf(f), chartOf(f)->rect().center());
    EXPECT_EQ(statusBar(f)->panelText(2), QStringLiteral("Цикл №3"));
    EXPECT_FALSE(f.cursorReadout().cursorLine()->isVisible());
}

TEST_F(ChannelDisplayTest, ReadoutFitsTheStatusBar)
{
    TForm1 &f = open(1);
    holdRecording(f);
    f.BuildChart();
    QTest::mouseClick(statusBar(f), Qt::LeftButton);
    hover(f, 2);
    for (int i : { 1, 2 }) {
        QLabel *panel = statusBar(f)->panel(i);
        EXPECT_GE(panel->contentsRect().width(),
            panel->fontMetrics().horizontalAdvance(panel->text()) + panel->indent())
            << i;
    }
}

TEST_F(ChannelDisplayTest, SharedColourDialogOpensOnTheColourLastChosen)
{
    TForm1 &f = open(1);
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    QList<QColor> shown;
    // The dialog is modal: answered from the event loop once it is up.
    auto answer = [&](std::optional<QColor> choice) {
        QTimer::singleShot(0, [&shown, choice] {
            auto *dialog = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
            ASSERT_TRUE(dialog);
            EXPECT_EQ(dialog->objectName(), QStringLiteral("ColorDlg"));
            shown << dialog->currentColor();
            if (choice) {
                dialog->setCurrentColor(*choice);
                dialog->accept();
            } else {
                dialog->reject();
            }
        });
    };
    answer(QColor(10, 20, 30));
    QTest::mouseClick(swatch(f, 2), Qt::LeftButton);
    EXPECT_EQ(f.seriesColor(ChannelId::T3), QColor(10, 20, 30));
    EXPECT_EQ(swatch(f, 2)->colorValue(), 0x1E140Au);
    EXPECT_EQ(channelBox(f, 2)->property("channelColor").value<QColor>(), QColor(10, 20, 30));

    // Cancelled on another swatch: it opened on the last choice and nothing changes.
    const QColor fdBefore = f.seriesColor(ChannelId::FD);
    const quint32 swatchBefore = swatch(f, 7)->colorValue();
    answer(std::nullopt);
    QTest::mouseClick(swatch(f, 7), Qt::LeftButton);
    ASSERT_EQ(shown.size(), 2);
    EXPECT_EQ(shown.at(1), QColor(10, 20, 30));
    EXPECT_EQ(f.seriesColor(ChannelId::FD), fdBefore);
    EXPECT_EQ(swatch(f, 7)->colorValue(), swatchBefore);

    // Accepted on the photodiode's swatch: line and check box take the colour.
    answer(QColor(200, 0, 100));
    QTest::mouseClick(swatch(f, 7), Qt::LeftButton);
    EXPECT_EQ(f.seriesColor(ChannelId::FD), QColor(200, 0, 100));
    EXPECT_EQ(channelBox(f, 7)->property("channelColor").value<QColor>(), QColor(200, 0, 100));
}

TEST_F(ChannelDisplayTest, CheckBoxesAndSeriesChangeTogether)
{
    TForm1 &f = open(1);
    holdRecording(f);
    f.BuildChart();
    // Hiding keeps the points; only thermocouples count for the sampling parameters.
    QTest::mouseClick(channelBox(f, 2), Qt::LeftButton);
    EXPECT_FALSE(f.seriesActive(ChannelId::T3));
    EXPECT_EQ(f.series(ChannelId::T3)->Count(), 3);
    EXPECT_EQ(f.sampling().ChannelCount(), 1);
    QTest::mouseClick(channelBox(f, 7), Qt::LeftButton);
    EXPECT_FALSE(f.seriesActive(ChannelId::FD));
    EXPECT_EQ(f.sampling().ChannelCount(), 1);
    QTest::mouseClick(channelBox(f, 1), Qt::LeftButton);
    EXPECT_TRUE(f.seriesActive(ChannelId::T2));
    EXPECT_EQ(f.sampling().ChannelCount(), 2);
    // Setting a box to the state it has changes nothing.
    channelBox(f, 1)->setChecked(true);
    EXPECT_TRUE(f.seriesActive(ChannelId::T2));
}

TEST_F(ChannelDisplayTest, LeavingAnyOptionFieldTakesTheFrequencyStep)
{
    TForm1 &f = open(1);
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    int step = 20;
    for (app::SpinEdit *edit :
        { control<app::SpinEdit>(f, "seYmax"), control<app::SpinEdit>(f, "seYmin"),
            control<app::SpinEdit>(f, "sePointChart"), control<app::SpinEdit>(f, "seFstep") }) {
        f.sampling().assign(Field::seFstep, step);
        edit->setFocus();
        ASSERT_TRUE(QTest::qWaitFor([&] { return edit->hasFocus(); }));
        QTest::keyClick(edit, Qt::Key_Tab);
        ASSERT_FALSE(edit->hasFocus());
        EXPECT_EQ(f.sampling().field(Field::seF).increment, step)
            << edit->objectName().toStdString();
        step += 10;
    }
}
