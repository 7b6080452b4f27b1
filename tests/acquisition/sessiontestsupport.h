#pragma once

#include "acquisition/measurementsession.h"
#include "acquisition/protocol.h"
#include "acquisition/sessionserialport.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <stdlib.h>
#include <termios.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace sessiontest {

// A measurement of `blocks` memory blocks at the fastest sampling (d1 = d2 = 1).
inline acquisition::MeasurementRequest request(
    int blocks = 8, bool averaging = false, quint8 channels = 0x7F, int launchType = 0)
{
    acquisition::MeasurementRequest r;
    r.plan.d1 = 1;
    r.plan.d2 = 1;
    r.plan.sramBlocks = blocks;
    r.plan.channels = channels;
    r.plan.averaging = averaging;
    r.launchType = launchType;
    return r;
}

inline acquisition::ReadRequest readRequest(quint8 channels = 0x7F, int launchType = 0)
{
    acquisition::ReadRequest r;
    r.channels = channels;
    r.launchType = launchType;
    return r;
}

// Every outcome the session reports, and the exchanges it proved out of step afterwards.
struct Outcomes
{
    explicit Outcomes(acquisition::MeasurementSession &session)
    {
        QObject::connect(&session, &acquisition::MeasurementSession::exchangeEnded, &session,
            [this](const acquisition::ExchangeOutcome &o) { all.push_back(o); });
        QObject::connect(&session, &acquisition::MeasurementSession::provenOutOfStep, &session,
            [this](quint64 id) { proven.push_back(id); });
    }
    const acquisition::ExchangeOutcome &last() const { return all.back(); }
    std::vector<acquisition::ExchangeOutcome> all;
    std::vector<quint64> proven;
};

// Counts emissions of a signal and keeps the arguments' first value when there is one.
template <typename... Args> struct SignalLog
{
    template <typename Sender, typename Signal> SignalLog(Sender *sender, Signal signal)
    {
        connection = QObject::connect(sender, signal, sender, [this](Args... args) {
            ++count;
            if constexpr (sizeof...(Args) > 0)
                values.push_back(std::get<0>(std::tuple<Args...>(args...)));
        });
    }
    ~SignalLog() { QObject::disconnect(connection); }
    SignalLog(const SignalLog &) = delete;
    SignalLog &operator=(const SignalLog &) = delete;

    QMetaObject::Connection connection;
    int count = 0;
    std::vector<std::tuple_element_t<0, std::tuple<Args..., int>>> values;
};

// Runs the event loop until the condition holds; false after the time-out.
inline bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 30000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

// Runs the event loop for a while (lets late bytes arrive and timers fire).
inline void settle(int ms)
{
    waitUntil([] { return false; }, ms);
}

// The board simulator on a pseudo-terminal and the serial component opened on it with the
// window's line settings.
class BoardLink
{
public:
    explicit BoardLink(sim::BoardOptions options)
        : board(std::move(options))
    {
        std::string error;
        started = board.start(&error);
        EXPECT_TRUE(started) << error;
        port.setDeviceName(QString::fromStdString(board.devicePath()));
        // 921600 bit/s as discovery leaves it: the board ignores bytes at any other rate.
        port.setBaudrate(serial::brUser);
        port.setUserBaudrate(921600);
        port.setParity(serial::paOdd);
        port.FlowControl().setControlDtr(serial::dtrDisabled);
        port.FlowControl().setControlRts(serial::rtsEnabled);
        port.setMonitorEvents(serial::ceRxChar | serial::ceTxEmpty | serial::ceRxFlag);
        if (started) {
            try {
                port.Open();
            } catch (const serial::ESerialPortError &e) {
                ADD_FAILURE() << e.what();
            }
        }
        sessionPort = std::make_unique<acquisition::SerialSessionPort>(&port);
    }

    sim::BoardSimulator board;
    serial::TSerialPort port;
    std::unique_ptr<acquisition::SerialSessionPort> sessionPort;
    bool started = false;
};

// A bare pseudo-terminal playing the board byte by byte, the serial component opened on its
// other side.
class PtyPeer
{
public:
    PtyPeer()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(master, 0);
        EXPECT_EQ(::grantpt(master), 0);
        EXPECT_EQ(::unlockpt(master), 0);
        termios raw {};
        ::tcgetattr(master, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(master, TCSANOW, &raw);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        port.setDeviceName(QString::fromLocal8Bit(::ptsname(master)));
        port.setMonitorEvents(serial::ceRxChar);
        port.Open();
        sessionPort = std::make_unique<acquisition::SerialSessionPort>(&port);
    }
    ~PtyPeer()
    {
        sessionPort.reset();
        port.Close();
        ::close(master);
    }
    void write(const QByteArray &bytes)
    {
        EXPECT_EQ(::write(master, bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    // Waits until the session has sent `total` bytes in all.
    bool receive(qsizetype total)
    {
        return waitUntil([&] {
            char chunk[64];
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n > 0)
                received.append(chunk, n);
            return received.size() >= total;
        });
    }

    int master = -1;
    serial::TSerialPort port;
    std::unique_ptr<acquisition::SerialSessionPort> sessionPort;
    QByteArray received;
};

inline QByteArray toBytes(const std::vector<std::uint8_t> &v)
{
    return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size()));
}

// What the session must have stored from `count` consecutive 501-byte blocks starting at
// `offset` of what the board sent: the first 500 bytes of each, rearranged.
inline QByteArray storedFromBlocks(const QByteArray &sent, qsizetype offset, int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        QByteArray block = sent.mid(offset + qsizetype(i) * 501, 500);
        acquisition::rearrangeOddBytes(block.data(), int(block.size()));
        out.append(block);
    }
    return out;
}

} // namespace sessiontest
