#include "pty.h"

#include <QCoreApplication>
#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <thread>

using namespace serial;

namespace {

// Reads everything OnRxChar announces.
struct Receiver
{
    QByteArray bytes;
    QList<int> counts;
    void attach(TCustomSerialPort &port)
    {
        port.OnRxChar = [this](TCustomSerialPort *sender, int count) {
            counts << count;
            QByteArray chunk(count, '\0');
            chunk.resize(sender->ReadBytes(chunk.data(), count));
            bytes += chunk;
        };
    }
};

// Waits without processing events (the owner thread is "busy") until count bytes wait.
bool waitForInput(TCustomSerialPort &port, int count)
{
    for (int i = 0; i < 5000; ++i) {
        if (port.InputCount() >= count)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

QByteArray numbered(int i)
{
    return QByteArray::number(i).rightJustified(5, '0') + ';';
}

} // namespace

TEST(SerialThreads, BytesGoOutAndComeBackThroughOnRxChar)
{
    PtyPair pty;
    ASSERT_TRUE(pty.isValid());
    TSerialPort port;
    configureForPty(port, pty);
    Receiver rx;
    rx.attach(port);
    port.Open();
    EXPECT_TRUE(port.WriteString("\x29"));
    EXPECT_EQ(pty.read(1), QByteArray("\x29"));
    const QByteArray block(501, 'a');
    pty.write(block);
    EXPECT_TRUE(waitFor([&] { return rx.bytes.size() == 501; }));
    EXPECT_EQ(rx.bytes, block);
}

TEST(SerialThreads, ReportCarriesTheCountWaitingWhenTheOwnerTakesIt)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    QList<int> counts;
    int readSize = 5;
    QByteArray bytes;
    port.OnRxChar = [&](TCustomSerialPort *sender, int count) {
        counts << count;
        QByteArray chunk(readSize, '\0');
        chunk.resize(sender->ReadBytes(chunk.data(), readSize));
        bytes += chunk;
    };
    port.Open();
    pty.write("0123456789");
    ASSERT_TRUE(waitForInput(port, 10)); // the owner thread is busy meanwhile
    pty.write("abcdefghijklmnopqrst");
    ASSERT_TRUE(waitForInput(port, 30));
    ASSERT_TRUE(waitFor([&] { return !counts.isEmpty(); }));
    EXPECT_EQ(counts.first(), 30);

    // Arrivals during the first report may give one more report; after that the bytes the
    // handlers left are not reported again until more arrive.
    int reports = 0;
    while (reports != counts.size()) {
        reports = counts.size();
        processEventsFor(300);
    }
    EXPECT_LE(reports, 2);
    EXPECT_EQ(port.InputCount(), 30 - 5 * reports);
    readSize = 100;
    pty.write("!");
    ASSERT_TRUE(waitFor([&] { return counts.size() == reports + 1; }));
    EXPECT_EQ(counts.last(), 30 - 5 * reports + 1);
    EXPECT_EQ(bytes, QByteArray("0123456789abcdefghijklmnopqrst!"));
}

TEST(SerialThreads, LongBurstInRandomPiecesArrivesWholeAndInOrder)
{
    // Every arrival is reported, also while an earlier report runs: a burst written in pieces
    // of random size and pace ends up whole when each report reads the count it announces.
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    Receiver rx;
    rx.attach(port);
    port.Open();
    std::mt19937 random(5);
    QByteArray burst(200000, '\0');
    for (char &c : burst)
        c = char(random());
    std::thread device([&] {
        std::mt19937 pace(7);
        qsizetype done = 0;
        while (done < burst.size()) {
            const qsizetype n = qMin<qsizetype>(1 + pace() % 700, burst.size() - done);
            pty.write(burst.mid(done, n));
            done += n;
            if (pace() % 4 == 0)
                std::this_thread::sleep_for(std::chrono::microseconds(pace() % 300));
        }
    });
    const bool complete = waitFor([&] { return rx.bytes.size() >= burst.size(); }, 60000);
    device.join();
    EXPECT_TRUE(complete) << rx.bytes.size() << " of " << burst.size();
    EXPECT_TRUE(rx.bytes == burst);
    EXPECT_FALSE(rx.counts.contains(0));
}

TEST(SerialThreads, QueuedWritesKeepTheirOrderAndEndWithTxEmpty)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    port.Buffers().setWriteSize(64); // the writer waits for room now and then
    port.Buffers().setWriteTimeout(10000);
    int txEmpty = 0;
    port.OnTxEmpty = [&](TCustomSerialPort *) { ++txEmpty; };
    port.Open();
    QByteArray expected;
    std::atomic<bool> reading { true };
    QByteArray received;
    std::thread device([&] {
        while (reading)
            received += pty.readAvailable(5);
    });
    for (int i = 0; i < 300; ++i) {
        const QByteArray chunk = numbered(i);
        expected += chunk;
        if (!port.WriteString(chunk))
            break;
        if (i % 50 == 0)
            QCoreApplication::processEvents(); // TX-empty reports may run in between
    }
    EXPECT_TRUE(waitFor([&] { return txEmpty > 0 && port.ReadStatus().OutQue == 0; }));
    reading = false;
    device.join();
    received += pty.readAvailable(100);
    EXPECT_EQ(received, expected);
    EXPECT_GE(txEmpty, 1);
}

TEST(SerialThreads, EnqueueOfTheFreeRoomFitsAndOneByteMoreWaitsForRoom)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    port.Buffers().setWriteSize(16);
    port.Buffers().setWriteTimeout(100);
    port.Open();
    pty.setOutputStopped(true); // the device takes nothing: queued bytes stay queued
    EXPECT_EQ(port.WriteBytes("0123456789ABCDEF", 16), 16);
    EXPECT_EQ(
        [&] {
            try {
                port.WriteBytes("G", 1);
            } catch (const ESerialPortError &e) {
                return e.message();
            }
            return QString();
        }(),
        QStringLiteral("Output buffer is full. Please check comm status."));
    // More than the whole queue can never fit.
    EXPECT_THROW(port.WriteBytes(QByteArray(17, 'x').constData(), 17), ESerialPortError);

    // One byte more waits until the write thread has made room.
    port.Buffers().setWriteTimeout(20000);
    std::thread resume([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.setOutputStopped(false);
    });
    EXPECT_EQ(port.WriteBytes("G", 1), 1);
    resume.join();
    EXPECT_EQ(pty.read(17), QByteArray("0123456789ABCDEFG"));
}

TEST(SerialThreads, PurgeEmptiesTheQueueAndTheAbortedWriteRemovesNothingLater)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    int txEmpty = 0;
    port.OnTxEmpty = [&](TCustomSerialPort *) { ++txEmpty; };
    port.Open();

    // Nothing queued: acknowledged at once, nothing goes out.
    port.PurgeAll();
    EXPECT_EQ(pty.readAvailable(50), QByteArray());

    // A write pending on a stopped device is dropped; bytes queued after the purge go out whole.
    pty.setOutputStopped(true);
    ASSERT_TRUE(port.WriteString("PENDING"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.PurgeAll();
    pty.setOutputStopped(false);
    ASSERT_TRUE(port.WriteString("after"));
    EXPECT_EQ(pty.read(5), QByteArray("after"));
    EXPECT_EQ(pty.readAvailable(100), QByteArray());
    EXPECT_TRUE(waitFor([&] { return txEmpty >= 1; }));

    // A purge while the TX-empty report waits for this thread.
    const int before = txEmpty;
    ASSERT_TRUE(port.WriteString("xyz"));
    EXPECT_EQ(pty.read(3), QByteArray("xyz"));
    port.PurgeAll();
    ASSERT_TRUE(port.WriteString("next"));
    EXPECT_EQ(pty.read(4), QByteArray("next"));
    EXPECT_TRUE(waitFor([&] { return txEmpty > before; }));

    // The receive side alone: bytes waiting are dropped, queued output is kept.
    pty.setOutputStopped(true);
    ASSERT_TRUE(port.WriteString("keep"));
    pty.write("junk");
    ASSERT_TRUE(waitForInput(port, 4));
    port.Purge(PurgeRxAbort | PurgeRxClear);
    EXPECT_EQ(port.InputCount(), 0);
    pty.setOutputStopped(false);
    EXPECT_EQ(pty.read(4), QByteArray("keep"));
}

TEST(SerialThreads, PurgeFromTheTxEmptyHandlerIsAcknowledged)
{
    // The write thread answers a purge while its own TX-empty report runs, so the queue is
    // emptied (an unanswered purge would leave it as it was and the bytes would go out later).
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    int txEmpty = 0;
    port.OnTxEmpty = [&](TCustomSerialPort *sender) {
        if (++txEmpty != 1)
            return;
        pty.setOutputStopped(true);
        EXPECT_TRUE(sender->WriteString("DROPPED"));
        sender->PurgeAll();
        pty.setOutputStopped(false);
    };
    port.Open();
    ASSERT_TRUE(port.WriteString("first"));
    EXPECT_EQ(pty.read(5), QByteArray("first"));
    ASSERT_TRUE(waitFor([&] { return txEmpty >= 1; }));
    ASSERT_TRUE(port.WriteString("next"));
    EXPECT_EQ(pty.read(4), QByteArray("next"));
    EXPECT_EQ(pty.readAvailable(100), QByteArray());
}

TEST(SerialThreads, NoHandlerRunsAfterClose)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    int calls = 0;
    port.OnRxChar = [&](TCustomSerialPort *, int) { ++calls; };
    port.OnTxEmpty = [&](TCustomSerialPort *) { ++calls; };
    port.Open();
    ASSERT_TRUE(port.WriteString("out"));
    pty.write("in");
    ASSERT_TRUE(waitForInput(port, 2));
    EXPECT_EQ(pty.read(3), QByteArray("out"));
    // Both threads have a report waiting for this thread now (or are about to).
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    port.Close();
    processEventsFor(100);
    EXPECT_EQ(calls, 0);
    port.Open();
    pty.write("again");
    EXPECT_TRUE(waitFor([&] { return calls > 0; }));
}

TEST(SerialThreads, HandlerMayCloseThePort)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    int rxCalls = 0;
    int closes = 0;
    port.OnRxChar = [&](TCustomSerialPort *sender, int) {
        ++rxCalls;
        sender->Close();
    };
    port.OnClose = [&](TCustomSerialPort *) { ++closes; };
    port.Open();
    pty.write("x");
    EXPECT_TRUE(waitFor([&] { return closes == 1; }));
    EXPECT_FALSE(port.IsOpen());
    pty.write("yz");
    processEventsFor(50);
    EXPECT_EQ(rxCalls, 1);
    // The port opens again from within its own handler's aftermath.
    port.OnRxChar = [&](TCustomSerialPort *, int) { ++rxCalls; };
    port.Open();
    pty.write("w");
    EXPECT_TRUE(waitFor([&] { return rxCalls >= 2; }));
}

TEST(SerialThreads, ThousandOpenCloseCyclesWithTrafficFlowing)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    int handlersWhileClosed = 0;
    int rxBytes = 0;
    port.OnRxChar = [&](TCustomSerialPort *sender, int count) {
        if (!sender->IsOpen())
            ++handlersWhileClosed;
        char buffer[256];
        rxBytes += sender->ReadBytes(buffer, qMin(count, 256));
    };
    port.OnTxEmpty = [&](TCustomSerialPort *sender) {
        if (!sender->IsOpen())
            ++handlersWhileClosed;
    };
    std::atomic<bool> running { true };
    std::thread device([&] {
        while (running) {
            pty.write("0123456789");
            pty.readAvailable(1);
        }
    });
    for (int i = 0; i < 1000; ++i) {
        port.Open();
        port.WriteString("ping");
        QCoreApplication::processEvents();
        port.Close();
        QCoreApplication::processEvents();
    }
    running = false;
    device.join();
    EXPECT_EQ(handlersWhileClosed, 0);
    EXPECT_GT(rxBytes, 0);
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialThreads, HangUpIsReportedOnceAsLineError)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    QList<int> errors;
    int rxCalls = 0;
    port.OnError = [&](TCustomSerialPort *, int flags) { errors << flags; };
    port.OnRxChar = [&](TCustomSerialPort *, int) { ++rxCalls; }; // reads nothing
    port.Open();
    pty.write("left behind");
    ASSERT_TRUE(waitFor([&] { return rxCalls == 1; }));
    pty.hangUp();
    ASSERT_TRUE(waitFor([&] { return !errors.isEmpty(); }));
    EXPECT_EQ(errors, QList<int> { int(IoError) });
    // Bytes for the dead device are not accepted (rather than queued to be lost), quietly.
    EXPECT_FALSE(port.WriteString("lost"));
    processEventsFor(300);
    EXPECT_EQ(errors.size(), 1);
    // The unread bytes and the dead device give no stream of reports.
    EXPECT_LE(rxCalls, 2);
    char buffer[64];
    EXPECT_NO_THROW(port.ReadBytes(buffer, sizeof buffer));
    EXPECT_NO_THROW(port.InputCount());
    EXPECT_TRUE(port.IsOpen());
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialThreads, HangUpDuringAPendingWriteIsReportedOnceAndCloseReturns)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    port.setMonitorEvents(0); // only the write thread can notice the departure
    QList<int> errors;
    int txEmpty = 0;
    port.OnError = [&](TCustomSerialPort *, int flags) { errors << flags; };
    port.OnTxEmpty = [&](TCustomSerialPort *) { ++txEmpty; };
    port.Open();
    pty.setOutputStopped(true); // the write waits for room in the device
    ASSERT_TRUE(port.WriteString(QByteArray(1000, 'x')));
    processEventsFor(50);
    pty.hangUp();
    ASSERT_TRUE(waitFor([&] { return !errors.isEmpty(); }));
    EXPECT_EQ(errors, QList<int> { int(IoError) });
    EXPECT_FALSE(port.WriteString("lost"));
    EXPECT_NO_THROW(port.PurgeAll());
    processEventsFor(300); // the failed write is not retried into a stream of reports
    EXPECT_EQ(errors.size(), 1);
    EXPECT_EQ(txEmpty, 0);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

TEST(SerialThreads, WithoutMonitorEventsNoRxCharFires)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    port.setMonitorEvents(0);
    int rxCalls = 0;
    port.OnRxChar = [&](TCustomSerialPort *, int) { ++rxCalls; };
    port.Open();
    EXPECT_EQ(port.EventMask(), 0u);
    pty.write("quiet");
    ASSERT_TRUE(waitForInput(port, 5));
    processEventsFor(100);
    EXPECT_EQ(rxCalls, 0);
    char buffer[8];
    EXPECT_EQ(port.ReadBytes(buffer, 8), 5);
    EXPECT_EQ(QByteArray(buffer, 5), QByteArray("quiet"));
}

TEST(SerialThreads, HandlerExceptionsAreReportedAndTheThreadsGoOn)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    QStringList reported;
    setExceptionReporter([&](const std::exception &e) { reported << QString::fromUtf8(e.what()); });
    QByteArray bytes;
    port.OnRxChar = [&](TCustomSerialPort *sender, int count) {
        QByteArray chunk(count, '\0');
        chunk.resize(sender->ReadBytes(chunk.data(), count));
        bytes += chunk;
        throw ESerialPortError(QStringLiteral("rx handler failed"));
    };
    port.OnTxEmpty = [&](TCustomSerialPort *) { throw std::runtime_error("tx handler failed"); };
    port.Open();
    pty.write("a");
    ASSERT_TRUE(waitFor([&] { return bytes == "a"; }));
    pty.write("b");
    ASSERT_TRUE(waitFor([&] { return bytes == "ab"; }));
    ASSERT_TRUE(port.WriteString("1"));
    ASSERT_TRUE(waitFor([&] { return reported.contains(QStringLiteral("tx handler failed")); }));
    ASSERT_TRUE(port.WriteString("2"));
    EXPECT_EQ(pty.read(2), QByteArray("12"));
    EXPECT_EQ(reported.count(QStringLiteral("rx handler failed")), 2);
    setExceptionReporter(nullptr);
}

TEST(SerialThreads, DirectWriteSendsWithoutTheWriteThread)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    port.setDirectWrite(true);
    port.Open();
    EXPECT_EQ(port.EventMask(), quint32(ceRxChar | ceTxEmpty | ceRxFlag));
    EXPECT_EQ(port.WriteBytes("direct", 6), 6);
    EXPECT_EQ(pty.read(6), QByteArray("direct"));
    // A device that takes nothing: the write gives up after the read time-out with what it sent.
    port.Buffers().setReadTimeout(50);
    pty.setOutputStopped(true);
    EXPECT_EQ(port.WriteBytes("held", 4), 0);
    pty.setOutputStopped(false);

    // A write the device refuses raises with the system's code and text (no event thread here
    // notices the departure first).
    port.Close();
    port.setMonitorEvents(0);
    port.Open();
    pty.hangUp();
    QString message;
    try {
        port.WriteBytes("gone", 4);
    } catch (const ESerialPortError &e) {
        message = e.message();
    }
    EXPECT_EQ(message, QStringLiteral("Write error (5), Input/output error"));
    EXPECT_EQ(port.WriteBytes("gone", 4), 0); // reported once; then quiet, as a closed port
}

// TX empty is reported whenever the queue drains: OnTxEmpty fires if it is assigned by then,
// whether or not it was assigned when the bytes were queued, and not once it is taken away.
TEST(SerialThreads, TxEmptyFiresForTheHandlerAssignedWhenTheQueueDrains)
{
    PtyPair pty;
    TSerialPort port;
    configureForPty(port, pty);
    port.Buffers().setWriteSize(64 * 1024);
    port.Open();
    int txEmpty = 0;

    // Queued without a handler; the handler is assigned while the bytes still wait.
    pty.setOutputStopped(true);
    const QByteArray block(8000, 'a');
    ASSERT_TRUE(port.WriteString(block));
    processEventsFor(20);
    port.OnTxEmpty = [&](TCustomSerialPort *) { ++txEmpty; };
    pty.setOutputStopped(false);
    QByteArray received;
    EXPECT_TRUE(waitFor([&] {
        received += pty.readAvailable(1);
        return txEmpty == 1 && received.size() == block.size();
    })) << txEmpty
        << " " << received.size();

    // Queued with the handler, which is taken away before the queue drains: nothing fires.
    pty.setOutputStopped(true);
    ASSERT_TRUE(port.WriteString(block));
    processEventsFor(20);
    port.OnTxEmpty = nullptr;
    pty.setOutputStopped(false);
    received.clear();
    EXPECT_TRUE(waitFor([&] {
        received += pty.readAvailable(1);
        return received.size() == block.size() && port.ReadStatus().OutQue == 0;
    }));
    processEventsFor(50);
    EXPECT_EQ(txEmpty, 1);

    // A write the driver takes at once drains the queue at once, within WriteString: reported
    // when the handler is assigned then, and not when it is assigned only afterwards.
    port.OnTxEmpty = [&](TCustomSerialPort *) { ++txEmpty; };
    ASSERT_TRUE(port.WriteString(QByteArray("z")));
    EXPECT_TRUE(waitFor([&] { return txEmpty == 2; }));
    EXPECT_EQ(pty.read(1), QByteArray("z"));
    port.OnTxEmpty = nullptr;
    ASSERT_TRUE(port.WriteString(QByteArray("y")));
    port.OnTxEmpty = [&](TCustomSerialPort *) { ++txEmpty; };
    EXPECT_EQ(pty.read(1), QByteArray("y"));
    processEventsFor(50);
    EXPECT_EQ(txEmpty, 2);
    port.Close();
}
