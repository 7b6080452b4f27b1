// The window and a board that is plugged in and out: fake sysfs and device trees whose
// device node is a link to the board simulator's pseudo-terminal.
#include "acquisition/instrument.h"
#include "acquisition/instrumentlink.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "app/hotplug.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"
#include "tests/acquisition/discoveryfakesysfs.h"
#include "tests/app/controls.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

using app::TForm1;
using testsupport::FakeSysfs;

namespace {

const QString NotFound = QStringLiteral("АЦП не обнаружено");
const QString NoLink = QStringLiteral("USB: нет связи");
const QString Drawing = QStringLiteral("ПОСТРОЕНИЕ ГРАФИКА");
constexpr int Patience = 20000; // ms; only a failing test waits this long

class HotPlugTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(devRoot()));
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    }

    void TearDown() override
    {
        form.reset(); // before the boards
    }

    QString devRoot() const { return dir.filePath(QStringLiteral("dev")); }
    QString node(const QString &name) const { return devRoot() + u'/' + name; }

    std::unique_ptr<sim::BoardSimulator> startBoard(double speed = 1000)
    {
        sim::BoardOptions options;
        options.speed = speed;
        auto board = std::make_unique<sim::BoardSimulator>(options);
        std::string error;
        EXPECT_TRUE(board->start(&error)) << error;
        return board;
    }

    // As the kernel does it: the sysfs entries, then the node (here a link to the board).
    void plug(const QString &usbPort, const QString &name, const sim::BoardSimulator &board)
    {
        sysfs.addInstrument(usbPort, name);
        ASSERT_TRUE(QFile::link(QString::fromStdString(board.devicePath()), node(name)));
    }

    void unplugEntries(const QString &usbPort, const QString &name)
    {
        QFile::remove(node(name));
        QFile::remove(sysfs.root() + QStringLiteral("/class/tty/") + name);
        QDir(sysfs.root() + QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/") + usbPort)
            .removeRecursively();
    }

    TForm1 &open()
    {
        app::FormEnvironment environment;
        environment.showMessage = [this](const QString &text) { messages << text; };
        environment.sysfsRoot = sysfs.root();
        environment.devRoot = devRoot();
        form = std::make_unique<TForm1>(
            dir.filePath(QStringLiteral("Ferrun.ini")), app::AppOptions {}, environment);
        form->show();
        return *form;
    }

    static bool allEnabled(const TForm1 &f, bool enabled)
    {
        for (const QWidget *button :
            std::initializer_list<const QWidget *> { control<QPushButton>(f, "btStart"),
                control<QToolButton>(f, "btStartPlus"), control<QToolButton>(f, "btCycle"),
                control<QPushButton>(f, "bt500"), control<QToolButton>(f, "bt500plus") })
            if (button->isEnabled() != enabled)
                return false;
        return true;
    }

    template <typename Predicate> static bool waitFor(Predicate predicate)
    {
        return QTest::qWaitFor(predicate, Patience);
    }

    QTemporaryDir dir;
    FakeSysfs sysfs { dir.filePath(QStringLiteral("sys")) };
    std::unique_ptr<TForm1> form;
    QStringList messages;
};

} // namespace

TEST_F(HotPlugTest, BoardPluggedInUnpluggedAndPluggedInAgain)
{
    TForm1 &f = open();
    ASSERT_TRUE(f.hotPlug());
    EXPECT_TRUE(f.hotPlug()->watcher().isWatching());
    EXPECT_EQ(messages, QStringList { NotFound }); // start-up without the board
    EXPECT_TRUE(allEnabled(f, false));
    messages.clear();

    // Plugged in: connected as btUSB would, without a message.
    std::unique_ptr<sim::BoardSimulator> board = startBoard();
    plug(QStringLiteral("1-1"), QStringLiteral("ttyUSB0"), *board);
    ASSERT_TRUE(waitFor([&] { return allEnabled(f, true); }));
    EXPECT_TRUE(f.instrument().port().IsOpen());
    EXPECT_EQ(f.instrument().device(), node(QStringLiteral("ttyUSB0")));
    ASSERT_TRUE(board->waitFor(
        [](const sim::BoardCounters &c) { return c.probes == 1; }, std::chrono::seconds(20)));
    QTest::qWait(50);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();

    // Unplugged: the node goes and the line dies; the window reports it as it always has.
    unplugEntries(QStringLiteral("1-1"), QStringLiteral("ttyUSB0"));
    board->stop();
    ASSERT_TRUE(waitFor([&] { return !f.instrument().port().IsOpen(); }));
    EXPECT_TRUE(allEnabled(f, false));
    EXPECT_EQ(statusBar(f)->panelText(0), NoLink);
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    QTest::qWait(50);
    EXPECT_EQ(messages, QStringList { NotFound });
    messages.clear();

    // Plugged in again (another USB port, another node): connected again, the stale
    // "no link" text gone.
    std::unique_ptr<sim::BoardSimulator> again = startBoard();
    plug(QStringLiteral("1-2"), QStringLiteral("ttyUSB1"), *again);
    ASSERT_TRUE(waitFor([&] { return allEnabled(f, true); }));
    EXPECT_EQ(f.instrument().device(), node(QStringLiteral("ttyUSB1")));
    EXPECT_TRUE(statusBar(f)->panelText(0).isEmpty()) << statusBar(f)->panelText(0).toStdString();
    ASSERT_TRUE(again->waitFor(
        [](const sim::BoardCounters &c) { return c.probes == 1; }, std::chrono::seconds(20)));

    // A foreign serial device, and a second board, appearing change nothing.
    sysfs.addUsbPort(
        QStringLiteral("1-3"), 0x0403, 0x6001, QStringLiteral("A1"), 0, QStringLiteral("ttyUSB5"));
    ASSERT_TRUE(QFile::link(QString::fromStdString(board->devicePath()), node("ttyUSB5")));
    std::unique_ptr<sim::BoardSimulator> second = startBoard();
    plug(QStringLiteral("1-4"), QStringLiteral("ttyUSB7"), *second);
    ASSERT_TRUE(waitFor([&] {
        return f.hotPlug()->watcher().instrument()
            && f.hotPlug()->watcher().instrument()->devicePath == node("ttyUSB7");
    }));
    QTest::qWait(100);
    EXPECT_TRUE(allEnabled(f, true));
    EXPECT_EQ(f.instrument().device(), node(QStringLiteral("ttyUSB1")));
    EXPECT_EQ(again->counters().probes, 1);
    EXPECT_EQ(second->counters().bytesReceived, 0);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();

    // The window closed: a board plugged in afterwards is left alone.
    f.close();
    std::unique_ptr<sim::BoardSimulator> late = startBoard();
    unplugEntries(QStringLiteral("1-2"), QStringLiteral("ttyUSB1"));
    unplugEntries(QStringLiteral("1-4"), QStringLiteral("ttyUSB7"));
    plug(QStringLiteral("1-6"), QStringLiteral("ttyUSB9"), *late);
    QTest::qWait(100);
    EXPECT_EQ(late->counters().bytesReceived, 0);
}

TEST_F(HotPlugTest, DeviceAppearingDuringAMeasurementChangesNothing)
{
    // Records one block for about 1.25 s.
    std::unique_ptr<sim::BoardSimulator> board = startBoard(10);
    plug(QStringLiteral("1-1"), QStringLiteral("ttyUSB0"), *board);
    TForm1 &f = open();
    ASSERT_TRUE(allEnabled(f, true));
    EXPECT_TRUE(messages.isEmpty());
    control<app::SpinEdit>(f, "seSamples")->setFocus();
    control<QToolButton>(f, "btChooseF")->click();
    while (f.sampling().SRAMblocks() > 1)
        QTest::keyClick(control<app::SpinEdit>(f, "seSamples"), Qt::Key_Down);
    QTest::mouseClick(control<QPushButton>(f, "btStart"), Qt::LeftButton);
    ASSERT_TRUE(board->waitForState(sim::BoardState::Recording, std::chrono::seconds(20)));

    // Another board with the instrument's identity, under a name discovery would now prefer.
    std::unique_ptr<sim::BoardSimulator> second = startBoard();
    plug(QStringLiteral("1-2"), QStringLiteral("ttyUSB3"), *second);
    ASSERT_TRUE(waitFor([&] {
        return f.hotPlug()->watcher().instrument()
            && f.hotPlug()->watcher().instrument()->devicePath == node("ttyUSB3");
    }));
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("ИЗМЕРЕНИЕ"));

    ASSERT_TRUE(waitFor([&] { return statusBar(f)->panelText(0) == Drawing; }));
    EXPECT_EQ(f.recording().data.size(), 60000);
    EXPECT_EQ(f.instrument().device(), node(QStringLiteral("ttyUSB0")));
    const sim::BoardCounters c = board->counters();
    EXPECT_EQ(c.probes, 1);
    EXPECT_EQ(c.startFrames, 1);
    EXPECT_EQ(c.transfers, 1);
    EXPECT_EQ(second->counters().bytesReceived, 0);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

TEST_F(HotPlugTest, NothingIsWatchedForANamedDevice)
{
    std::unique_ptr<sim::BoardSimulator> board = startBoard();
    app::FormEnvironment environment;
    environment.showMessage = [this](const QString &text) { messages << text; };
    environment.sysfsRoot = sysfs.root();
    environment.devRoot = devRoot();
    app::AppOptions options;
    options.device = QString::fromStdString(board->devicePath());
    form = std::make_unique<TForm1>(
        dir.filePath(QStringLiteral("Ferrun.ini")), options, environment);
    EXPECT_FALSE(form->hotPlug());
}
