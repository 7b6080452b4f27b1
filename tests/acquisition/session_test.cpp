#include "files/datafile.h"
#include "sim/recording.h"
#include "tests/acquisition/sessiontestsupport.h"

using namespace acquisition;
using namespace sessiontest;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

sim::BoardOptions fastBoard()
{
    sim::BoardOptions options;
    options.speed = 100; // recordings of d1 = d2 = 1 take about 10 ms per 8 blocks
    return options;
}

// Runs one exchange to its outcome.
::testing::AssertionResult ended(MeasurementSession &session, Outcomes &outcomes,
    const std::function<void()> &start, int timeoutMs = 60000)
{
    const size_t before = outcomes.all.size();
    start();
    if (waitUntil([&] { return outcomes.all.size() > before; }, timeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "state " << int(session.state()) << ", blocks stored " << session.blocksStored()
        << " of " << session.blocksExpected() << ", pending " << session.PendingReplies()
        << ", current command " << session.CurrentCommand().toHex().constData();
}

::testing::AssertionResult measure(
    MeasurementSession &session, Outcomes &outcomes, const MeasurementRequest &r = request())
{
    auto result = ended(session, outcomes, [&] { session.startMeasurement(r); });
    if (result && !outcomes.last().completed())
        return ::testing::AssertionFailure() << "ended " << int(outcomes.last().end)
                                             << ", failure " << int(outcomes.last().failure);
    return result;
}

} // namespace

// A whole measurement: the commands byte for byte, the blocks stored, and one outcome with the
// recording fixed by the request (channels, averaging, interval, scale, titles).
TEST(SessionTransfer, EightBlocksWithoutAveraging)
{
    BoardLink link(fastBoard());
    MeasurementSession session;
    session.setPort(link.sessionPort.get());
    Outcomes outcomes(session);
    SignalLog<int, int, QByteArray> stored(&session, &MeasurementSession::blockStored);

    MeasurementRequest r = request();
    r.rangeIndex = 1;
    r.yTitle = QStringLiteral("единицы АЦП");
    ASSERT_TRUE(measure(session, outcomes, r));

    // Start frame, one transfer command, 959 requests 0x81 and nothing else.
    const QByteArray start = buildStartFrame(0, 0xFF, 1, 1, 8);
    QByteArray expected = start + bytes({ 0x80, 0xFF, 0x00, 0x00, 0x00 });
    expected += QByteArray(959, char(0x81));
    EXPECT_TRUE(toBytes(link.board.received()) == expected);

    // 0x0A, then 960 blocks; what is stored is each block's first 500 bytes, rearranged.
    const QByteArray sent = toBytes(link.board.sent());
    ASSERT_EQ(sent.size(), 1 + 960 * 501);
    EXPECT_EQ(quint8(sent[0]), 0x0A);
    ASSERT_EQ(outcomes.all.size(), 1u);
    const ExchangeOutcome &o = outcomes.last();
    EXPECT_EQ(o.exchange, ExchangeKind::Measurement);
    EXPECT_EQ(o.end, ExchangeEnd::Completed);
    EXPECT_EQ(o.blocksReceived, 960);
    EXPECT_TRUE(o.recording.data == storedFromBlocks(sent, 1, 960));
    EXPECT_FALSE(o.recording.faulty);
    EXPECT_EQ(o.recording.exchangeId, session.exchangeId());
    EXPECT_EQ(o.recording.origin, files::RecordingOrigin::Measurement);
    const files::DataFileHeader &h = o.recording.header;
    EXPECT_EQ(h.ChartChannelBits, 0x7F);
    EXPECT_EQ(h.DataLength, 480000u);
    EXPECT_EQ(h.ChannelIntervalUs, 7 * (61 / 14.7456));
    EXPECT_EQ(h.ValueScale, files::ValueScale500);
    EXPECT_EQ(h.XTitle, QStringLiteral("Время, мкс"));
    EXPECT_EQ(h.YTitle, QStringLiteral("единицы АЦП"));
    EXPECT_EQ(stored.count, 960);
    EXPECT_EQ(stored.values.back(), 960);

    EXPECT_EQ(session.CurrentCommand(), QByteArray(1, '\0'));
    EXPECT_EQ(session.OpeningCommand(), start);
    EXPECT_EQ(session.PendingReplies(), 0);
    EXPECT_EQ(session.TransferMs(), 7000);
    EXPECT_EQ(session.state(), SessionState::Idle);

    // The next start works from the same state.
    ASSERT_TRUE(measure(session, outcomes));
    EXPECT_EQ(outcomes.last().recording.data.size(), 480000);
    EXPECT_TRUE(outcomes.proven.empty());
}

// One averaged block: 7 data blocks, requests 0x91. The averaging is the request's and holds
// for the whole transfer.
TEST(SessionTransfer, AveragedBlock)
{
    BoardLink link(fastBoard());
    MeasurementSession session;
    session.setPort(link.sessionPort.get());
    Outcomes outcomes(session);

    ASSERT_TRUE(measure(session, outcomes, request(1, true, 0x05)));
    const QByteArray start = buildStartFrame(0, 0x05, 1, 1, 1);
    EXPECT_EQ(toBytes(link.board.received()),
        start + bytes({ 0x90, 0x05, 0x00, 0x00, 0xE0 }) + QByteArray(6, char(0x91)));
    const QByteArray sent = toBytes(link.board.sent());
    ASSERT_EQ(sent.size(), 1 + 7 * 501);
    EXPECT_EQ(outcomes.last().recording.data, storedFromBlocks(sent, 1, 7));
    EXPECT_EQ(outcomes.last().recording.header.ChartChannelBits, 0x85);
    EXPECT_EQ(outcomes.last().recording.header.ChannelIntervalUs, 2 * (61 / 14.7456));
}

// Replies that come in pieces with pauses longer than the 2 ms reply timer are put together:
// every stored block is whole, none is padded and none is counted twice.
TEST(SessionTransfer, BlocksArrivingInPiecesAreStoredWhole)
{
    sim::BoardOptions options = fastBoard();
    options.chunks = 4;
    options.gapUs = 3000;
    BoardLink link(options);
    MeasurementSession session;
    session.setPort(link.sessionPort.get());
    Outcomes outcomes(session);

    ASSERT_TRUE(measure(session, outcomes, request(1)));
    const QByteArray sent = toBytes(link.board.sent());
    ASSERT_EQ(sent.size(), 1 + 120 * 501);
    EXPECT_TRUE(outcomes.last().recording.data == storedFromBlocks(sent, 1, 120));
    const QByteArray received = toBytes(link.board.received());
    EXPECT_EQ(received.count(char(0x81)), 119);
    EXPECT_EQ(received.size(), 6 + 5 + 119);
}

// A last block whose first byte happens to be an end code ends the transfer like any other.
TEST(SessionTransfer, LastBlockBeginningWithAnEndCode)
{
    // Seed 6 gives T3 an averaged last block whose first sample's low byte is 0x0A.
    const quint8 mask = 0x04;
    const std::uint64_t seed = 6;
    {
        const sim::Recording recording(seed, 1, mask, sim::samplePeriodCycles(1, 1), 30000, false);
        std::uint8_t block[501];
        recording.fillBlock(true, 6, block);
        ASSERT_EQ(block[0], 0x0A) << "the simulator's signals changed: pick another seed";
    }

    sim::BoardOptions options = fastBoard();
    options.seed = seed;
    BoardLink link(options);
    MeasurementSession session;
    session.setPort(link.sessionPort.get());
    Outcomes outcomes(session);

    ASSERT_TRUE(measure(session, outcomes, request(1, true, mask)));
    settle(450); // a wrongly started second transfer would send its command after 400 ms
    const QByteArray received = toBytes(link.board.received());
    EXPECT_EQ(received.count(char(0x90)), 1);
    EXPECT_EQ(received.size(), 6 + 5 + 6);
    ASSERT_EQ(outcomes.last().recording.data.size(), 3500);
    EXPECT_EQ(quint8(outcomes.last().recording.data[6 * 500]), 0x0A);
    EXPECT_EQ(outcomes.all.size(), 1u);
}

TEST(SessionReplies, ShortReadReReadAndPhotodiodeLaunch)
{
    BoardLink link(fastBoard());
    MeasurementSession session;
    session.setPort(link.sessionPort.get());
    Outcomes outcomes(session);
    ASSERT_TRUE(measure(session, outcomes, request(1)));
    const QByteArray recorded = outcomes.last().recording.data;

    // Short read: one block of 501 bytes, 500 of them kept, with the interval it was given.
    ReadRequest read = readRequest(0x7B);
    read.rangeIndex = 1;
    read.channelIntervalUs = 42.5;
    ASSERT_TRUE(ended(session, outcomes, [&] { session.startShortRead(read); }));
    EXPECT_EQ(toBytes(link.board.received()).right(3), bytes({ 0x14, 0xFB, 0x00 }));
    QByteArray sent = toBytes(link.board.sent());
    EXPECT_EQ(outcomes.last().exchange, ExchangeKind::ShortRead);
    EXPECT_TRUE(outcomes.last().completed());
    EXPECT_EQ(outcomes.last().recording.data, storedFromBlocks(sent, sent.size() - 501, 1));
    EXPECT_EQ(outcomes.last().recording.header.ChannelIntervalUs, 42.5);
    EXPECT_EQ(outcomes.last().recording.header.ChartChannelBits, 0x7B);
    EXPECT_EQ(outcomes.last().recording.origin, files::RecordingOrigin::ShortRead);

    // Re-read: block 0 of the memory, taken like a short read.
    ASSERT_TRUE(ended(session, outcomes, [&] {
        session.startReRead(readRequest());
        EXPECT_EQ(session.SessionBlocks(), 8);
        EXPECT_EQ(session.PendingReplies(), 1);
        EXPECT_EQ(session.TransferMs(), 7000);
        EXPECT_EQ(session.ChannelIntervalUs(), 1.4241536458333333);
    }));
    EXPECT_EQ(toBytes(link.board.received()).right(2), bytes({ 0x16, 0x00 }));
    EXPECT_EQ(outcomes.last().exchange, ExchangeKind::ReRead);
    EXPECT_EQ(outcomes.last().recording.data, recorded.left(500));

    // Photodiode launch: the short read starts with 0x34 and the board answers on the trigger.
    ASSERT_TRUE(ended(session, outcomes, [&] {
        session.startShortRead(readRequest(0x7B, 1));
        ASSERT_TRUE(
            link.board.waitForState(sim::BoardState::WaitingForTrigger, std::chrono::seconds(10)));
        EXPECT_EQ(toBytes(link.board.received()).right(3), bytes({ 0x34, 0x7B, 0x00 }));
        link.board.trigger();
    }));
    sent = toBytes(link.board.sent());
    EXPECT_EQ(outcomes.last().recording.data, storedFromBlocks(sent, sent.size() - 501, 1));
    EXPECT_TRUE(outcomes.proven.empty());
}

// Garbage right behind the last block answers no request: the transfer is out of step, and the
// last block itself is not trusted (a stray byte may lie inside it). What came before it is
// handed over, flagged.
TEST(SessionReplies, BytesAfterTheLastBlockAreOutOfStep)
{
    sim::BoardOptions options = fastBoard();
    options.garbageAfter = 121; // 0x0A and 120 blocks, then garbage
    BoardLink link(options);
    MeasurementSession session;
    session.setPort(link.sessionPort.get());
    Outcomes outcomes(session);

    ASSERT_TRUE(ended(session, outcomes, [&] { session.startMeasurement(request(1)); }));
    const ExchangeOutcome &o = outcomes.last();
    EXPECT_EQ(o.end, ExchangeEnd::Failed);
    EXPECT_EQ(o.failure, SessionFailure::OutOfStep);
    EXPECT_EQ(session.lastFailure(), SessionFailure::OutOfStep);
    EXPECT_TRUE(o.recording.faulty);
    EXPECT_EQ(o.blocksReceived, 119);
    EXPECT_EQ(o.blocksExpected, 120);
    const QByteArray sent = toBytes(link.board.sent());
    EXPECT_TRUE(o.recording.data == storedFromBlocks(sent, 1, 119));
    EXPECT_EQ(session.state(), SessionState::Idle);

    // Later stray bytes after a failed exchange prove nothing and ask for nothing.
    const qsizetype requests = link.board.received().size();
    settle(100);
    EXPECT_EQ(outcomes.all.size(), 1u);
    EXPECT_TRUE(outcomes.proven.empty());
    EXPECT_EQ(qsizetype(link.board.received().size()), requests);

    // The next measurement is clean.
    ASSERT_TRUE(measure(session, outcomes, request(1)));
    EXPECT_EQ(session.lastFailure(), SessionFailure::None);
}

// Tuning sends 0x10 and 0x11; the board's status bytes come while Idle. Pressed during a
// measurement, the tuning command ends it as interrupted.
TEST(SessionReplies, TuningDuringAMeasurement)
{
    sim::BoardOptions options;
    options.speed = 10; // 0x11 follows 0x10 after 100 ms; the long recording still lasts minutes
    BoardLink link(options);
    MeasurementSession session;
    session.setPort(link.sessionPort.get());
    Outcomes outcomes(session);
    SignalLog<quint8> status(&session, &MeasurementSession::statusByte);

    MeasurementRequest slow = request();
    slow.plan.d1 = slow.plan.d2 = 256;
    session.startMeasurement(slow);
    EXPECT_EQ(session.state(), SessionState::Measuring);
    ASSERT_TRUE(link.board.waitForState(sim::BoardState::Recording, std::chrono::seconds(10)));

    session.tune(true);
    ASSERT_EQ(outcomes.all.size(), 1u);
    EXPECT_EQ(outcomes.last().end, ExchangeEnd::Interrupted);
    EXPECT_EQ(session.state(), SessionState::Idle);
    // The board ends tuning by itself with 0x11 after its 0x10.
    ASSERT_TRUE(waitUntil([&] { return status.count == 2; }));
    EXPECT_EQ(status.values, (std::vector<quint8> { 0x10, 0x11 }));

    session.tune(false);
    ASSERT_TRUE(waitUntil([&] { return link.board.counters().bytesReceived == 6 + 2; }));
    const QByteArray received = toBytes(link.board.received());
    EXPECT_EQ(received.right(2), bytes({ 0x10, 0x11 }));
    settle(450);
    EXPECT_EQ(link.board.counters().transfers, 0);
    EXPECT_EQ(outcomes.all.size(), 1u);
}

// The board hangs up in the middle of a block: the session ends at once with Disconnected and
// the blocks stored so far, and after reconnecting the next start runs a whole measurement with
// no byte of the broken block in it. While the recording is awaited, nothing was received.
TEST(SessionReplies, HangUpDuringTheTransferOrTheWait)
{
    MeasurementSession session;
    Outcomes outcomes(session);
    {
        sim::BoardOptions options = fastBoard();
        options.hangupAfter = 50;
        BoardLink link(options);
        session.setPort(link.sessionPort.get());
        ASSERT_TRUE(ended(session, outcomes, [&] { session.startMeasurement(request(1)); }));
        EXPECT_EQ(outcomes.last().failure, SessionFailure::Disconnected);
        EXPECT_EQ(outcomes.last().blocksReceived, 48);
        EXPECT_EQ(outcomes.last().recording.data.size(), 48 * 500);
        EXPECT_TRUE(outcomes.last().recording.faulty);
        session.setPort(nullptr);
    }
    {
        BoardLink link(fastBoard());
        session.setPort(link.sessionPort.get());
        EXPECT_EQ(session.lastFailure(), SessionFailure::None); // reconnected
        ASSERT_TRUE(measure(session, outcomes, request(1)));
        const QByteArray sent = toBytes(link.board.sent());
        EXPECT_TRUE(outcomes.last().recording.data == storedFromBlocks(sent, 1, 120));
        session.setPort(nullptr);
    }
    sim::BoardOptions options = fastBoard();
    options.hangupAfter = 1; // the end byte
    BoardLink link(options);
    session.setPort(link.sessionPort.get());
    ASSERT_TRUE(ended(session, outcomes, [&] { session.startMeasurement(request(1)); }));
    EXPECT_EQ(outcomes.last().failure, SessionFailure::Disconnected);
    EXPECT_TRUE(outcomes.last().recording.data.isEmpty());
    session.setPort(nullptr);
}

// Unsolicited bytes in the middle of a transfer, or one block of 502 bytes: every block after
// them would be put together from the wrong bytes. The session stops at the block they came
// with (no further request, the block not kept), and the next start records cleanly.
TEST(SessionReplies, StrayBytesDuringTheTransferAreOutOfStep)
{
    for (const bool extraByte : { false, true }) {
        SCOPED_TRACE(extraByte ? "one block of 502 bytes" : "garbage after a block");
        sim::BoardOptions options = fastBoard();
        (extraByte ? options.extraByteAfter : options.garbageAfter) = 30;
        BoardLink link(options);
        MeasurementSession session;
        session.setPort(link.sessionPort.get());
        Outcomes outcomes(session);

        ASSERT_TRUE(ended(session, outcomes, [&] { session.startMeasurement(request(1)); }));
        const ExchangeOutcome &o = outcomes.last();
        EXPECT_EQ(o.failure, SessionFailure::OutOfStep);
        // Reply 30 is block 29. The stray bytes are seen with it, or with a later block when
        // the arrivals split unluckily; never is the transfer taken as complete.
        EXPECT_GE(o.blocksReceived, 28);
        EXPECT_LT(o.blocksReceived, 119);
        EXPECT_EQ(o.recording.data.size(), o.blocksReceived * 500);
        const QByteArray sent = toBytes(link.board.sent());
        EXPECT_TRUE(o.recording.data.left(28 * 500) == storedFromBlocks(sent, 1, 28));
        settle(100);
        // One request per block before the one that came with the stray bytes: none after it.
        EXPECT_EQ(link.board.counters().blockRequests, o.blocksReceived);

        const qsizetype before = link.board.sent().size();
        ASSERT_TRUE(measure(session, outcomes, request(1)));
        const QByteArray all = toBytes(link.board.sent());
        ASSERT_EQ(all.size() - before, 1 + 120 * 501);
        EXPECT_TRUE(outcomes.last().recording.data == storedFromBlocks(all, before + 1, 120));
    }
}

// A stray byte inside the last block of a transfer or a short read makes the block look
// complete one byte early; its real last byte follows later, here 1 to 40 ms (well within
// the settle time, so that a loaded machine's scheduling does not decide). The exchange fails
// and is never reported complete, not even first; a transfer keeps the blocks before the last.
TEST(SessionReplies, StrayByteInsideTheLastBlockFailsTheTransfer)
{
    for (const bool shortRead : { false, true }) {
        for (const int delayMs : { 1, 20, 40 }) {
            SCOPED_TRACE(testing::Message()
                << (shortRead ? "short read, " : "transfer, ") << delayMs << " ms");
            sim::BoardOptions options = fastBoard();
            options.strayByteInReply = shortRead ? 1 : 121; // 0x0A, then 120 blocks
            options.lastByteDelayMs = delayMs;
            BoardLink link(options);
            MeasurementSession session;
            session.setPort(link.sessionPort.get());
            Outcomes outcomes(session);

            ASSERT_TRUE(ended(session, outcomes, [&] {
                shortRead ? session.startShortRead(readRequest())
                          : session.startMeasurement(request(1));
            }));
            settle(100);
            ASSERT_EQ(outcomes.all.size(), 1u);
            EXPECT_EQ(outcomes.last().failure, SessionFailure::OutOfStep);
            EXPECT_TRUE(outcomes.last().recording.faulty);
            EXPECT_EQ(outcomes.last().recording.data.size(), shortRead ? 500 : 59500);
            session.setPort(nullptr);
        }
    }
}

// Replies of other lengths, from a bare pseudo-terminal playing the board: a short-read reply
// shorter than a block, taken once the line is quiet, is incomplete (its bytes kept, flagged);
// a single byte holds no samples; a status byte ends the wait for a recording without one.
TEST(SessionReplies, RepliesOfOtherLengths)
{
    PtyPeer peer;
    MeasurementSession session;
    session.setPort(peer.sessionPort.get());
    Outcomes outcomes(session);

    session.startShortRead(readRequest());
    QByteArray reply(300, '\0');
    for (int i = 0; i < reply.size(); ++i)
        reply[i] = char(i);
    for (int piece = 0; piece < 3; ++piece) {
        peer.write(reply.mid(piece * 100, 100));
        settle(8); // longer than the 2 ms reply timer
    }
    ASSERT_TRUE(waitUntil([&] { return outcomes.all.size() == 1; }));
    EXPECT_EQ(outcomes.last().failure, SessionFailure::Incomplete);
    EXPECT_TRUE(outcomes.last().recording.faulty);
    EXPECT_EQ(outcomes.last().recording.data,
        storedFromBlocks(reply + QByteArray(201, '\0'), 0, 1).left(299));

    session.startShortRead(readRequest());
    peer.write("\x0A");
    ASSERT_TRUE(waitUntil([&] { return outcomes.all.size() == 2; }));
    EXPECT_EQ(outcomes.last().failure, SessionFailure::NoData);
    EXPECT_TRUE(outcomes.last().recording.data.isEmpty());

    session.startMeasurement(request(1));
    peer.write("\x10");
    ASSERT_TRUE(waitUntil([&] { return outcomes.all.size() == 3; }));
    EXPECT_EQ(outcomes.last().failure, SessionFailure::NoData);
    EXPECT_EQ(session.PendingReplies(), 0);
    EXPECT_TRUE(outcomes.proven.empty());
    session.setPort(nullptr);
}

// Bytes that answer no request after a completed exchange prove it out of step: while Idle
// (the recording is named), while the next measurement waits for its end byte, or between
// that end byte and the transfer command (the next exchange then fails as well). Once the
// next transfer command has gone out, the exchange before stands.
TEST(SessionReplies, LateBytesProveTheCompletedExchangeWrong)
{
    PtyPeer peer;
    MeasurementSession session;
    session.setPort(peer.sessionPort.get());
    Outcomes outcomes(session);
    const QByteArray start = buildStartFrame(0, 0x7F, 1, 1, 1);
    const QByteArray transfer = bytes({ 0x90, 0x7F, 0x00, 0x00, 0xE0 });
    QByteArray block(501, '\0');
    for (int i = 0; i < block.size(); ++i)
        block[i] = char(i * 7);
    // A whole averaged measurement of one block, answered by the peer.
    const auto completeOne = [&] {
        const qsizetype sent = peer.received.size();
        session.startMeasurement(request(1, true));
        if (!peer.receive(sent + start.size()))
            return quint64(0);
        peer.write("\x0A");
        for (int b = 0; b < 7; ++b) {
            if (!peer.receive(sent + start.size() + transfer.size() + b))
                return quint64(0);
            peer.write(block);
        }
        const size_t before = outcomes.all.size();
        if (!waitUntil([&] { return outcomes.all.size() > before; }) || !outcomes.last().completed())
            return quint64(0);
        return outcomes.last().exchangeId;
    };

    // While Idle.
    const quint64 first = completeOne();
    ASSERT_NE(first, 0u);
    peer.write("\x33");
    ASSERT_TRUE(waitUntil([&] { return outcomes.proven.size() == 1; }));
    EXPECT_EQ(outcomes.proven.back(), first);

    // While the next measurement waits for its end byte.
    const quint64 second = completeOne();
    ASSERT_NE(second, 0u);
    session.startMeasurement(request(1, true));
    ASSERT_TRUE(peer.receive(peer.received.size() + start.size()));
    peer.write("\x33");
    ASSERT_TRUE(waitUntil([&] { return outcomes.proven.size() == 2; }));
    EXPECT_EQ(outcomes.proven.back(), second);
    EXPECT_EQ(outcomes.last().failure, SessionFailure::OutOfStep);
    EXPECT_TRUE(outcomes.last().previousOutOfStep);

    // After the next end byte, before its transfer command: no transfer command goes out.
    const quint64 third = completeOne();
    ASSERT_NE(third, 0u);
    const qsizetype sent = peer.received.size();
    session.startMeasurement(request(1, true));
    ASSERT_TRUE(peer.receive(sent + start.size()));
    peer.write("\x0A");
    ASSERT_TRUE(waitUntil([&] { return session.state() == SessionState::WaitingToTransfer; }));
    peer.write(QByteArray(501, char(0x5A)));
    ASSERT_TRUE(waitUntil([&] { return outcomes.proven.size() == 3; }));
    EXPECT_EQ(outcomes.proven.back(), third);
    EXPECT_EQ(outcomes.last().failure, SessionFailure::OutOfStep);
    settle(450);
    EXPECT_EQ(peer.received.size(), sent + start.size());

    // A measurement whose transfer command went out confirms the one before: a byte now is
    // this exchange's fault alone.
    const quint64 fourth = completeOne();
    ASSERT_NE(fourth, 0u);
    session.startMeasurement(request(1, true));
    ASSERT_TRUE(peer.receive(peer.received.size() + start.size()));
    peer.write("\x0A");
    ASSERT_TRUE(peer.receive(peer.received.size() + transfer.size()));
    peer.write(block + "\x33");
    ASSERT_TRUE(waitUntil([&] { return outcomes.last().exchangeId == fourth + 1; }));
    EXPECT_EQ(outcomes.last().failure, SessionFailure::OutOfStep);
    EXPECT_FALSE(outcomes.last().previousOutOfStep);
    EXPECT_EQ(outcomes.proven.size(), 3u);
    session.setPort(nullptr);
}
