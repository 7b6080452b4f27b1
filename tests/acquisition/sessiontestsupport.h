#pragma once

#include "acquisition/measurementsession.h"
#include "acquisition/protocol.h"
#include "acquisition/sessionserialport.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <gtest/gtest.h>
#include <memory>
#include <thread>
#include <tuple>
#include <vector>

namespace sessiontest {

// The controls as plain values; a test changes them at any moment, as a user would.
struct Controls : acquisition::SessionControls
{
    bool avg = false;
    int range = 0;
    int d1Value = 1;
    int d2Value = 1;
    int blocks = 8;
    quint8 mask = 0x7F;
    int count = 7;

    bool averaging() const override { return avg; }
    int rangeIndex() const override { return range; }
    int d1() const override { return d1Value; }
    int d2() const override { return d2Value; }
    int SRAMblocks() const override { return blocks; }
    quint8 ChannelMask() const override { return mask; }
    int ChannelCount() const override { return count; }
    quint8 checkedChannels() const override { return mask; }
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
