#pragma once

// What the acquisition benchmarks share: the port set up as the window sets it, an event loop
// run until a condition holds, the figures of a series, and the master side of a
// pseudo-terminal on which a small responder plays the board in a thread of its own.

#include "serial/serialport.h"

#include <QEventLoop>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

// Runs a blocking event loop, as the window does, until `condition` holds or the time-out.
inline bool runUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    check.setInterval(10);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return condition();
}

// Opens the port with the window's line settings; the board talks at 921600 bit/s only (the
// simulator ignores bytes at any other rate).
inline void openPort(serial::TSerialPort &port, const QString &device)
{
    port.setDeviceName(device);
    port.setBaudrate(serial::brUser);
    port.setUserBaudrate(921600);
    port.setParity(serial::paOdd);
    port.FlowControl().setControlDtr(serial::dtrDisabled);
    port.FlowControl().setControlRts(serial::rtsEnabled);
    port.setMonitorEvents(serial::ceRxChar | serial::ceTxEmpty | serial::ceRxFlag);
    port.Open();
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// The master side of a raw pseudo-terminal, read in a thread of its own: each read is handed
// over with the moment it returned. The thread ends with this object, so an owner declares it
// after the state its handler uses.
class PtyMaster
{
public:
    using Handler = std::function<void(const unsigned char *bytes, int count, Clock::time_point)>;

    ~PtyMaster()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_master >= 0)
            ::close(m_master);
    }
    // The terminal the application opens.
    QString path() const { return m_path; }
    // Opens the terminal and starts reading it; false when there is no pseudo-terminal.
    bool start(Handler handler)
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return false;
        termios t {};
        ::tcgetattr(m_master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_master, TCSANOW, &t);
        m_path = QString::fromLocal8Bit(::ptsname(m_master));
        m_thread = std::thread([this, handler = std::move(handler)] {
            while (!m_stop) {
                pollfd p { m_master, POLLIN, 0 };
                if (::poll(&p, 1, 20) <= 0)
                    continue;
                unsigned char buffer[64];
                const ssize_t n = ::read(m_master, buffer, sizeof buffer);
                const Clock::time_point now = Clock::now();
                if (n > 0)
                    handler(buffer, int(n), now);
            }
        });
        return true;
    }
    // Writes all of `data`, retrying short writes; false when it stopped at an error.
    bool write(const unsigned char *data, int size)
    {
        int off = 0;
        while (off < size) {
            const ssize_t n = ::write(m_master, data + off, size_t(size - off));
            if (n > 0)
                off += int(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
        }
        return true;
    }

private:
    int m_master = -1;
    QString m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
};

} // namespace bench
