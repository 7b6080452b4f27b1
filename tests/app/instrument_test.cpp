// The window on the board simulator: discovery, a measurement started by mouse, the short
// read, the re-read, tuning and reconnecting, through the real serial port on a pty.
#include "acquisition/instrument.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "app/contexthelp.h"
#include "app/form1.h"
#include "app/sessionpresenter.h"
#include "app/spinedit.h"
#include "app/statusbar.h"
#include "chart/chart.h"
#include "files/inifile.h"
#include "files/recoverystore.h"
#include "files/settings.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"
#include "tests/app/testenvironment.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

using acquisition::Field;
using app::TForm1;
namespace K = files::SettingsKeys;

namespace {

const QString NotFound = QStringLiteral("АЦП не обнаружено");
const QString Drawing = QStringLiteral("ПОСТРОЕНИЕ ГРАФИКА");
constexpr int Patience = 20000; // ms; generous, only a failing test waits this long

class InstrumentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("Ferrun.ini"));
        app::ContextHelp::setHelpFile(QStringLiteral("Ferrun.HLP"));
    }

    // Starts a fast board: recording time divided by 1000.
    sim::BoardSimulator &startBoard()
    {
        sim::BoardOptions options;
        options.speed = 1000;
        board = std::make_unique<sim::BoardSimulator>(options);
        std::string error;
        EXPECT_TRUE(board->start(&error)) << error;
        return *board;
    }

    QString boardPath() const { return QString::fromStdString(board->devicePath()); }

    TForm1 &open(const app::AppOptions &options)
    {
        app::FormEnvironment environment = apptest::environmentIn(dir, messages);
        form = std::make_unique<TForm1>(path, options, environment);
        return *form;
    }

    TForm1 &openOnBoard()
    {
        app::AppOptions options;
        options.device = boardPath();
        TForm1 &f = open(options);
        f.show();
        QApplication::setActiveWindow(&f);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&f));
        return f;
    }

    static std::vector<QWidget *> measurementButtons(const TForm1 &f)
    {
        return { control<QPushButton>(f, "btStart"), control<QToolButton>(f, "btStartPlus"),
            control<QToolButton>(f, "btCycle"), control<QPushButton>(f, "bt500"),
            control<QToolButton>(f, "bt500plus") };
    }

    static bool allEnabled(const TForm1 &f, bool enabled)
    {
        for (QWidget *button : measurementButtons(f))
            if (button->isEnabled() != enabled)
                return false;
        return true;
    }

    template <typename Predicate> bool waitFor(Predicate predicate)
    {
        return QTest::qWaitFor(predicate, Patience);
    }

    sim::BoardCounters counters() const { return board->counters(); }

    QByteArray received() const
    {
        const std::vector<std::uint8_t> bytes = board->received();
        return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    }

    // Brings seSamples down to one block with its spin button, as a user would.
    static void selectOneBlock(TForm1 &f)
    {
        if (!control<QGroupBox>(f, "gbFT")->isVisible())
            QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
        control<app::SpinEdit>(f, "seSamples")->setFocus();
        while (control<app::SpinEdit>(f, "seSamples")->value() > 30000)
            QTest::keyClick(control<app::SpinEdit>(f, "seSamples"), Qt::Key_Down);
        ASSERT_EQ(f.sampling().SRAMblocks(), 1);
    }

    // The bytes of a failed transfer are in the recovery store, the one entry there: named as
    // a failed transfer, faulty when reopened, `bytes` long.
    void expectFailedTransferKept(qsizetype bytes) const
    {
        const QList<files::RecoveryEntry> entries
            = files::RecoveryStore(dir.filePath(QStringLiteral("recovery"))).entries();
        ASSERT_EQ(entries.size(), 1);
        EXPECT_EQ(entries.first().kind, files::RecoveryKind::FailedTransfer);
        EXPECT_TRUE(entries.first().path.endsWith(QStringLiteral("-failed.kdx")));
        files::Recording back;
        ASSERT_EQ(
            files::RecoveryStore::reopen(entries.first().path, &back), files::DataFileStatus::Ok);
        EXPECT_EQ(back.data.size(), bytes);
        EXPECT_TRUE(back.faulty);
    }

    QTemporaryDir dir;
    QString path;
    std::unique_ptr<sim::BoardSimulator> board;
    std::unique_ptr<TForm1> form; // destroyed before the board
    QStringList messages;
};

} // namespace

TEST_F(InstrumentTest, MeasurementStartedByMouseFillsTheSessionBuffer)
{
    startBoard();
    TForm1 &f = openOnBoard();
    // Start-up connected: buttons enabled, the probe on the board, nothing to tell the user.
    EXPECT_TRUE(allEnabled(f, true));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
    ASSERT_TRUE(waitFor([&] { return counters().probes == 1; }));
    EXPECT_EQ(received(), QByteArray("\x29"));
    EXPECT_TRUE(f.instrument().port().IsOpen());

    // One block at 2400 Hz (d1 = 202, d2 = 10: 6145 cycles a sample) records for 12502 ms
    // at the controller's pace, so the progress panel opens with the whole time.
    selectOneBlock(f);
    QTest::mouseClick(control<QPushButton>(f, "btStart"), Qt::LeftButton);
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_TRUE(control<QWidget>(f, "Panel1")->isVisible());
    EXPECT_EQ(control<QLabel>(f, "lAll")->text(), QStringLiteral("00:13"));
    EXPECT_EQ(control<QLabel>(f, "lElapsed")->text(), QStringLiteral("00:00"));
    EXPECT_EQ(control<QProgressBar>(f, "progressBar")->maximum(), 12502);
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("ИЗМЕРЕНИЕ"));

    ASSERT_TRUE(waitFor([&] { return statusBar(f)->panelText(0) == Drawing; }));
    EXPECT_EQ(f.recording().data.size(), 120 * 500);
    EXPECT_TRUE(control<QWidget>(f, "Panel1")->isHidden());
    EXPECT_EQ(f.session().CurrentCommand(), QByteArray(1, '\0'));
    EXPECT_TRUE(statusBar(f)->panelText(2).isEmpty()); // a single measurement names no cycle
    EXPECT_EQ(control<QGroupBox>(f, "gbFile")->title(), QStringLiteral("Комментарий"));
    const sim::BoardCounters c = counters();
    EXPECT_EQ(c.startFrames, 1);
    EXPECT_EQ(c.transfers, 1);
    EXPECT_EQ(c.blockRequests, 119);
    EXPECT_EQ(c.badChecksums, 0);

    // Averaging, ticked by mouse, is read when the transfer begins: 7 blocks of 500 bytes.
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    QTest::mouseClick(control<QCheckBox>(f, "cbAvgMC"), Qt::LeftButton);
    ASSERT_TRUE(control<QCheckBox>(f, "cbAvgMC")->isChecked());
    QTest::mouseClick(control<QToolButton>(f, "btStartPlus"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return counters().transfers == 2; }));
    ASSERT_TRUE(waitFor([&] { return statusBar(f)->panelText(0) == Drawing; }));
    EXPECT_EQ(f.recording().data.size(), 7 * 500);
    EXPECT_EQ(counters().blockRequests, 119 + 6);

    // Closing the window lets go of the port: nothing measures afterwards.
    f.expectUnattendedClose();
    f.close();
    EXPECT_EQ(f.session().port(), nullptr);
    EXPECT_TRUE(allEnabled(f, false));
}

TEST_F(InstrumentTest, ShortReadReReadAndTuningReachTheBoard)
{
    startBoard();
    TForm1 &f = openOnBoard();
    ASSERT_TRUE(waitFor([&] { return counters().probes == 1; }));

    // "500 байт" with T3 unchecked and the 500° range: one block replaces the buffer.
    QTest::mouseClick(channelBox(f, 2), Qt::LeftButton);
    control<QComboBox>(f, "cbTrng")->setCurrentIndex(1);
    QTest::mouseClick(control<QToolButton>(f, "bt500plus"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return statusBar(f)->panelText(0) == Drawing; }));
    EXPECT_EQ(f.recording().data.size(), 500);
    EXPECT_TRUE(received().endsWith(QByteArray::fromHex("14fb00")));

    // The re-read by a double click on the tool-bar band: block 0 of the memory.
    QTest::mouseDClick(control<QWidget>(f, "ctlBar"), Qt::LeftButton, {},
        QPoint(control<QWidget>(f, "ctlBar")->width() - 3, 3));
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("ИЗМЕРЕНИЕ"));
    ASSERT_TRUE(waitFor([&] { return statusBar(f)->panelText(0) == Drawing; }));
    EXPECT_EQ(counters().reReads, 1);
    EXPECT_EQ(f.recording().data.size(), 500);
    EXPECT_TRUE(received().endsWith(QByteArray::fromHex("1600")));

    // Tuning: begun by the button, ended by closing the options panel.
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(f, "btTune"), Qt::LeftButton);
    EXPECT_EQ(control<QPushButton>(f, "btTune")->text(), QStringLiteral("Завершить (ФД)"));
    ASSERT_TRUE(waitFor([&] { return counters().tuneBegins == 1; }));
    QTest::mouseClick(control<QToolButton>(f, "btOptions"), Qt::LeftButton);
    EXPECT_EQ(control<QPushButton>(f, "btTune")->text(), QStringLiteral("Настройка ФД"));
    ASSERT_TRUE(waitFor([&] { return counters().tuneEnds == 1; }));
    EXPECT_TRUE(received().endsWith(QByteArray::fromHex("1011")));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
}

TEST_F(InstrumentTest, ProgressPanelFollowsTheClock)
{
    startBoard();
    TForm1 &f = openOnBoard();
    auto now = std::make_shared<quint32>(1000);
    f.presenter().setTickSource([now] { return *now; });
    // Launched on the photodiode signal, which never comes: the panel runs on its own.
    selectOneBlock(f);
    QTest::mouseClick(control<QToolButton>(f, "btExtrn"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(f, "btStart"), Qt::LeftButton);
    ASSERT_TRUE(board->waitForState(sim::BoardState::WaitingForTrigger, std::chrono::seconds(20)));
    EXPECT_TRUE(control<QWidget>(f, "Panel1")->isVisible());
    EXPECT_EQ(control<QLabel>(f, "lAll")->text(), QStringLiteral("00:13"));
    EXPECT_EQ(control<QLabel>(f, "lRest")->text(), QStringLiteral("00:13"));
    EXPECT_TRUE(control<QLabel>(f, "lbPercent")->text().isEmpty());

    *now += 6500; // 6 of 13 seconds
    ASSERT_TRUE(
        waitFor([&] { return control<QLabel>(f, "lbPercent")->text() == QStringLiteral("46%"); }));
    EXPECT_EQ(control<QLabel>(f, "lbRestPercent")->text(), QStringLiteral("54%"));
    EXPECT_EQ(control<QLabel>(f, "lElapsed")->text(), QStringLiteral("00:06"));
    EXPECT_EQ(control<QLabel>(f, "lRest")->text(), QStringLiteral("00:07"));
    EXPECT_EQ(control<QProgressBar>(f, "progressBar")->value(), 12502 * 6 / 13);
    EXPECT_TRUE(control<QWidget>(f, "Panel1")->isVisible());

    // The estimate runs out: the panel hides itself; the session still waits for the board.
    *now += 7000;
    ASSERT_TRUE(waitFor([&] { return control<QWidget>(f, "Panel1")->isHidden(); }));
    EXPECT_EQ(control<QLabel>(f, "lbPercent")->text(), QStringLiteral("100%"));
    EXPECT_EQ(control<QLabel>(f, "lRest")->text(), QStringLiteral("00:00"));
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("ИЗМЕРЕНИЕ"));
}

TEST_F(InstrumentTest, WithoutInstrumentTheButtonsStayDisabled)
{
    TForm1 &f = open({});
    EXPECT_EQ(messages, QStringList { NotFound });
    EXPECT_TRUE(allEnabled(f, false));
    EXPECT_FALSE(f.instrument().port().IsOpen());
    EXPECT_TRUE(statusBar(f)->panelText(0).isEmpty());
    // btUSB looks again and says so again.
    QTest::mouseClick(control<QToolButton>(f, "btUSB"), Qt::LeftButton);
    EXPECT_EQ(messages, (QStringList { NotFound, NotFound }));
    EXPECT_TRUE(allEnabled(f, false));
    // The re-read does not claim a measurement without an instrument either.
    QTest::mouseDClick(control<QWidget>(f, "ctlBar"), Qt::LeftButton, {},
        QPoint(control<QWidget>(f, "ctlBar")->width() - 3, 3));
    EXPECT_TRUE(statusBar(f)->panelText(0).isEmpty());
    EXPECT_TRUE(f.session().OpeningCommand().isEmpty());
    // A start without a port sends nothing and does not fail.
    apptest::enableMeasuring(f);
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(f, "btStart"), Qt::LeftButton);
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("ИЗМЕРЕНИЕ"));
    EXPECT_EQ(messages.size(), 2);
}

TEST_F(InstrumentTest, UsbButtonConnectsOnceTheDeviceIsThere)
{
    // The named device does not exist yet: it cannot be opened.
    startBoard();
    const QString link = dir.filePath(QStringLiteral("ttyBoard"));
    app::AppOptions options;
    options.device = link;
    TForm1 &f = open(options);
    EXPECT_EQ(messages, QStringList { NotFound });
    EXPECT_EQ(statusBar(f)->panelText(0), QStringLiteral("USB: нет связи"));
    EXPECT_TRUE(allEnabled(f, false));

    // "Plugged in": btUSB opens it, probes and enables the buttons.
    ASSERT_TRUE(QFile::link(boardPath(), link));
    QTest::mouseClick(control<QToolButton>(f, "btUSB"), Qt::LeftButton);
    EXPECT_TRUE(allEnabled(f, true));
    EXPECT_EQ(messages.size(), 1);
    ASSERT_TRUE(waitFor([&] { return counters().probes == 1; }));

    // Pressed again while the board waits for the photodiode: the port is reopened and the
    // wait, which belonged to the port that went, is over (the start buttons read "ПУСК
    // ИЗМЕРЕНИЯ" again); a new start from the computer runs to the end on the new port.
    selectOneBlock(f);
    QTest::mouseClick(control<QToolButton>(f, "btExtrn"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>(f, "btStart"), Qt::LeftButton);
    ASSERT_TRUE(board->waitForState(sim::BoardState::WaitingForTrigger, std::chrono::seconds(20)));
    EXPECT_EQ(control<QToolButton>(f, "btStartPlus")->text(), QStringLiteral("Отменить"));
    QTest::mouseClick(control<QToolButton>(f, "btUSB"), Qt::LeftButton);
    EXPECT_TRUE(allEnabled(f, true));
    ASSERT_TRUE(waitFor([&] { return counters().probes == 2; }));
    QTest::mouseClick(control<QToolButton>(f, "btExtrn"), Qt::LeftButton);
    EXPECT_EQ(control<QToolButton>(f, "btStartPlus")->text(), QStringLiteral("ПУСК ИЗМЕРЕНИЯ"));
    QTest::mouseClick(control<QToolButton>(f, "btStartPlus"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] {
        return statusBar(f)->panelText(0) == Drawing && f.recording().data.size() == 60000;
    }));
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(InstrumentTest, ErrorsRaisedInPortHandlersReachTheUser)
{
    open({});
    messages.clear();
    const QString text = QStringLiteral("Read error (5), Input/output error");
    serial::reportException(serial::ESerialPortError(text));
    serial::reportException(serial::ESerialPortError(text));
    // Shown once the handler that raised it has returned, and once for a repeated failure.
    EXPECT_TRUE(messages.isEmpty());
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(messages, QStringList { text });
    // A report after the window has gone goes nowhere near it.
    form.reset();
    serial::reportException(serial::ESerialPortError(text));
    QCoreApplication::processEvents();
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(InstrumentTest, BuiltInSimulatorIsFoundAtStartUp)
{
    app::AppOptions options;
    options.simulator = true;
    TForm1 &f = open(options);
    ASSERT_TRUE(f.instrument().simulator());
    EXPECT_TRUE(messages.isEmpty()) << messages.join(u'|').toStdString();
    EXPECT_TRUE(allEnabled(f, true));
    EXPECT_TRUE(f.instrument().simulator()->waitFor(
        [](const sim::BoardCounters &c) { return c.probes == 1; }, std::chrono::seconds(20)));
    // The settings are written at close as ever.
    f.close();
    EXPECT_EQ(files::IniFile(path).readInteger(K::launchSection, K::launchType, -1), 0);
}

TEST_F(InstrumentTest, BoardThatGoesAwayIsReportedAndTheButtonsGoOff)
{
    // The board closes its line in the middle of the 5th block of a transfer.
    sim::BoardOptions options;
    options.speed = 1000;
    options.hangupAfter = 6;
    board = std::make_unique<sim::BoardSimulator>(options);
    std::string error;
    ASSERT_TRUE(board->start(&error)) << error;
    TForm1 &f = openOnBoard();
    ASSERT_TRUE(allEnabled(f, true));
    selectOneBlock(f);
    QTest::mouseClick(control<QPushButton>(f, "btStart"), Qt::LeftButton);

    ASSERT_TRUE(waitFor([&] { return !f.instrument().port().IsOpen(); }));
    EXPECT_TRUE(allEnabled(f, false));
    // The broken transfer is reported as such, once.
    const QString disconnected = QStringLiteral("Плата отключена");
    EXPECT_EQ(statusBar(f)->panelText(0), disconnected);
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(messages, QStringList { disconnected });
    // The blocks that did arrive are drawn, whole, as a faulty recording, and kept in the
    // recovery store as a failed transfer.
    EXPECT_EQ(f.recording().data.size(), 4 * 500);
    EXPECT_TRUE(f.recording().faulty);
    expectFailedTransferKept(4 * 500);
}

// A block of 502 bytes puts the transfer out of step: the window says so in the status bar
// and a message, keeps what arrived as a faulty recording, and the next start records cleanly.
TEST_F(InstrumentTest, TransferOutOfStepIsShownAndTheRecordingFlagged)
{
    sim::BoardOptions options;
    options.speed = 1000;
    options.extraByteAfter = 11; // the 10th block
    board = std::make_unique<sim::BoardSimulator>(options);
    std::string error;
    ASSERT_TRUE(board->start(&error)) << error;
    TForm1 &f = openOnBoard();
    selectOneBlock(f);
    QTest::mouseClick(control<QPushButton>(f, "btStart"), Qt::LeftButton);
    const QString outOfStep
        = app::SessionPresenter::failureText(acquisition::SessionFailure::OutOfStep);
    ASSERT_TRUE(waitFor([&] { return !messages.isEmpty(); }));
    EXPECT_EQ(messages, QStringList { outOfStep });
    EXPECT_EQ(statusBar(f)->panelText(0), outOfStep);
    EXPECT_TRUE(f.recording().faulty);
    // The blocks before the one that came with the stray byte, or a few more when the byte
    // showed up only after the block it came with had been taken; never the whole array.
    const qsizetype kept = f.recording().data.size();
    EXPECT_EQ(kept % 500, 0);
    EXPECT_GE(kept, 9 * 500);
    EXPECT_LT(kept, 60000);
    EXPECT_TRUE(allEnabled(f, true));
    // Drawn for a look: frames of seven channels (14 bytes), the first not drawn.
    EXPECT_EQ(f.series(files::ChannelId::T1)->Count(), kept / 14 - 1);
    expectFailedTransferKept(kept);

    QTest::mouseClick(control<QPushButton>(f, "btStart"), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] {
        return statusBar(f)->panelText(0) == Drawing && f.recording().data.size() == 60000;
    }));
    EXPECT_FALSE(f.recording().faulty);
    EXPECT_EQ(messages.size(), 1);
}

TEST_F(InstrumentTest, PanelToggleReadsItsOwnCaptionWhenThePanelIsHiddenByOtherMeans)
{
    startBoard();
    TForm1 &f = openOnBoard();
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    ASSERT_TRUE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_EQ(control<QToolButton>(f, "btChooseF")->text(), QStringLiteral("Закрыть"));
    // Escape on the start button hides the panel; the toggle then reads "Выбор F/T" in black.
    control<QPushButton>(f, "btStart")->setFocus();
    QTest::keyClick(control<QPushButton>(f, "btStart"), Qt::Key_Escape);
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_EQ(control<QToolButton>(f, "btChooseF")->text(), QStringLiteral("Выбор F/T"));
    EXPECT_EQ(app::captionColor(control<QToolButton>(f, "btChooseF")), QColor(Qt::black));
    // So does the re-read on a double click of the tool-bar band.
    QTest::mouseClick(control<QToolButton>(f, "btChooseF"), Qt::LeftButton);
    ASSERT_EQ(control<QToolButton>(f, "btChooseF")->text(), QStringLiteral("Закрыть"));
    QTest::mouseDClick(control<QWidget>(f, "ctlBar"), Qt::LeftButton, {},
        QPoint(control<QWidget>(f, "ctlBar")->width() - 3, 5));
    EXPECT_FALSE(control<QGroupBox>(f, "gbFT")->isVisible());
    EXPECT_EQ(control<QToolButton>(f, "btChooseF")->text(), QStringLiteral("Выбор F/T"));
}
