// Round trips over a pseudo-terminal: one request byte out, a 501-byte block back, as the
// measurement transfer does. The serial component (WriteString, OnRxChar, ReadBytes on the
// owner thread's event loop) against a plain poll() loop on the same pseudo-terminal, in the
// same run, alternating.
//
// Run twice: with idle processors, and with every processor kept busy by spinners of the
// lowest scheduling class (SCHED_IDLE), which take no time from the measured threads. On a
// virtual machine a processor that has gone idle takes tens of microseconds to wake, and the
// component's event thread adds one hand-over per round trip (event thread to owner thread)
// that the plain loop does not have; the second run shows the software cost without that
// wake-up latency.

#include "serial/serialport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int requests = 960;
constexpr int blockSize = 501;
constexpr int rounds = 5;

using Clock = std::chrono::steady_clock;

double micros(Clock::duration d)
{
    return std::chrono::duration<double, std::micro>(d).count();
}

// Plays the board: every byte received on the master is answered by one block.
class Device
{
public:
    explicit Device(int master)
        : m_master(master)
        , m_thread([this] { run(); })
    {
    }
    ~Device()
    {
        m_running = false;
        m_thread.join();
    }

private:
    void run()
    {
        std::vector<char> block(blockSize, 'D');
        char in[64];
        while (m_running) {
            pollfd p = { m_master, POLLIN, 0 };
            if (poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = ::read(m_master, in, sizeof in);
            for (ssize_t i = 0; i < n; ++i)
                writeAll(block.data(), blockSize);
        }
    }
    void writeAll(const char *data, int size)
    {
        int done = 0;
        while (done < size) {
            const ssize_t n = ::write(m_master, data + done, size - done);
            if (n > 0) {
                done += static_cast<int>(n);
            } else if (errno == EAGAIN || errno == EINTR) {
                pollfd p = { m_master, POLLOUT, 0 };
                poll(&p, 1, 10);
            } else {
                return;
            }
        }
    }

    int m_master;
    std::atomic<bool> m_running { true };
    std::thread m_thread;
};

std::vector<double> plainLoop(const char *device)
{
    std::vector<double> times;
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return times;
    termios tio;
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);
    char buffer[1024];
    for (int i = 0; i < requests; ++i) {
        const auto start = Clock::now();
        const char request = 0x81;
        if (::write(fd, &request, 1) != 1)
            break;
        int got = 0;
        while (got < blockSize) {
            pollfd p = { fd, POLLIN, 0 };
            poll(&p, 1, 1000);
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0)
                got += static_cast<int>(n);
        }
        times.push_back(micros(Clock::now() - start));
    }
    ::close(fd);
    return times;
}

// readAsAnnounced: the handler reads whatever each OnRxChar announces. Otherwise it reads only
// once the whole block waits, as the measurement session's arrival rule does.
std::vector<double> component(const char *device, bool readAsAnnounced)
{
    std::vector<double> times;
    serial::TSerialPort port;
    port.setDeviceName(QString::fromLocal8Bit(device));
    port.setBaudrate(serial::br9600);
    port.setMonitorEvents(serial::ceRxChar | serial::ceTxEmpty | serial::ceRxFlag);
    QEventLoop loop;
    int got = 0;
    int sent = 0;
    Clock::time_point start;
    char buffer[1024];
    auto request = [&] {
        ++sent;
        got = 0;
        start = Clock::now();
        port.WriteString(QByteArray(1, char(0x81)));
    };
    port.OnRxChar = [&](serial::TCustomSerialPort *sender, int count) {
        if (!readAsAnnounced && count < blockSize)
            return;
        while (count > 0) {
            const int n = sender->ReadBytes(buffer, std::min<int>(count, sizeof buffer));
            if (n <= 0)
                break;
            got += n;
            count -= n;
        }
        if (got < blockSize)
            return;
        times.push_back(micros(Clock::now() - start));
        if (sent < requests)
            request();
        else
            loop.quit();
    };
    port.Open();
    request();
    loop.exec();
    port.Close();
    return times;
}

// Keeps every processor out of idle without competing with normal threads.
class IdleSpinners
{
public:
    IdleSpinners()
    {
        const unsigned n = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < n; ++i)
            m_threads.emplace_back([this] {
                sched_param param {};
                sched_setscheduler(0, SCHED_IDLE, &param);
                while (m_running.load(std::memory_order_relaxed)) { }
            });
    }
    ~IdleSpinners()
    {
        m_running = false;
        for (std::thread &t : m_threads)
            t.join();
    }

private:
    std::atomic<bool> m_running { true };
    std::vector<std::thread> m_threads;
};

struct Summary
{
    double median = 0;
    double min = 0;
};

Summary summarize(std::vector<double> values)
{
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    s.median = values[values.size() / 2];
    s.min = values.front();
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) < 0) {
        std::perror("openpty");
        return 1;
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    Device device(master);

    auto measure = [&](const char *title) {
        std::vector<double> plain;
        std::vector<double> announced;
        std::vector<double> whole;
        auto append = [](std::vector<double> &to, const std::vector<double> &from) {
            to.insert(to.end(), from.begin(), from.end());
        };
        for (int round = 0; round < rounds; ++round) {
            append(plain, plainLoop(name));
            append(announced, component(name, true));
            append(whole, component(name, false));
        }
        const Summary p = summarize(plain);
        auto line = [&](const char *label, const std::vector<double> &times) {
            const Summary s = summarize(times);
            std::printf(
                "%-36s %5zu round trips, median %6.1f us, min %6.1f us, median ratio %.2f\n", label,
                times.size(), s.median, s.min, p.median > 0 ? s.median / p.median : 0.0);
        };
        std::printf("%s\n", title);
        line("plain poll() loop", plain);
        line("TSerialPort, read as announced", announced);
        line("TSerialPort, read when 501 wait", whole);
    };
    std::printf("1 byte out, %d bytes back over a pseudo-terminal; %d rounds of %d, interleaved\n",
        blockSize, rounds, requests);
    measure("processors idle between round trips:");
    {
        IdleSpinners spinners;
        measure("processors kept awake by SCHED_IDLE spinners:");
    }
    ::close(slave);
    ::close(master);
    return 0;
}
