// The cycle mode and the short read in the window on real widgets, with the board simulator
// on a pty.
#include "acquisition/cyclerun.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/chartbuilder.h"
#include "app/contexthelp.h"
#include "app/cyclecontrol.h"
#include "app/form1.h"
#include "app/sessionpresenter.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "files/recoverystore.h"
#include "sim/boardsimulator.h"
#include "tests/app/testenvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

using app::TForm1;
using files::ChannelId;

namespace {

const QColor Red(255, 0, 0);
const QColor Black(0, 0, 0);

class CycleControlTest : public ::testing::Test
{
protected:
    void SetUp() override { startBoard({}); }

    void startBoard(sim::BoardOptions options)
    {
        ASSERT_TRUE(dir.isValid());
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
        options.speed = 100;
        board = std::make_unique<sim::BoardSimulator>(options);
        std::string error;
        ASSERT_TRUE(board->start(&error)) << error;
    }

    // A first run (no settings file) on the simulator.
    TForm1 &open()
    {
        app::FormEnvironment environment = apptest::environmentIn(dir, messages);
        app::AppOptions options;
        options.device = QString::fromStdString(board->devicePath());
        form = std::make_unique<TForm1>(dir.filePath("Ferrun.ini"), options, environment);
        form->show();
        QApplication::setActiveWindow(form.get());
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
        form->cycleControl().run().setMeminfoPath(dir.filePath("meminfo"));
        setAvailableKb(4 * 1024 * 1024);
        // What the third panel reads as each transfer begins (the presenter has written it).
        QObject::connect(&form->session(), &acquisition::MeasurementSession::stateChanged,
            form.get(), [this](acquisition::SessionState state) {
                const QString text = statusBar(*form)->panelText(2);
                if (state == acquisition::SessionState::Transferring && !text.isEmpty())
                    cycleTexts << text;
            });
        return *form;
    }

    void setAvailableKb(qint64 kb)
    {
        QFile file(dir.filePath("meminfo"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("MemAvailable: ") + QByteArray::number(kb) + " kB\n");
    }

    QList<files::RecoveryEntry> kept() const
    {
        return files::RecoveryStore(dir.filePath(QStringLiteral("recovery"))).entries();
    }

    QTemporaryDir dir;
    std::unique_ptr<sim::BoardSimulator> board;
    std::unique_ptr<TForm1> form;
    QStringList messages;
    QStringList cycleTexts;
};

} // namespace

// "ЦИКЛ" from the first-run panel, three cycles stored, "Стоп" during the fourth: the store
// holds three cycles, on disk as one entry of the recovery store and nothing else, the fourth
// cycle is drawn, nothing more starts.
TEST_F(CycleControlTest, ThreeCyclesThenStop)
{
    TForm1 &f = open();
    ASSERT_TRUE(control<QToolButton>(f, "btCycle")->isEnabled());
    acquisition::CycleRun &run = f.cycleControl().run();
    ASSERT_FALSE(control<QCheckBox>(f, "cb1file")->isChecked());
    ASSERT_FALSE(control<QCheckBox>(f, "cbAvgMC")->isChecked());

    QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
    EXPECT_EQ(control<QToolButton>(f, "btCycle")->text(), QStringLiteral("Стоп"));
    EXPECT_EQ(app::captionColor(control<QToolButton>(f, "btCycle")), Red);
    EXPECT_TRUE(f.cycleRunning());
    EXPECT_TRUE(control<QCheckBox>(f, "cbAvgMC")->isChecked());
    EXPECT_EQ(f.sampling().value(acquisition::Field::seSamples), 30000);

    ASSERT_TRUE(QTest::qWaitFor([&] { return run.storedCycles() == 3; }, 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return board->counters().startFrames == 4; }, 10000));
    QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
    EXPECT_EQ(control<QToolButton>(f, "btCycle")->text(), QStringLiteral("ЦИКЛ"));
    EXPECT_EQ(app::captionColor(control<QToolButton>(f, "btCycle")), Black);
    EXPECT_FALSE(f.cycleRunning());
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.presenter().CycleNumber() == 4; }, 10000));
    QTest::qWait(200);

    EXPECT_EQ(board->counters().startFrames, 4);
    EXPECT_EQ(run.storedCycles(), 3);
    const files::CycleStore &cycles = f.work().cycles();
    ASSERT_EQ(cycles.count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(cycles.cycle(i).size(), 3500) << i;
    const QList<files::RecoveryEntry> entries = kept();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries.first().kind, files::RecoveryKind::Cycles);
    EXPECT_EQ(entries.first().dataLength, 3 * 3500);
    EXPECT_EQ(cycleTexts, QStringList({ "Цикл №0", "Цикл №1", "Цикл №2", "Цикл №3" }));
    EXPECT_EQ(statusBar(f)->panelText(2), QStringLiteral("Цикл №3"));
    EXPECT_TRUE(f.work().recordedByCycle());
    // The fourth cycle is on the chart: 3500 bytes of seven channels, 250 frames.
    EXPECT_EQ(f.recording().data.size(), 3500);
    EXPECT_EQ(f.series(ChannelId::T1)->Count(), 249);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

// A low-memory reading stops the run with the message after the first cycle stored: the
// cycle that found it is not stored, and the caption stays "Стоп" until pressed.
TEST_F(CycleControlTest, LowMemoryStopsTheRun)
{
    TForm1 &f = open();
    acquisition::CycleRun &run = f.cycleControl().run();
    QObject::connect(&run, &acquisition::CycleRun::cycleStored, [&](int stored, qsizetype) {
        if (stored == 1)
            setAvailableKb(100);
    });
    QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages.isEmpty(); }, 30000));
    QTest::qWait(200);
    EXPECT_EQ(
        messages, QStringList({ "Измерение завершено: свободной оперативной памяти менее 512К" }));
    EXPECT_EQ(f.work().cycles().count(), 1);
    EXPECT_EQ(f.work().cycles().dataBytes(), 3500);
    EXPECT_EQ(board->counters().startFrames, 2);
    EXPECT_EQ(control<QToolButton>(f, "btCycle")->text(), QStringLiteral("Стоп"));
    EXPECT_TRUE(f.cycleRunning());
    QTest::mouseClick(control<QToolButton>(f, "btCycle"), Qt::LeftButton);
    EXPECT_EQ(control<QToolButton>(f, "btCycle")->text(), QStringLiteral("ЦИКЛ"));
    EXPECT_FALSE(f.cycleRunning());
}

// "500 байт" with seven channels: 35 frames, 34 points a line, on the time axis of the last
// measurement's channel interval, which the short read leaves as it was. A short read the
// board does not answer leaves the buffer and the chart as they were.
TEST_F(CycleControlTest, ShortReadDrawnAtOnceAndNoReplyChangesNothing)
{
    sim::BoardOptions options;
    options.stallAfter = 1; // the first short read is answered, nothing after it
    startBoard(options);
    TForm1 &f = open();
    // The short read takes the channel interval of the last measurement or file.
    const QString earlier = dir.filePath(QStringLiteral("earlier.kdx"));
    files::DataFileHeader header;
    header.ChartChannelBits = files::ThermocoupleBits;
    header.ChannelIntervalUs = 100;
    ASSERT_TRUE(files::saveDataFile(earlier, header, QByteArray(28, '\x01'), {}));
    f.openFile(earlier);
    ASSERT_EQ(f.recording().savedPath, earlier);
    QTest::mouseClick(control<QToolButton>(f, "bt500plus"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.recording().data.size() == 500; }, 10000));
    const chart::TChartSeries *t1 = f.series(ChannelId::T1);
    ASSERT_EQ(t1->Count(), 34);
    for (int n = 2; n <= 7; ++n)
        EXPECT_EQ(f.series(ChannelId(n - 1))->Count(), 34) << n;
    EXPECT_EQ(f.recording().header.ChannelIntervalUs, 100);
    EXPECT_EQ(f.recording().origin, files::RecordingOrigin::ShortRead);
    EXPECT_DOUBLE_EQ(t1->XValue(0), 100 / f.chartBuilder().TimeDivisor());
    EXPECT_DOUBLE_EQ(t1->XValue(33), 34 * 100 / f.chartBuilder().TimeDivisor());
    EXPECT_FALSE(f.work().recordedByCycle());

    const QByteArray before = f.recording().data;
    std::vector<double> ys;
    for (int i = 0; i < t1->Count(); ++i)
        ys.push_back(t1->YValue(i));
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    ASSERT_TRUE(control<QPushButton>(f, "bt500")->isVisible());
    QTest::mouseClick(control<QPushButton>(f, "bt500"), Qt::LeftButton);
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return board->counters().ignoredBytes >= 3; }, 10000));
    QTest::qWait(300);
    EXPECT_TRUE(f.recording().data == before);
    ASSERT_EQ(t1->Count(), 34);
    for (int i = 0; i < t1->Count(); ++i)
        EXPECT_EQ(t1->YValue(i), ys[size_t(i)]) << i;
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}
