#include "sim/recording.h"
#include "tests/acquisition/sessiontestsupport.h"

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

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

// Runs one measurement to its chart build.
::testing::AssertionResult measure(MeasurementSession &session, int timeoutMs = 60000)
{
    SignalLog<> complete(&session, &MeasurementSession::transferComplete);
    session.btStartClick();
    if (waitUntil([&] { return complete.count == 1 && session.state() == SessionState::Idle; },
            timeoutMs))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
        << "state " << int(session.state()) << ", blocks stored " << session.blocksStored()
        << " of " << session.blocksExpected() << ", pending " << session.PendingReplies()
        << ", current command " << session.CurrentCommand().toHex().constData();
}

} // namespace

TEST(SessionTransfer, EightBlocksWithoutAveraging)
{
    BoardLink link(fastBoard());
    Controls controls;
    MeasurementSession session(&controls);
    session.setPort(link.sessionPort.get());
    SignalLog<int, int> stored(&session, &MeasurementSession::blockStored);

    ASSERT_TRUE(measure(session));

    // Start frame, one transfer command, 959 requests 0x81 and nothing else.
    const QByteArray start = buildStartFrame(0, 0x7F, 1, 1, 8);
    QByteArray expected = start + bytes({ 0x80, 0x7F, 0x00, 0x00, 0x00 });
    expected += QByteArray(959, char(0x81));
    const QByteArray received = toBytes(link.board.received());
    EXPECT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);

    // 0x0A, then 960 blocks; what is stored is each block's first 500 bytes, rearranged.
    const QByteArray sent = toBytes(link.board.sent());
    ASSERT_EQ(sent.size(), 1 + 960 * 501);
    EXPECT_EQ(quint8(sent[0]), 0x0A);
    ASSERT_EQ(session.AcquisitionBuffer().size(), 480000);
    EXPECT_TRUE(session.AcquisitionBuffer() == storedFromBlocks(sent, 1, 960));
    EXPECT_EQ(stored.count, 960);

    EXPECT_EQ(session.CurrentCommand(), QByteArray(1, '\0'));
    EXPECT_EQ(session.OpeningCommand(), start);
    EXPECT_EQ(session.PendingReplies(), 0);
    EXPECT_EQ(session.statusText(0), QStringLiteral("ПОСТРОЕНИЕ ГРАФИКА"));
    EXPECT_TRUE(session.statusText(2).isEmpty()); // no cycle run: no cycle named
    EXPECT_EQ(session.TransferStatusText(), QStringLiteral("ПЕРЕДАЧА МАССИВА, 7с"));
    EXPECT_EQ(session.fileCaption(), QStringLiteral("Комментарий"));
    EXPECT_FALSE(session.progress().visible);
    EXPECT_EQ(session.XTitle(), QStringLiteral("Время, "));

    // The next start works from the same state and counts the chart built before it.
    session.setCycleRunGoing(true);
    ASSERT_TRUE(measure(session));
    EXPECT_EQ(session.statusText(2), QStringLiteral("Цикл №1"));
    EXPECT_EQ(session.AcquisitionBuffer().size(), 480000);
}

TEST(SessionTransfer, AveragedBlockAndAveragingToggledDuringTheTransfer)
{
    BoardLink link(fastBoard());
    Controls controls;
    controls.blocks = 1;
    controls.avg = true;
    controls.mask = 0x05;
    controls.count = 2;
    MeasurementSession session(&controls);
    session.setPort(link.sessionPort.get());

    ASSERT_TRUE(measure(session));
    const QByteArray start = buildStartFrame(0, 0x05, 1, 1, 1);
    QByteArray expected
        = start + bytes({ 0x90, 0x05, 0x00, 0x00, 0xE0 }) + QByteArray(6, char(0x91));
    EXPECT_EQ(toBytes(link.board.received()), expected);
    const QByteArray sent = toBytes(link.board.sent());
    ASSERT_EQ(sent.size(), 1 + 7 * 501);
    EXPECT_EQ(session.AcquisitionBuffer(), storedFromBlocks(sent, 1, 7));
    EXPECT_EQ(session.AcquisitionBuffer().size(), 3500);

    // cbAvgMC is read at every request: unchecking it after the third block turns the
    // following requests into 0x81, and the number of blocks stays 7.
    QObject::connect(&session, &MeasurementSession::blockStored, [&](int stored, int) {
        if (stored == 3)
            controls.avg = false;
    });
    const qsizetype before = link.board.received().size();
    ASSERT_TRUE(measure(session));
    const QByteArray second = toBytes(link.board.received()).mid(before);
    EXPECT_EQ(second,
        start + bytes({ 0x90, 0x05, 0x00, 0x00, 0xE0, 0x91, 0x91, 0x81, 0x81, 0x81, 0x81 }));
    EXPECT_EQ(session.AcquisitionBuffer().size(), 3500);
    EXPECT_EQ(session.blocksStored(), 7);
}

// Replies that come in pieces with pauses longer than the 2 ms reply timer are put together:
// every stored block is whole, none is padded and none is counted twice.
TEST(SessionTransfer, BlocksArrivingInPiecesAreStoredWhole)
{
    sim::BoardOptions options = fastBoard();
    options.chunks = 4;
    options.gapUs = 3000;
    BoardLink link(options);
    Controls controls;
    controls.blocks = 1;
    MeasurementSession session(&controls);
    session.setPort(link.sessionPort.get());

    ASSERT_TRUE(measure(session));
    const QByteArray sent = toBytes(link.board.sent());
    ASSERT_EQ(sent.size(), 1 + 120 * 501);
    EXPECT_TRUE(session.AcquisitionBuffer() == storedFromBlocks(sent, 1, 120));
    const QByteArray received = toBytes(link.board.received());
    EXPECT_EQ(received.count(char(0x81)), 119);
    EXPECT_EQ(received.size(), 6 + 5 + 119);
    EXPECT_EQ(session.blocksStored(), 120);
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
    Controls controls;
    controls.blocks = 1;
    controls.avg = true;
    controls.mask = mask;
    controls.count = 1;
    MeasurementSession session(&controls);
    session.setPort(link.sessionPort.get());

    ASSERT_TRUE(measure(session));
    settle(450); // a wrongly started second transfer would send its command after 400 ms
    const QByteArray received = toBytes(link.board.received());
    EXPECT_EQ(received.count(char(0x90)), 1);
    EXPECT_EQ(received.size(), 6 + 5 + 6);
    ASSERT_EQ(session.AcquisitionBuffer().size(), 3500);
    EXPECT_EQ(quint8(session.AcquisitionBuffer()[6 * 500]), 0x0A);
    EXPECT_EQ(session.state(), SessionState::Idle);
    EXPECT_EQ(session.CurrentCommand(), QByteArray(1, '\0'));
}

TEST(SessionReplies, ShortReadReReadAndPhotodiodeLaunch)
{
    BoardLink link(fastBoard());
    Controls controls;
    controls.blocks = 1;
    MeasurementSession session(&controls);
    session.setPort(link.sessionPort.get());
    ASSERT_TRUE(measure(session));
    const QByteArray recorded = session.AcquisitionBuffer();
    const double interval = session.ChannelIntervalUs();

    // Short read: one block of 501 bytes, 500 of them stored, replacing the buffer.
    SignalLog<> shortReads(&session, &MeasurementSession::shortReadComplete);
    controls.range = 1;
    controls.mask = 0x7B;
    session.bt500Click();
    ASSERT_TRUE(waitUntil([&] { return shortReads.count == 1; }));
    EXPECT_EQ(toBytes(link.board.received()).right(3), bytes({ 0x14, 0xFB, 0x00 }));
    QByteArray sent = toBytes(link.board.sent());
    EXPECT_EQ(session.AcquisitionBuffer(), storedFromBlocks(sent, sent.size() - 501, 1));
    EXPECT_EQ(session.ChannelIntervalUs(), interval);
    EXPECT_EQ(session.statusText(0), QStringLiteral("ПОСТРОЕНИЕ ГРАФИКА"));

    // Re-read: block 0 of the memory, taken like a short read.
    session.ctlBarDblClick();
    EXPECT_EQ(session.SessionBlocks(), 8);
    EXPECT_EQ(session.PendingReplies(), 1);
    EXPECT_EQ(session.TransferMs(), 7000);
    EXPECT_EQ(session.TransferStatusText(), QStringLiteral("ПЕРЕДАЧА МАССИВА, 7с"));
    EXPECT_EQ(session.ChannelIntervalUs(), 1.4241536458333333);
    ASSERT_TRUE(waitUntil([&] { return shortReads.count == 2; }));
    EXPECT_EQ(toBytes(link.board.received()).right(2), bytes({ 0x16, 0x00 }));
    EXPECT_EQ(session.AcquisitionBuffer(), recorded.left(500));
    EXPECT_EQ(session.PendingReplies(), 1); // a short-read reply does not touch it

    // Photodiode launch: the short read starts with 0x34 and the board answers on the trigger.
    session.btExtrnClick();
    EXPECT_EQ(session.LaunchType(), 1);
    EXPECT_EQ(session.launchButtonPicture(), LaunchPicture::RisingEdge);
    EXPECT_EQ(session.launchButtonHint(), QStringLiteral("Запуск по сигналу фотодиода"));
    session.bt500Click();
    ASSERT_TRUE(
        link.board.waitForState(sim::BoardState::WaitingForTrigger, std::chrono::seconds(10)));
    EXPECT_EQ(toBytes(link.board.received()).right(3), bytes({ 0x34, 0xFB, 0x00 }));
    link.board.trigger();
    ASSERT_TRUE(waitUntil([&] { return shortReads.count == 3; }));
    sent = toBytes(link.board.sent());
    EXPECT_EQ(session.AcquisitionBuffer(), storedFromBlocks(sent, sent.size() - 501, 1));
    session.btExtrnClick();
    EXPECT_EQ(session.LaunchType(), 0);
    EXPECT_EQ(session.launchButtonPicture(), LaunchPicture::Computer);
    EXPECT_EQ(session.launchButtonHint(), QStringLiteral("Запуск от компьютера"));
}

// Unsolicited bytes after a finished measurement: a reply while Idle only counts down the
// pending replies; nothing is sent, stored or drawn.
// Garbage right behind the last block answers no request: the transfer is out of step. The
// session says so at once; the received array stays in the buffer, flagged as faulty.
TEST(SessionReplies, BytesAfterTheLastBlockAreOutOfStep)
{
    sim::BoardOptions options = fastBoard();
    options.garbageAfter = 121; // 0x0A and 120 blocks, then garbage
    BoardLink link(options);
    Controls controls;
    controls.blocks = 1;
    MeasurementSession session(&controls);
    session.setPort(link.sessionPort.get());
    SignalLog<SessionFailure> failed(&session, &MeasurementSession::transferFailed);

    session.btStartClick();
    ASSERT_TRUE(waitUntil([&] { return failed.count == 1; }));
    EXPECT_EQ(failed.values.at(0), SessionFailure::OutOfStep);
    EXPECT_EQ(session.lastFailure(), SessionFailure::OutOfStep);
    EXPECT_TRUE(session.recordingFaulty());
    const QByteArray sent = toBytes(link.board.sent());
    EXPECT_TRUE(session.AcquisitionBuffer() == storedFromBlocks(sent, 1, 120));
    EXPECT_EQ(session.statusText(0), sessionFailureText(SessionFailure::OutOfStep));
    EXPECT_EQ(session.state(), SessionState::Idle);
    EXPECT_FALSE(session.progress().visible);

    // Later stray bytes are replies while Idle: they change nothing and ask for nothing.
    const qsizetype requests = link.board.received().size();
    settle(100);
    EXPECT_EQ(failed.count, 1);
    EXPECT_EQ(qsizetype(link.board.received().size()), requests);

    // The next measurement is clean and clears the flag.
    ASSERT_TRUE(measure(session));
    EXPECT_FALSE(session.recordingFaulty());
    EXPECT_EQ(session.lastFailure(), SessionFailure::None);
}

// The tuning status byte that arrives while a recording is awaited ends the wait: no transfer,
// nothing to draw. Tuning twice sends 0x10 and 0x11 and restores the caption.
TEST(SessionReplies, StatusByteWhileMeasuringAndTuningTwice)
{
    sim::BoardOptions options;
    options.speed = 10; // 0x11 follows 0x10 after 100 ms; the long recording still lasts minutes
    BoardLink link(options);
    Controls controls;
    controls.d1Value = 256;
    controls.d2Value = 256;
    MeasurementSession session(&controls);
    session.setPort(link.sessionPort.get());
    SignalLog<> noData(&session, &MeasurementSession::measurementEndedWithoutData);

    session.btStartClick();
    EXPECT_EQ(session.state(), SessionState::Measuring);
    EXPECT_TRUE(session.progress().visible);
    ASSERT_TRUE(link.board.waitForState(sim::BoardState::Recording, std::chrono::seconds(10)));

    session.btTuneClick();
    EXPECT_EQ(session.tuneButton(), (ButtonLook { QStringLiteral("Завершить (ФД)"), ColourRed }));
    ASSERT_TRUE(waitUntil([&] { return noData.count == 1; }));
    EXPECT_EQ(session.statusText(0), QStringLiteral("Подстройка усилителя фототока"));
    EXPECT_EQ(session.PendingReplies(), 0);
    EXPECT_EQ(session.state(), SessionState::Idle);
    EXPECT_TRUE(session.AcquisitionBuffer().isEmpty());

    // The board ends tuning by itself with 0x11: the status panel is cleared.
    ASSERT_TRUE(waitUntil([&] { return session.statusText(0).isEmpty(); }));
    EXPECT_EQ(session.PendingReplies(), 65535);

    session.btTuneClick();
    EXPECT_EQ(session.tuneButton(), (ButtonLook { QStringLiteral("Настройка ФД"), ColourBlack }));
    ASSERT_TRUE(waitUntil([&] { return link.board.counters().bytesReceived == 6 + 2; }));
    const QByteArray received = toBytes(link.board.received());
    EXPECT_EQ(received.right(2), bytes({ 0x10, 0x11 }));
    EXPECT_EQ(received.count(char(0x80)), 0);
    settle(450);
    EXPECT_EQ(link.board.counters().transfers, 0);
}

// The board hangs up in the middle of a block: the session ends at once with "disconnected",
// keeps the blocks stored so far as a faulty recording, and after reconnecting the next start
// runs a whole measurement with no byte of the broken block in it.
TEST(SessionReplies, HangUpDuringTheTransfer)
{
    Controls controls;
    controls.blocks = 1;
    MeasurementSession session(&controls);
    SignalLog<SessionFailure> failed(&session, &MeasurementSession::transferFailed);
    {
        sim::BoardOptions options = fastBoard();
        options.hangupAfter = 50;
        BoardLink link(options);
        session.setPort(link.sessionPort.get());
        session.btStartClick();
        ASSERT_TRUE(waitUntil([&] { return failed.count == 1; }, 20000))
            << "blocks stored " << session.blocksStored() << ", board state "
            << sim::boardStateName(link.board.state());
        EXPECT_EQ(failed.values.at(0), SessionFailure::Disconnected);
        EXPECT_EQ(session.blocksStored(), 48);
        EXPECT_EQ(session.AcquisitionBuffer().size(), 48 * 500);
        EXPECT_TRUE(session.recordingFaulty());
        EXPECT_EQ(session.state(), SessionState::Idle);
        EXPECT_EQ(session.statusText(0), QStringLiteral("Плата отключена"));
        session.setPort(nullptr);
    }
    BoardLink link(fastBoard());
    session.setPort(link.sessionPort.get());
    EXPECT_EQ(session.lastFailure(), SessionFailure::None); // reconnected
    EXPECT_TRUE(session.recordingFaulty()); // until a new recording replaces it
    ASSERT_TRUE(measure(session));
    const QByteArray sent = toBytes(link.board.sent());
    EXPECT_TRUE(session.AcquisitionBuffer() == storedFromBlocks(sent, 1, 120));
    EXPECT_FALSE(session.recordingFaulty());
    EXPECT_EQ(failed.count, 1);
    session.setPort(nullptr);
}

// A board that goes away while the recording is awaited ends the wait at once; the previous
// recording is left as it was and not flagged.
TEST(SessionReplies, HangUpWhileMeasuringKeepsThePreviousRecording)
{
    Controls controls;
    controls.blocks = 1;
    MeasurementSession session(&controls);
    SignalLog<SessionFailure> failed(&session, &MeasurementSession::transferFailed);
    sim::BoardOptions options = fastBoard();
    options.hangupAfter = 122; // the end byte of the second measurement
    BoardLink link(options);
    session.setPort(link.sessionPort.get());
    ASSERT_TRUE(measure(session));
    const QByteArray previous = session.AcquisitionBuffer();
    session.btStartClick();
    ASSERT_TRUE(waitUntil([&] { return failed.count == 1; }, 20000));
    EXPECT_EQ(failed.values.at(0), SessionFailure::Disconnected);
    EXPECT_EQ(session.AcquisitionBuffer(), previous);
    EXPECT_FALSE(session.recordingFaulty());
    EXPECT_EQ(session.state(), SessionState::Idle);
    session.setPort(nullptr);
}

// Unsolicited bytes in the middle of a transfer, or one block of 502 bytes: every block after
// them would be put together from the wrong bytes. The session stops at the block they came
// with (no further request), reports it, and the next start records cleanly.
TEST(SessionReplies, StrayBytesDuringTheTransferAreOutOfStep)
{
    for (const bool extraByte : { false, true }) {
        SCOPED_TRACE(extraByte ? "one block of 502 bytes" : "garbage after a block");
        sim::BoardOptions options = fastBoard();
        (extraByte ? options.extraByteAfter : options.garbageAfter) = 30;
        BoardLink link(options);
        Controls controls;
        controls.blocks = 1;
        MeasurementSession session(&controls);
        session.setPort(link.sessionPort.get());
        SignalLog<SessionFailure> failed(&session, &MeasurementSession::transferFailed);
        SignalLog<> complete(&session, &MeasurementSession::transferComplete);

        session.btStartClick();
        ASSERT_TRUE(waitUntil([&] { return failed.count == 1; }));
        EXPECT_EQ(failed.values.at(0), SessionFailure::OutOfStep);
        EXPECT_EQ(complete.count, 0);
        EXPECT_TRUE(session.recordingFaulty());
        // Reply 30 is block 29. The stray bytes are seen with it, or with a later block when
        // the arrivals split unluckily; never is the transfer taken as complete.
        EXPECT_GE(session.blocksStored(), 29);
        EXPECT_LT(session.blocksStored(), 120);
        EXPECT_EQ(session.AcquisitionBuffer().size(), session.blocksStored() * 500);
        const QByteArray sent = toBytes(link.board.sent());
        EXPECT_TRUE(session.AcquisitionBuffer().left(28 * 500) == storedFromBlocks(sent, 1, 28));
        settle(100);
        // One transfer command and one request per stored block but the last: none after it.
        EXPECT_EQ(link.board.counters().blockRequests, session.blocksStored() - 1);
        EXPECT_EQ(session.state(), SessionState::Idle);

        const qsizetype before = link.board.sent().size();
        ASSERT_TRUE(measure(session));
        const QByteArray all = toBytes(link.board.sent());
        ASSERT_EQ(all.size() - before, 1 + 120 * 501);
        EXPECT_TRUE(session.AcquisitionBuffer() == storedFromBlocks(all, before + 1, 120));
        EXPECT_FALSE(session.recordingFaulty());
    }
}

// A stray byte inside the last block of a transfer or a short read makes the block look
// complete one byte early; its real last byte follows later, here 1 to 40 ms (well within
// the settle time, so that a loaded machine's scheduling does not decide). The exchange fails
// with what it received, flagged, and is never reported complete, not even first.
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
            Controls controls;
            controls.blocks = 1;
            MeasurementSession session(&controls);
            session.setPort(link.sessionPort.get());
            SignalLog<> complete(&session, &MeasurementSession::transferComplete);
            SignalLog<> shortReads(&session, &MeasurementSession::shortReadComplete);
            files::Recording received;
            QObject::connect(&session, &MeasurementSession::transferFailed,
                [&](SessionFailure, const QString &, const files::Recording &r) { received = r; });

            shortRead ? session.bt500Click() : session.btStartClick();
            ASSERT_TRUE(waitUntil([&] { return received.faulty; }));
            EXPECT_EQ(session.lastFailure(), SessionFailure::OutOfStep);
            EXPECT_EQ(complete.count + shortReads.count, 0);
            EXPECT_EQ(received.data.size(), shortRead ? 500 : 60000);
            EXPECT_EQ(session.state(), SessionState::Idle);
            session.setPort(nullptr);
        }
    }
}

// Short-read replies of other lengths, from a bare pseudo-terminal playing the board: a reply
// in pieces is taken whole once the line is quiet, a single byte stores nothing.
TEST(SessionReplies, ShortReadRepliesOfOtherLengths)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    termios raw {};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    serial::TSerialPort port;
    port.setDeviceName(QString::fromLocal8Bit(::ptsname(master)));
    port.setMonitorEvents(serial::ceRxChar);
    port.Open();
    SerialSessionPort sessionPort(&port);
    Controls controls;
    MeasurementSession session(&controls);
    session.setPort(&sessionPort);
    SignalLog<> replies(&session, &MeasurementSession::shortReadComplete);

    session.bt500Click();
    QByteArray reply(300, '\0');
    for (int i = 0; i < reply.size(); ++i)
        reply[i] = char(i);
    for (int piece = 0; piece < 3; ++piece) {
        ASSERT_EQ(::write(master, reply.constData() + piece * 100, 100), 100);
        settle(8); // longer than the 2 ms reply timer
    }
    ASSERT_TRUE(waitUntil([&] { return replies.count == 1; }));
    settle(100);
    EXPECT_EQ(replies.count, 1);
    EXPECT_EQ(session.AcquisitionBuffer(),
        storedFromBlocks(reply + QByteArray(201, '\0'), 0, 1).left(299));

    session.bt500Click();
    ASSERT_EQ(::write(master, "\x0A", 1), 1);
    ASSERT_TRUE(waitUntil([&] { return replies.count == 2; }));
    EXPECT_TRUE(session.AcquisitionBuffer().isEmpty());
    EXPECT_EQ(session.PendingReplies(), 0);
    session.setPort(nullptr);
    port.Close();
    ::close(master);
}

// Bytes that arrive while the transfer command waits for its delayed send answer nothing: a
// whole block's worth of them is neither stored nor followed by a block request. A bare
// pseudo-terminal plays the board.
TEST(SessionReplies, BytesBeforeTheTransferCommandAreNoBlock)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    termios raw {};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    serial::TSerialPort port;
    port.setDeviceName(QString::fromLocal8Bit(::ptsname(master)));
    port.setMonitorEvents(serial::ceRxChar);
    port.Open();
    SerialSessionPort sessionPort(&port);
    Controls controls;
    controls.blocks = 1;
    controls.avg = true; // 7 data blocks
    MeasurementSession session(&controls);
    session.setPort(&sessionPort);
    SignalLog<> complete(&session, &MeasurementSession::transferComplete);

    QByteArray received;
    const auto receive = [&](qsizetype total) {
        return waitUntil([&] {
            char chunk[64];
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n > 0)
                received.append(chunk, n);
            return received.size() >= total;
        });
    };

    session.btStartClick();
    const QByteArray start = buildStartFrame(0, 0x7F, 1, 1, 1);
    ASSERT_TRUE(receive(start.size()));
    ASSERT_EQ(::write(master, "\x0B", 1), 1);
    ASSERT_TRUE(waitUntil([&] { return session.state() == SessionState::WaitingToTransfer; }));
    const QByteArray garbage(501, char(0x5A));
    ASSERT_EQ(::write(master, garbage.constData(), garbage.size()), garbage.size());
    const QByteArray transfer = bytes({ 0x90, 0x7F, 0x00, 0x00, 0xE0 });
    ASSERT_TRUE(receive(start.size() + transfer.size()));

    QByteArray blocks;
    for (int b = 0; b < 7; ++b) {
        QByteArray block(501, '\0');
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(b * 31 + i);
        blocks += block;
        ASSERT_EQ(::write(master, block.constData(), block.size()), block.size());
        if (b < 6) {
            ASSERT_TRUE(receive(start.size() + transfer.size() + b + 1)) << b;
        }
    }
    ASSERT_TRUE(waitUntil([&] { return complete.count == 1; }));
    settle(20);
    EXPECT_TRUE(received == start + transfer + QByteArray(6, char(0x91)))
        << received.toHex().constData();
    EXPECT_TRUE(session.AcquisitionBuffer() == storedFromBlocks(blocks, 0, 7));
    session.setPort(nullptr);
    port.Close();
    ::close(master);
}
