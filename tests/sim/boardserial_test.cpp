// The board simulator through the application's serial component: the exchanges of a
// measurement, a transfer, tuning and the photodiode launch, and every fault option, as the
// application meets them.

#include "serial/serialport.h"
#include "sim/boardsimulator.h"
#include "tests/sim/ptylink.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>

using namespace std::chrono_literals;
using serial::TCustomSerialPort;
using serial::TSerialPort;
using sim::BoardOptions;
using sim::BoardSimulator;
using sim::BoardState;

namespace {

bool pumpUntil(const std::function<bool()> &done, int ms = 20000)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void pumpFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QByteArray bytes(const std::vector<std::uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size()));
}

QByteArray startFrame(std::uint8_t code, std::uint8_t mask, int d1, int d2, int blocks)
{
    return bytes(simtest::startFrame(code, mask, d1, d2, blocks));
}

QByteArray transferCommand(bool averaged, std::uint8_t mask, int blocks)
{
    return bytes(simtest::transferCommand(averaged, mask, blocks));
}

// The board and the application's port on it, with the port configured as discovery leaves it
// and everything that arrives collected by OnRxChar.
struct Link
{
    explicit Link(BoardOptions options)
        : board(std::move(options))
    {
        std::string error;
        EXPECT_TRUE(board.start(&error)) << error;
        port.setDeviceName(QString::fromStdString(board.devicePath()));
        // 921600 bit/s as discovery leaves it: the board ignores bytes at any other rate.
        port.setBaudrate(serial::brUser);
        port.setUserBaudrate(921600);
        port.setParity(serial::paOdd);
        port.FlowControl().setControlRts(serial::rtsEnabled);
        port.FlowControl().setControlDtr(serial::dtrDisabled);
        port.setMonitorEvents(serial::ceRxChar | serial::ceTxEmpty | serial::ceRxFlag);
        port.OnRxChar = [this](TCustomSerialPort *sender, int count) {
            ++rxEvents;
            QByteArray chunk(count, '\0');
            chunk.resize(sender->ReadBytes(chunk.data(), count));
            received += chunk;
        };
        port.Open();
        port.WriteString(QByteArray(1, 0x29));
    }
    ~Link()
    {
        if (port.IsOpen())
            port.Close();
        board.stop();
    }

    // Waits for n bytes in `received` and takes them out.
    QByteArray take(int n)
    {
        if (!pumpUntil([&] { return received.size() >= n; })) {
            const auto c = board.counters();
            ADD_FAILURE() << "waited for " << n << " bytes, have " << received.size() << "; board "
                          << sim::boardStateName(board.state()) << ", heard " << c.bytesReceived
                          << " bytes, sent " << c.bytesSent;
        }
        const QByteArray head = received.left(n);
        received.remove(0, head.size());
        return head;
    }

    // The transfer as the application runs it: a request after each complete block until
    // `count` blocks are in; returns the 500 data bytes of each block, concatenated.
    QByteArray transfer(bool averaged, quint8 mask, int memoryBlocks, int count)
    {
        QByteArray data;
        port.WriteString(transferCommand(averaged, mask, memoryBlocks));
        for (int b = 0; b < count; ++b) {
            const QByteArray block = take(501);
            if (block.size() != 501)
                break;
            data += block.left(500);
            if (b + 1 < count)
                port.WriteString(QByteArray(1, char(averaged ? 0x91 : 0x81)));
        }
        return data;
    }

    BoardSimulator board;
    TSerialPort port;
    QByteArray received;
    int rxEvents = 0;
};

BoardOptions fast(double speed = 1e4)
{
    BoardOptions o;
    o.speed = speed;
    return o;
}

} // namespace

TEST(BoardThroughSerialPort, FullMeasurementOfEightBlocks)
{
    Link link(fast(1e5));
    ASSERT_TRUE(link.port.IsOpen());
    const QByteArray frame = startFrame(0x13, 0x7F, 1, 200, 8);
    link.port.WriteString(frame);
    EXPECT_EQ(link.take(1), QByteArray("\x0A"));
    EXPECT_DOUBLE_EQ(link.board.lastRecordingSeconds(), (3.0 * 2 * 200 + 55) * 240000 / 14745600);
    link.port.PurgeAll();

    const QByteArray data = link.transfer(false, 0x7F, 8, 960);
    ASSERT_EQ(data.size(), 480000);
    pumpFor(50);
    EXPECT_TRUE(link.received.isEmpty());

    // The application stored exactly what the board sent, less each block's last byte.
    const QByteArray sent = bytes(link.board.sent());
    ASSERT_EQ(sent.size(), 1 + 960 * 501);
    QByteArray expected;
    for (int b = 0; b < 960; ++b)
        expected += sent.mid(1 + b * 501, 500);
    EXPECT_EQ(data, expected);

    // And the board heard the probe, the frame, one transfer command and 959 requests.
    const QByteArray heard = bytes(link.board.received());
    EXPECT_EQ(heard,
        QByteArray(1, 0x29) + frame + transferCommand(false, 0x7F, 8)
            + QByteArray(959, char(0x81)));
    const auto c = link.board.counters();
    EXPECT_EQ(c.probes, 1);
    EXPECT_EQ(c.blocks, 960);
    EXPECT_EQ(c.ignoredBytes, 0);
}

TEST(BoardThroughSerialPort, AveragedTransferOfOneBlockIsSevenBlocks)
{
    Link link(fast());
    link.port.WriteString(startFrame(0x13, 0x03, 10, 10, 1));
    ASSERT_EQ(link.take(1), QByteArray("\x0A"));
    const QByteArray data = link.transfer(true, 0x03, 1, 7);
    ASSERT_EQ(data.size(), 3500);
    std::uint8_t block[501];
    link.board.memory().fillBlock(true, 6, block);
    EXPECT_EQ(data.right(500), QByteArray(reinterpret_cast<char *>(block), 500));
    EXPECT_EQ(bytes(link.board.received()).right(7),
        transferCommand(true, 0x03, 1).right(1) + QByteArray(6, char(0x91)));
}

TEST(BoardThroughSerialPort, TuningEndsByItselfOrOnRequest)
{
    Link link(fast(50)); // the 0x11 follows after 20 ms
    link.port.WriteString(QByteArray(1, 0x10));
    EXPECT_EQ(link.take(1), QByteArray("\x10"));
    EXPECT_EQ(link.take(1), QByteArray("\x11"));

    Link slow(fast(0.01)); // tuning would last 100 s; the application ends it
    slow.port.WriteString(QByteArray(1, 0x10));
    EXPECT_EQ(slow.take(1), QByteArray("\x10"));
    slow.port.WriteString(QByteArray(1, 0x11));
    EXPECT_EQ(slow.take(1), QByteArray("\x11"));
    slow.port.WriteString(QByteArray(1, 0x11)); // not tuning any more: ignored
    pumpFor(150);
    EXPECT_TRUE(slow.received.isEmpty());
    EXPECT_EQ(slow.board.counters().statusBytes, 2);
}

TEST(BoardThroughSerialPort, PhotodiodeLaunchRecordsFromTheTrigger)
{
    Link link(fast());
    link.port.WriteString(startFrame(0x33, 0x01, 1, 1, 1));
    ASSERT_TRUE(link.board.waitForState(BoardState::WaitingForTrigger, 10s));
    pumpFor(100);
    EXPECT_TRUE(link.received.isEmpty());
    link.board.trigger();
    EXPECT_EQ(link.take(1), QByteArray("\x0A"));
    const QByteArray first = link.transfer(false, 0x01, 1, 1);
    ASSERT_EQ(first.size(), 500);
    EXPECT_TRUE(quint8(first[1]) & 0x08); // the photodiode bit of the first sample

    link.port.WriteString(QByteArray("\x34\x01\x00", 3));
    ASSERT_TRUE(link.board.waitForState(BoardState::WaitingForTrigger, 10s));
    link.board.trigger();
    EXPECT_EQ(link.take(501).size(), 501);

    BoardOptions o = fast();
    o.triggerAfterSeconds = 0.05;
    Link automatic(o);
    automatic.port.WriteString(startFrame(0x33, 0x01, 1, 1, 1));
    EXPECT_EQ(automatic.take(1), QByteArray("\x0A"));
    EXPECT_EQ(automatic.board.counters().triggers, 1);
}

TEST(BoardThroughSerialPortFaults, DroppedBlockLeavesTheTransferWaiting)
{
    BoardOptions o = fast();
    o.dropReply = 3; // the second block
    Link link(o);
    link.port.WriteString(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_EQ(link.take(1), QByteArray("\x0A"));
    link.port.WriteString(transferCommand(false, 0x01, 1));
    EXPECT_EQ(link.take(501).size(), 501);
    link.port.WriteString(QByteArray(1, char(0x81)));
    pumpFor(150);
    EXPECT_TRUE(link.received.isEmpty());
    EXPECT_EQ(link.board.counters().droppedReplies, 1);
}

TEST(BoardThroughSerialPortFaults, GarbageArrivesBehindTheEndByte)
{
    BoardOptions o = fast();
    o.garbageAfter = 1;
    Link link(o);
    link.port.WriteString(startFrame(0x13, 0x01, 1, 1, 1));
    const QByteArray got = link.take(1 + sim::kGarbageBytes);
    ASSERT_EQ(got.size(), 1 + sim::kGarbageBytes);
    EXPECT_EQ(got, bytes(link.board.sent()));
    // A purge, as after the end byte, clears it; the transfer then runs as usual.
    link.port.PurgeAll();
    link.received.clear();
    EXPECT_EQ(link.transfer(false, 0x01, 1, 2).size(), 1000);
}

TEST(BoardThroughSerialPortFaults, StalledBoardAnswersNothingMore)
{
    BoardOptions o = fast();
    o.stallAfter = 1;
    Link link(o);
    link.port.WriteString(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_EQ(link.take(1), QByteArray("\x0A"));
    link.port.WriteString(transferCommand(false, 0x01, 1));
    ASSERT_TRUE(link.board.waitFor([](auto &c) { return c.bytesReceived == 1 + 6 + 5; }, 10s));
    pumpFor(100);
    EXPECT_TRUE(link.received.isEmpty());
    EXPECT_EQ(link.board.state(), BoardState::Stalled);
}

TEST(BoardThroughSerialPortFaults, HangupMidBlockDeliversHalfAndTheOtherHalfNever)
{
    BoardOptions o = fast();
    o.hangupAfter = 2;
    Link link(o);
    link.port.WriteString(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_EQ(link.take(1), QByteArray("\x0A"));
    link.port.WriteString(transferCommand(false, 0x01, 1));
    // Pumped, not blocked: the board waits for the half block to be read before it hangs up.
    ASSERT_TRUE(pumpUntil([&] { return link.board.state() == BoardState::HungUp; }));
    pumpFor(100);
    EXPECT_EQ(link.received, bytes(link.board.sent()).mid(1));
    EXPECT_EQ(link.received.size(), 250);
    // The component survives writing to and closing a port whose other side has gone.
    link.port.WriteString(QByteArray(1, char(0x81)));
    pumpFor(50);
    link.port.Close();
    EXPECT_FALSE(link.port.IsOpen());
}

TEST(BoardThroughSerialPortFaults, ChunkedPacedRepliesAssembleIntoTheSameBlocks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    BoardOptions o = fast();
    o.chunks = 4;
    o.gapUs = 10000; // wide gaps: the pieces are reported apart even on a busy machine
    o.wireRate = 921600;
    o.recordFile = dir.filePath("sent.bin").toStdString();
    Link link(o);
    link.port.WriteString(startFrame(0x13, 0x05, 1, 1, 1));
    ASSERT_EQ(link.take(1), QByteArray("\x0A"));
    const int eventsBefore = link.rxEvents;
    const QByteArray data = link.transfer(false, 0x05, 1, 3);
    ASSERT_EQ(data.size(), 1500);
    EXPECT_GT(link.rxEvents - eventsBefore, 3); // each block came in pieces

    // The board appends to its record file just after the bytes leave for the pty, holding its
    // lock: asking for its counters waits until the last piece is in the file as well.
    (void)link.board.counters();
    QFile file(dir.filePath("sent.bin"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray recorded = file.readAll();
    ASSERT_EQ(recorded.size(), 1 + 3 * 501);
    EXPECT_EQ(data, recorded.mid(1, 500) + recorded.mid(502, 500) + recorded.mid(1003, 500));
}

TEST(BoardThroughSerialPortFaults, ExtraByteMakesOneBlockOf502Bytes)
{
    BoardOptions o = fast();
    o.extraByteAfter = 3; // the second block
    Link link(o);
    link.port.WriteString(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_EQ(link.take(1), QByteArray("\x0A"));
    link.port.WriteString(transferCommand(false, 0x01, 1));
    const QByteArray first = link.take(501);
    link.port.WriteString(QByteArray(1, char(0x81)));
    const QByteArray second = link.take(502);
    ASSERT_EQ(second.size(), 502);
    EXPECT_EQ(second.at(501), second.at(500));
    pumpFor(50);
    EXPECT_TRUE(link.received.isEmpty());
    EXPECT_EQ(first + second, bytes(link.board.sent()).mid(1));
    EXPECT_EQ(link.board.counters().extraBytes, 1);
}

// A host that sets a line rate other than 921600 bit/s is not understood: its bytes are
// ignored and logged; at 921600 bit/s the same frame starts a recording.
TEST(BoardThroughSerialPortFaults, WrongLineRateIsRefused)
{
    BoardOptions o = fast();
    BoardSimulator board(o);
    std::vector<std::string> events;
    std::mutex eventsMutex;
    board.setEventLog([&](const std::string &line) {
        std::lock_guard lock(eventsMutex);
        events.push_back(line);
    });
    std::string error;
    ASSERT_TRUE(board.start(&error)) << error;
    TSerialPort port;
    port.setDeviceName(QString::fromStdString(board.devicePath()));
    port.setBaudrate(serial::br9600);
    port.setParity(serial::paOdd);
    port.Open();
    port.WriteString(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_TRUE(board.waitFor([](auto &c) { return c.wrongRateBytes == 6; }, 10s));
    EXPECT_EQ(board.counters().startFrames, 0);
    EXPECT_TRUE(pumpUntil([&] {
        std::lock_guard lock(eventsMutex);
        return !events.empty()
            && events.back().find("line rate 9600 bit/s refused") != std::string::npos;
    }));
    port.Close();
    port.setBaudrate(serial::brUser);
    port.setUserBaudrate(921600);
    port.Open();
    port.WriteString(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_TRUE(board.waitFor([](auto &c) { return c.startFrames == 1; }, 10s));
    EXPECT_EQ(board.counters().wrongRateBytes, 6);
    // A start frame with a wrong checksum is ignored, and the log says so.
    QByteArray bad = startFrame(0x13, 0x01, 1, 1, 1);
    bad[5] = char(bad.at(5) + 1);
    port.WriteString(bad);
    // The line is logged right after the frame is counted.
    EXPECT_TRUE(pumpUntil([&] {
        std::lock_guard lock(eventsMutex);
        return std::any_of(events.begin(), events.end(), [](const std::string &line) {
            return line.find("start frame ignored: checksum") != std::string::npos;
        });
    }));
    EXPECT_EQ(board.counters().badChecksums, 1);
    port.Close();
    board.stop();
}
