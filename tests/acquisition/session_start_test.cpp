#include "tests/acquisition/sessiontestsupport.h"

using namespace acquisition;
using namespace sessiontest;

// Without a port the session runs its start sequence and sends into nothing, as a closed
// port would take the bytes: enough to look at what it prepares and shows.

TEST(SessionStart, StartFrameAndExchangeState)
{
    Controls controls;
    controls.d1Value = 99;
    controls.d2Value = 10;
    controls.mask = 0x07;
    controls.count = 3;
    controls.range = 1;
    MeasurementSession session(&controls);
    SignalLog<QByteArray> sent(&session, &MeasurementSession::commandSent);
    session.setFileCaption(QStringLiteral("ФАЙЛ a.kdx"));
    session.setRecordedByCycle(true);
    session.btChooseFClick();
    EXPECT_EQ(session.chooseFButton(), (ButtonLook { QStringLiteral("Закрыть"), ColourRed }));

    session.btStartClick();
    ASSERT_EQ(sent.count, 1);
    const QByteArray frame = sent.values.at(0);
    EXPECT_EQ(frame, buildStartFrame(0, 0x87, 99, 10, 8));
    EXPECT_EQ(session.OpeningCommand(), frame);
    EXPECT_EQ(session.CurrentCommand(), frame);
    EXPECT_EQ(session.PendingReplies(), 1);
    EXPECT_EQ(session.SessionBlocks(), 8);
    EXPECT_EQ(session.ChannelIntervalUs(), 621.5413411458334);
    EXPECT_FALSE(session.RecordedByCycle());
    EXPECT_FALSE(session.frequencyPanelVisible());
    EXPECT_EQ(session.chooseFButton(), (ButtonLook { QStringLiteral("Выбор F/T"), ColourBlack }));
    EXPECT_EQ(session.statusText(0), QStringLiteral("ИЗМЕРЕНИЕ"));
    EXPECT_EQ(session.XTitle(), QStringLiteral("Время, мкс"));
    EXPECT_EQ(session.state(), SessionState::Measuring);
    // 3055 cycles: 49.72 s for 8 blocks, shown on the progress panel.
    EXPECT_EQ(session.MeasurementMs(), 49723);
    EXPECT_TRUE(session.progress().visible);
    EXPECT_EQ(session.progress().maximum, 49723);
    EXPECT_EQ(session.progress().lAll, QStringLiteral("00:50"));
    EXPECT_EQ(session.progress().lElapsed, QStringLiteral("00:00"));
    EXPECT_EQ(session.progress().lRest, QStringLiteral("00:50"));

    // The range bit is cleared again for "250°".
    controls.range = 0;
    session.btStartClick();
    EXPECT_EQ(quint8(sent.values.at(1)[1]), 0x07);
}

TEST(SessionStart, ProgressPanelThresholdAndTransferEstimate)
{
    Controls controls;
    MeasurementSession session(&controls);
    // The measurement estimates on either side of 2000 ms that dividers can give.
    controls.d1Value = 2;
    controls.d2Value = 103;
    controls.blocks = 1;
    session.btStartClick();
    EXPECT_EQ(session.MeasurementMs(), 1998);
    EXPECT_FALSE(session.progress().visible);
    controls.d1Value = 6;
    controls.d2Value = 13;
    controls.blocks = 3;
    session.btStartClick();
    EXPECT_EQ(session.MeasurementMs(), 2002);
    EXPECT_TRUE(session.progress().visible);
    EXPECT_EQ(session.progress().lAll, QStringLiteral("00:02"));

    // TransferMs = blocks * 7000 / 8, its seconds rounded halves to even.
    const struct
    {
        int blocks;
        double transferMs;
        const char *text;
    } cases[] = { { 1, 875, "ПЕРЕДАЧА МАССИВА, 1с" }, { 4, 3500, "ПЕРЕДАЧА МАССИВА, 4с" },
        { 5, 4375, "ПЕРЕДАЧА МАССИВА, 4с" }, { 8, 7000, "ПЕРЕДАЧА МАССИВА, 7с" } };
    for (const auto &c : cases) {
        controls.blocks = c.blocks;
        session.btStartClick();
        EXPECT_EQ(session.TransferMs(), c.transferMs);
        EXPECT_EQ(session.TransferStatusText(), QString::fromUtf8(c.text));
    }
    EXPECT_EQ(measurementMs(3 * 257 * 256 + 55, 8), 3213395);
    EXPECT_EQ(timeText(125), QStringLiteral("02:05"));
    EXPECT_EQ(timeText(6000), QStringLiteral("100:00"));
}

TEST(SessionStart, KeysAndPanelToggle)
{
    Controls controls;
    MeasurementSession session(&controls);
    SignalLog<QByteArray> sent(&session, &MeasurementSession::commandSent);
    SignalLog<> opened(&session, &MeasurementSession::frequencyPanelOpened);

    session.btChooseFClick();
    EXPECT_TRUE(session.frequencyPanelVisible());
    EXPECT_EQ(opened.count, 1);
    session.btStartKeyPress(27); // Escape: hides the panel, starts nothing
    EXPECT_FALSE(session.frequencyPanelVisible());
    EXPECT_EQ(sent.count, 0);
    session.btChooseFClick();
    session.btChooseFClick();
    EXPECT_FALSE(session.frequencyPanelVisible());
    EXPECT_EQ(session.chooseFButton().caption, QStringLiteral("Выбор F/T"));
    session.btStartKeyPress(13); // Enter: starts
    EXPECT_EQ(sent.count, 1);
}

// The longest measurement, 3213 s, with the tick counter about to wrap: the bar moves to its
// end without going backwards, and the panel hides itself when it gets there.
TEST(SessionStart, ProgressOfTheLongestMeasurement)
{
    Controls controls;
    controls.d1Value = 256;
    controls.d2Value = 256;
    MeasurementSession session(&controls);
    quint32 now = 0xFFFFF000u;
    session.setTickSource([&] { return now; });
    const quint32 start = now;
    session.btStartClick();
    ASSERT_EQ(session.MeasurementMs(), 3213395);
    ASSERT_EQ(session.progressClock().total, 3213);
    ASSERT_TRUE(session.progressTimerActive());

    int last = 0;
    quint64 t = 0;
    for (; session.progressTimerActive() && t < 3300000; t += 250) {
        now = start + quint32(t);
        session.TimPrgssBarTimer();
        const ProgressView &view = session.progress();
        ASSERT_GE(view.position, last) << t;
        ASSERT_LE(view.position, view.maximum) << t;
        last = view.position;
        if (t == 1606500) {
            EXPECT_EQ(view.lbPercent, QStringLiteral("49%"));
            EXPECT_EQ(view.lbRestPercent, QStringLiteral("51%"));
            EXPECT_EQ(view.lElapsed, QStringLiteral("26:46"));
            EXPECT_EQ(view.lRest, QStringLiteral("26:47"));
            EXPECT_TRUE(view.visible);
        }
    }
    EXPECT_EQ(t, 3213000u + 250); // stopped at the first tick with 3213 s elapsed
    EXPECT_EQ(last, 3213395);
    EXPECT_FALSE(session.progress().visible);
    EXPECT_EQ(session.progress().lbPercent, QStringLiteral("100%"));
    EXPECT_EQ(session.progress().lRest, QStringLiteral("00:00"));
}

// A measurement waiting for the photodiode is cancelled; the board goes on and ends that
// recording when the photodiode fires, its end byte held in the USB bridge while the next
// measurement starts. The next start brings the line back in step first (a short read whose
// block and everything before it are dropped), so the late byte opens no transfer and the
// next recording is exactly what the board sent for it.
TEST(SessionStart, CancelledWaitAndItsLateEndByteLeaveTheNextMeasurementExact)
{
    sim::BoardOptions options;
    options.speed = 100;
    options.bridgeLatencyMs = 40;
    BoardLink link(options);
    Controls controls;
    controls.blocks = 1;
    MeasurementSession session(&controls);
    session.setPort(link.sessionPort.get());
    const QByteArray before = session.AcquisitionBuffer();

    session.setLaunchType(1);
    session.btStartClick();
    ASSERT_TRUE(
        link.board.waitForState(sim::BoardState::WaitingForTrigger, std::chrono::seconds(20)));
    EXPECT_TRUE(session.cancelMeasurement());
    EXPECT_EQ(session.state(), SessionState::Idle);
    EXPECT_EQ(session.statusText(0), QStringLiteral("Измерение отменено"));
    EXPECT_FALSE(session.progress().visible);
    EXPECT_EQ(session.AcquisitionBuffer(), before);
    EXPECT_FALSE(session.cancelMeasurement()); // nothing waits now

    link.board.trigger();
    ASSERT_TRUE(waitUntil([&] { return link.board.counters().endBytes == 1; }));
    session.setLaunchType(0);
    SignalLog<> complete(&session, &MeasurementSession::transferComplete);
    int failed = 0;
    QObject::connect(&session, &MeasurementSession::transferFailed, [&failed] { ++failed; });
    session.btStartClick();
    ASSERT_TRUE(
        waitUntil([&] { return complete.count == 1 && session.state() == SessionState::Idle; }));
    EXPECT_EQ(failed, 0);

    // Photodiode start frame, the short read, the start frame, the transfer, 119 requests.
    const QByteArray received = toBytes(link.board.received());
    const QByteArray expected = buildStartFrame(1, 0x7F, 1, 1, 1) + buildShortReadCommand(0, 0x7F)
        + buildStartFrame(0, 0x7F, 1, 1, 1) + QByteArray::fromHex("807f0000e0")
        + QByteArray(119, char(0x81));
    EXPECT_EQ(received.toHex(), expected.toHex());
    // The late end byte, the short read's block, the end byte, then 120 blocks.
    const QByteArray sent = toBytes(link.board.sent());
    ASSERT_EQ(sent.size(), 1 + 501 + 1 + 120 * 501);
    EXPECT_EQ(session.AcquisitionBuffer(), storedFromBlocks(sent, 1 + 501 + 1, 120));
}
