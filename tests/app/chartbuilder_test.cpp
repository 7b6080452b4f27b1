// The window's chart build on real widgets: the display controls redraw the window's
// current recording, and a measurement on the board simulator ends with its curves.
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/chartbuilder.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "app/sessionpresenter.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "sim/boardsimulator.h"
#include "tests/app/testenvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

using app::TForm1;
using files::ChannelId;

namespace {

const QString Drawing = QStringLiteral("ПОСТРОЕНИЕ ГРАФИКА");

QByteArray words(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int w : values) {
        bytes.append(char(w & 0xFF));
        bytes.append(char((w >> 8) & 0xFF));
    }
    return bytes;
}

using Points = std::vector<std::pair<double, double>>;

Points points(const chart::TChartSeries *series)
{
    Points out;
    for (int i = 0; i < series->Count(); ++i)
        out.emplace_back(series->XValue(i), series->YValue(i));
    return out;
}

class ChartBuilderTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("Ferrun.ini"));
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    }

    // A window without the instrument; `ini` is the settings file's text.
    TForm1 &open(const QString &ini = {}, const QString &device = {})
    {
        if (!ini.isEmpty()) {
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(ini.toUtf8());
        }
        app::FormEnvironment environment = apptest::environmentIn(dir, messages);
        app::AppOptions options;
        options.device = device;
        form = std::make_unique<TForm1>(path, options, environment);
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        return *form;
    }

    // T1 alone, the given axis mode, "мс", "250°", no integration.
    TForm1 &openWithT1(int mode, const QString &more = {}, const QString &device = {})
    {
        QString ini = QStringLiteral("[Options]\r\nXYmode=%1\r\nX scale=1\r\nTrange=0\r\n"
                                     "Integrate on Samples Num=4\r\n[Series select]\r\n")
                          .arg(mode);
        for (int n = 2; n <= 7; ++n)
            ini += QStringLiteral("Channel %1=0\r\n").arg(n);
        return open(ini + more, device);
    }

    // Makes a recording of T1 the current one, as a file without a scale of its own would
    // (the range selected then decides); drawn as it arrives, the count of builds reset.
    static void hold(TForm1 &f, const QByteArray &data)
    {
        files::Recording r;
        r.data = data;
        r.header.ChartChannelBits = 0x01;
        r.header.ChannelIntervalUs = 100;
        r.header.XTitle = QStringLiteral("Время, мкс");
        r.origin = files::RecordingOrigin::File;
        f.takeRecording(r);
        f.presenter().setCycleNumber(0);
    }

    // The recording of four words 100, 200, 300 with the photodiode, 400 at 100 µs.
    static void holdFourWords(TForm1 &f) { hold(f, words({ 100, 200, 300 | 0x8000, 400 })); }

    static void choose(QComboBox *box, int index)
    {
        // Keys on the closed box, as a user would step through its items.
        box->setFocus();
        while (box->currentIndex() < index)
            QTest::keyClick(box, Qt::Key_Down);
        while (box->currentIndex() > index)
            QTest::keyClick(box, Qt::Key_Up);
    }

    QTemporaryDir dir;
    QString path;
    QStringList messages;
    std::unique_ptr<sim::BoardSimulator> board;
    std::unique_ptr<TForm1> form; // destroyed before the board
};

} // namespace

TEST_F(ChartBuilderTest, AxisModeAndUnitRedrawTheRecording)
{
    TForm1 &f = openWithT1(1);
    holdFourWords(f);
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);

    choose(control<QComboBox>(f, "cbShowK"), 0); // degrees against time, "мс"
    EXPECT_EQ(points(f.series(ChannelId::T1)),
        (Points { { 0.1, 12.20703125 }, { 0.2, 18.310546875 }, { 0.3, 24.4140625 } }));
    EXPECT_EQ(points(f.series(ChannelId::FD)),
        (Points { { 0.1, 6.103515625 }, { 0.2, 24.4140625 }, { 0.3, 6.103515625 } }));
    EXPECT_EQ(chartOf(f)->LeftAxis()->Title().Caption(), QStringLiteral("Температура"));
    EXPECT_EQ(chartOf(f)->BottomAxis()->Title().Caption(), QStringLiteral("Время, мс"));
    EXPECT_EQ(statusBar(f)->panelText(0), Drawing);
    EXPECT_EQ(f.presenter().CycleNumber(), 1);
    EXPECT_EQ(f.chartBuilder().PointStep(), 0.1);

    choose(control<QComboBox>(f, "cbXscale"), 0); // "мкс"
    EXPECT_EQ(points(f.series(ChannelId::T1)).at(2), std::make_pair(300.0, 24.4140625));
    EXPECT_EQ(chartOf(f)->BottomAxis()->Title().Caption(), QStringLiteral("Время, мкс"));
    EXPECT_EQ(f.chartBuilder().TimeUnitName(), QStringLiteral("мкс"));
    EXPECT_EQ(f.presenter().CycleNumber(), 2);

    // The range alone does not redraw; the next mode change draws with it.
    choose(control<QComboBox>(f, "cbTrng"), 1);
    EXPECT_EQ(f.series(ChannelId::T1)->YValue(0), 12.20703125);
    EXPECT_EQ(f.presenter().CycleNumber(), 2);
    choose(control<QComboBox>(f, "cbShowK"), 2); // degrees against samples
    EXPECT_EQ(points(f.series(ChannelId::T1)),
        (Points { { 1, 24.4140625 }, { 2, 36.62109375 }, { 3, 48.828125 } }));
    EXPECT_EQ(chartOf(f)->BottomAxis()->Title().Caption(), QStringLiteral("Выборки"));
    // The builds read the recording and never write it: its header is as it came.
    EXPECT_EQ(f.recording().header.ChartChannelBits, 0x01);
    EXPECT_EQ(f.recording().header.ValueScale, 0);
    EXPECT_EQ(f.recording().header.XTitle, QStringLiteral("Время, мкс"));
    EXPECT_TRUE(f.recording().header.YTitle.isEmpty());
}

TEST_F(ChartBuilderTest, IntegrationAndAccumulatedBuilds)
{
    TForm1 &f = openWithT1(1);
    holdFourWords(f);
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    QTest::mouseClick(control<QCheckBox>(f, "cbInt"), Qt::LeftButton);
    ASSERT_TRUE(control<QCheckBox>(f, "cbInt")->isChecked());
    EXPECT_EQ(points(f.series(ChannelId::T1)), (Points { { 1, 125 }, { 2, 169 }, { 3, 227 } }));

    // Without "Очищать график" the same recording built again doubles every series.
    QTest::mouseClick(control<QCheckBox>(f, "cbChartClear"), Qt::LeftButton);
    ASSERT_FALSE(control<QCheckBox>(f, "cbChartClear")->isChecked());
    QTest::mouseClick(control<QCheckBox>(f, "cbInt"), Qt::LeftButton);
    EXPECT_EQ(f.series(ChannelId::T1)->Count(), 6);
    EXPECT_EQ(f.series(ChannelId::FD)->Count(), 6);
    EXPECT_EQ(f.series(ChannelId::T2)->Count(), 0);
}

TEST_F(ChartBuilderTest, NothingToDrawLeavesTheChartAlone)
{
    TForm1 &f = openWithT1(0);
    chartOf(f)->LeftAxis()->Title().setCaption(QStringLiteral("before"));
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    choose(control<QComboBox>(f, "cbShowK"), 1);
    EXPECT_EQ(chartOf(f)->LeftAxis()->Title().Caption(), QStringLiteral("before"));
    EXPECT_EQ(f.presenter().CycleNumber(), 0);
    EXPECT_NE(statusBar(f)->panelText(0), Drawing);

    // One frame: titles and status, no points.
    hold(f, words({ 100 }));
    choose(control<QComboBox>(f, "cbShowK"), 0);
    EXPECT_EQ(chartOf(f)->LeftAxis()->Title().Caption(), QStringLiteral("Температура"));
    EXPECT_EQ(statusBar(f)->panelText(0), Drawing);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(f.series(ChannelId(i))->Count(), 0) << i;
}

TEST_F(ChartBuilderTest, ValueAxisRangeFollowsTheLimitsInTheTemperatureModes)
{
    TForm1 &f = openWithT1(1, QStringLiteral("[YScale]\r\nY max=70\r\nY min=0\r\n"));
    holdFourWords(f);
    chart::TChartAxis *left = chartOf(f)->LeftAxis();
    f.BuildChart();
    EXPECT_TRUE(left->Automatic()); // ADC units
    chartOf(f)->ensureLayout();
    EXPECT_EQ(left->Minimum(), 100); // lies wholly above 70

    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    choose(control<QComboBox>(f, "cbShowK"), 0);
    EXPECT_FALSE(left->Automatic());
    EXPECT_EQ(left->Minimum(), 0);
    EXPECT_EQ(left->Maximum(), 70);
    choose(control<QComboBox>(f, "cbShowK"), 3);
    EXPECT_TRUE(left->Automatic());

    // Limit 0: automatic in every mode.
    control<app::SpinEdit>(f, "seYmax")->assign(0);
    choose(control<QComboBox>(f, "cbShowK"), 2);
    EXPECT_TRUE(left->Automatic());

    // A minimum above the maximum: the maximum is taken, the minimum refused with a
    // message, the points are drawn.
    control<app::SpinEdit>(f, "seYmax")->assign(20);
    control<app::SpinEdit>(f, "seYmin")->assign(30);
    choose(control<QComboBox>(f, "cbShowK"), 0);
    EXPECT_EQ(left->Maximum(), 20);
    EXPECT_LE(left->Minimum(), 20);
    EXPECT_EQ(f.series(ChannelId::T1)->Count(), 3);
    const QString refused = QStringLiteral("Минимум оси должен быть не больше максимума");
    ASSERT_TRUE(QTest::qWaitFor([&] { return messages.contains(refused); }));
    EXPECT_EQ(messages.count(refused), 1);
}

// A display change during a cycle run waits for the run's own build: a build of its own would
// hide the progress of the cycle under way (here one waiting for the photodiode).
TEST_F(ChartBuilderTest, DisplayChangeDuringACycleRunWaitsForTheRunsBuild)
{
    board = std::make_unique<sim::BoardSimulator>(sim::BoardOptions {});
    std::string error;
    ASSERT_TRUE(board->start(&error)) << error;
    TForm1 &f = openWithT1(0, {}, QString::fromStdString(board->devicePath()));
    holdFourWords(f);
    QTest::mouseClick(control<QToolButton>(f, "btExtrn"), Qt::LeftButton);
    QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
    ASSERT_TRUE(board->waitForState(sim::BoardState::WaitingForTrigger, std::chrono::seconds(10)));
    ASSERT_TRUE(f.cycleRunning());
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    choose(control<QComboBox>(f, "cbShowK"), 1);
    EXPECT_EQ(f.presenter().CycleNumber(), 0);
    EXPECT_EQ(f.series(ChannelId::T1)->YValue(0), 12.20703125);

    // "Стоп", and the wait cancelled: the display controls redraw again.
    QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
    ASSERT_EQ(control<QToolButton>(f, "btStartPlus")->text(), QStringLiteral("Отменить"));
    QTest::mouseClick(control<QToolButton>(f, "btStartPlus"), Qt::LeftButton);
    ASSERT_EQ(f.session().state(), acquisition::SessionState::Idle);
    choose(control<QComboBox>(f, "cbShowK"), 0);
    choose(control<QComboBox>(f, "cbShowK"), 1);
    EXPECT_EQ(f.series(ChannelId::T1)->YValue(0), 200);
}

TEST_F(ChartBuilderTest, MeasurementOnTheBoardEndsWithItsCurves)
{
    sim::BoardOptions options;
    options.speed = 1000;
    board = std::make_unique<sim::BoardSimulator>(options);
    std::string error;
    ASSERT_TRUE(board->start(&error)) << error;
    TForm1 &f = open(QStringLiteral("[Series select]\r\nChannel 2=0\r\nChannel 4=0\r\n"
                                    "[Окно F/T]\r\nSRAMblocks=1\r\n"),
        QString::fromStdString(board->devicePath()));
    ASSERT_TRUE(control<QPushButton>(f, "btStart")->isEnabled());
    ASSERT_EQ(f.sampling().SRAMblocks(), 1);
    QTest::mouseClick(control<QToolButton>(f, "btStartPlus"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return statusBar(f)->panelText(0) == Drawing; }, 20000));

    // 60000 bytes, five channels: 6000 frames, 5999 points in each checked series.
    ASSERT_EQ(f.recording().data.size(), 60000);
    for (int n : { 1, 3, 5, 6, 7 })
        EXPECT_EQ(f.series(ChannelId(n - 1))->Count(), 5999) << n;
    EXPECT_EQ(f.series(ChannelId::T2)->Count(), 0);
    EXPECT_EQ(f.series(ChannelId::FD)->Count(), 5999);
    EXPECT_GT(f.session().ChannelIntervalUs(), 0);
    const chart::TChartSeries *t1 = f.series(ChannelId::T1);
    EXPECT_EQ(t1->XValue(0), f.session().ChannelIntervalUs() / f.chartBuilder().TimeDivisor());
    EXPECT_EQ(
        t1->XValue(5998), 5999 * f.session().ChannelIntervalUs() / f.chartBuilder().TimeDivisor());
    EXPECT_EQ(f.recording().header.ChartChannelBits, 0x75);
    EXPECT_TRUE(control<QWidget>(f, "Panel1")->isHidden());
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}
