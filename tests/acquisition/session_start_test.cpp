#include "tests/acquisition/sessiontestsupport.h"

using namespace acquisition;
using namespace sessiontest;

// Without a port the session runs its start sequence and sends into nothing, as a closed
// port would take the bytes: enough to look at what it prepares.
TEST(SessionStart, StartFrameAndExchangeState)
{
    MeasurementSession session;
    SignalLog<QByteArray> sent(&session, &MeasurementSession::commandSent);
    SignalLog<SessionState> states(&session, &MeasurementSession::stateChanged);
    Outcomes outcomes(session);

    MeasurementRequest r = request(8, false, 0x07);
    r.plan.d1 = 99;
    r.plan.d2 = 10;
    r.rangeIndex = 1;
    session.startMeasurement(r);
    ASSERT_EQ(sent.count, 1);
    const QByteArray frame = sent.values.at(0);
    EXPECT_EQ(frame, buildStartFrame(0, 0x87, 99, 10, 8));
    EXPECT_EQ(session.OpeningCommand(), frame);
    EXPECT_EQ(session.CurrentCommand(), frame);
    EXPECT_EQ(session.PendingReplies(), 1);
    EXPECT_EQ(session.SessionBlocks(), 8);
    EXPECT_EQ(session.ChannelIntervalUs(), 621.5413411458334);
    EXPECT_EQ(session.state(), SessionState::Measuring);
    EXPECT_EQ(states.values, (std::vector<SessionState> { SessionState::Measuring }));
    // 3055 cycles: 49.72 s for 8 blocks.
    EXPECT_EQ(session.MeasurementMs(), 49723);

    // A new start ends the exchange under way as interrupted; the range bit follows the
    // request.
    r.rangeIndex = 0;
    session.startMeasurement(r);
    EXPECT_EQ(quint8(sent.values.at(1)[1]), 0x07);
    ASSERT_EQ(outcomes.all.size(), 1u);
    EXPECT_EQ(outcomes.last().end, ExchangeEnd::Interrupted);
    EXPECT_TRUE(outcomes.last().recording.data.isEmpty());

    // The estimates: the measurement on either side of 2000 ms, the transfer by blocks.
    MeasurementRequest shortOne = request(1);
    shortOne.plan.d1 = 2;
    shortOne.plan.d2 = 103;
    session.startMeasurement(shortOne);
    EXPECT_EQ(session.MeasurementMs(), 1998);
    EXPECT_EQ(session.TransferMs(), 875);
    MeasurementRequest longer = request(3);
    longer.plan.d1 = 6;
    longer.plan.d2 = 13;
    session.startMeasurement(longer);
    EXPECT_EQ(session.MeasurementMs(), 2002);
    EXPECT_EQ(transferMs(4), 3500);
    EXPECT_EQ(transferMs(5), 4375);
    EXPECT_EQ(transferMs(8), 7000);
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
    MeasurementSession session;
    session.setPort(link.sessionPort.get());
    Outcomes outcomes(session);

    session.startMeasurement(request(1, false, 0x7F, 1));
    ASSERT_TRUE(
        link.board.waitForState(sim::BoardState::WaitingForTrigger, std::chrono::seconds(20)));
    EXPECT_TRUE(session.cancelMeasurement());
    EXPECT_EQ(session.state(), SessionState::Idle);
    ASSERT_EQ(outcomes.all.size(), 1u);
    EXPECT_EQ(outcomes.last().end, ExchangeEnd::Cancelled);
    EXPECT_FALSE(session.cancelMeasurement()); // nothing waits now

    link.board.trigger();
    ASSERT_TRUE(waitUntil([&] { return link.board.counters().endBytes == 1; }));
    session.startMeasurement(request(1));
    ASSERT_TRUE(waitUntil([&] { return outcomes.all.size() == 2; }));
    EXPECT_TRUE(outcomes.last().completed());
    EXPECT_TRUE(outcomes.proven.empty());

    // Photodiode start frame, the short read, the start frame, the transfer, 119 requests.
    const QByteArray received = toBytes(link.board.received());
    const QByteArray expected = buildStartFrame(1, 0x7F, 1, 1, 1) + buildShortReadCommand(0, 0x7F)
        + buildStartFrame(0, 0x7F, 1, 1, 1) + QByteArray::fromHex("807f0000e0")
        + QByteArray(119, char(0x81));
    EXPECT_EQ(received.toHex(), expected.toHex());
    // The late end byte, the short read's block, the end byte, then 120 blocks.
    const QByteArray sent = toBytes(link.board.sent());
    ASSERT_EQ(sent.size(), 1 + 501 + 1 + 120 * 501);
    EXPECT_EQ(outcomes.last().recording.data, storedFromBlocks(sent, 1 + 501 + 1, 120));
}
