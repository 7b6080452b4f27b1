// ferrun-bench-session: figures of the measurement session on a pseudo-terminal.
//
// 1. A full 8-block transfer (960 blocks of 501 bytes) from the board simulator paced at
//    921600 bit/s (11 bits a byte), timed from the transfer command to the last block
//    stored, against the wire time of the bytes the board sends.
// 2. Unpaced, the application's own time per block: from the moment the 501st byte of a
//    block is in the terminal to the moment the next request byte can be read on the board
//    side. The simulator keeps no timestamps, so a small responder of this program plays the
//    board: it answers the start frame with 0x0A and every transfer command or request with
//    one block written in a single call, and timestamps both sides.
//
// Prints figures; asserts nothing.

#include "acquisition/measurementsession.h"
#include "acquisition/sessionserialport.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Controls : acquisition::SessionControls
{
    bool averaging() const override { return false; }
    int rangeIndex() const override { return 0; }
    int d1() const override { return 1; }
    int d2() const override { return 1; }
    int SRAMblocks() const override { return 8; }
    quint8 ChannelMask() const override { return 0x7F; }
    int ChannelCount() const override { return 7; }
    quint8 checkedChannels() const override { return 0x7F; }
};

// Runs a blocking event loop, as the window does, until `done` is signalled or the time-out.
bool runUntil(const std::function<bool()> &condition, int timeoutMs)
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

void openPort(serial::TSerialPort &port, const QString &device)
{
    port.setDeviceName(device);
    port.setBaudrate(serial::brUser); // the board talks at 921600 bit/s only
    port.setUserBaudrate(921600);
    port.setParity(serial::paOdd);
    port.FlowControl().setControlDtr(serial::dtrDisabled);
    port.FlowControl().setControlRts(serial::rtsEnabled);
    port.setMonitorEvents(serial::ceRxChar | serial::ceTxEmpty | serial::ceRxFlag);
    port.Open();
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// Figure 1: paced transfer against the wire time.
void pacedTransfer(int runs)
{
    std::vector<double> seconds;
    std::vector<double> cycles; // microseconds between successive requests
    for (int run = 0; run < runs; ++run) {
        sim::BoardOptions options;
        options.speed = 100;
        options.wireRate = 921600;
        sim::BoardSimulator board(options);
        std::string error;
        if (!board.start(&error)) {
            std::printf("simulator: %s\n", error.c_str());
            return;
        }
        serial::TSerialPort port;
        openPort(port, QString::fromStdString(board.devicePath()));
        acquisition::SerialSessionPort sessionPort(&port);
        Controls controls;
        acquisition::MeasurementSession session(&controls);
        session.setPort(&sessionPort);

        Clock::time_point begin;
        Clock::time_point end;
        Clock::time_point lastRequest;
        bool done = false;
        QObject::connect(&session, &acquisition::MeasurementSession::commandSent,
            [&](const QByteArray &command) {
                const Clock::time_point now = Clock::now();
                if (quint8(command[0]) == acquisition::TransferPlain)
                    begin = now;
                else if (quint8(command[0]) == acquisition::NextBlockPlain
                    && lastRequest != Clock::time_point())
                    cycles.push_back(
                        std::chrono::duration<double, std::micro>(now - lastRequest).count());
                lastRequest = now;
            });
        QObject::connect(&session, &acquisition::MeasurementSession::transferComplete, [&] {
            end = Clock::now();
            done = true;
        });
        session.btStartClick();
        if (!runUntil([&] { return done; }, 120000)) {
            std::printf("paced transfer: no end (blocks %d)\n", session.blocksStored());
            return;
        }
        seconds.push_back(std::chrono::duration<double>(end - begin).count());
        session.setPort(nullptr);
    }
    // The board's bytes of the transfer: 960 blocks; the requests travel the other way,
    // each after its block.
    const double wire = 960.0 * 501 * 11 / 921600;
    const double m = median(seconds);
    std::printf("paced 8-block transfer at 921600 bit/s: median %.3f s over %d runs "
                "(min %.3f, max %.3f); wire time of 960 x 501 bytes %.3f s; ratio %.4f\n",
        m, runs, *std::min_element(seconds.begin(), seconds.end()),
        *std::max_element(seconds.begin(), seconds.end()), wire, m / wire);
    std::printf(
        "  request to request: median %.1f us, p90 %.1f us (one block on the wire %.1f us)\n",
        median(cycles), percentile(cycles, 0.9), 501 * 11 / 0.921600);
}

// The responder for figure 2: the master side of a pseudo-terminal.
class Responder
{
public:
    bool open()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return false;
        termios t {};
        ::tcgetattr(m_master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_master, TCSANOW, &t);
        m_path = QString::fromLocal8Bit(::ptsname(m_master));
        return true;
    }
    ~Responder()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_master >= 0)
            ::close(m_master);
    }
    QString path() const { return m_path; }
    void start()
    {
        m_thread = std::thread([this] { run(); });
    }
    // Microseconds from a block fully written to the request that followed it.
    std::vector<double> latencies() const { return m_latencies; }
    bool finished() const { return m_finished; }

private:
    void writeBlock()
    {
        unsigned char block[501];
        for (int i = 0; i < 501; ++i)
            block[i] = (unsigned char)(m_blocksSent * 7 + i);
        int off = 0;
        while (off < 501) {
            const ssize_t n = ::write(m_master, block + off, size_t(501 - off));
            if (n > 0)
                off += int(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return;
        }
        m_blockDone = Clock::now();
        ++m_blocksSent;
    }

    void run()
    {
        int pendingStart = 0;
        while (!m_stop) {
            pollfd p { m_master, POLLIN, 0 };
            if (::poll(&p, 1, 20) <= 0)
                continue;
            unsigned char buffer[64];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            const Clock::time_point now = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                const unsigned char b = buffer[i];
                if (pendingStart > 0) {
                    if (--pendingStart == 0) {
                        const unsigned char end = 0x0A;
                        (void)!::write(m_master, &end, 1);
                    }
                    continue;
                }
                if (m_transferSkip > 0) {
                    if (--m_transferSkip == 0)
                        writeBlock();
                    continue;
                }
                if (b == 0x13) {
                    pendingStart = 5;
                } else if (b == 0x80) {
                    m_transferSkip = 4;
                } else if (b == 0x81) {
                    m_latencies.push_back(
                        std::chrono::duration<double, std::micro>(now - m_blockDone).count());
                    writeBlock();
                    if (m_blocksSent == 960)
                        m_finished = true;
                }
            }
        }
    }

    int m_master = -1;
    QString m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_finished { false };
    int m_transferSkip = 0;
    int m_blocksSent = 0;
    Clock::time_point m_blockDone;
    std::vector<double> m_latencies;
};

void perBlockLatency(int runs)
{
    std::vector<double> all;
    std::vector<double> medians;
    std::vector<double> handling; // arrival report of a block's last bytes to its request
    for (int run = 0; run < runs; ++run) {
        Responder responder;
        if (!responder.open()) {
            std::printf("responder: no pseudo-terminal\n");
            return;
        }
        responder.start();
        serial::TSerialPort port;
        openPort(port, responder.path());
        acquisition::SerialSessionPort sessionPort(&port);
        Controls controls;
        acquisition::MeasurementSession session(&controls);
        session.setPort(&sessionPort);
        // The session's own share: from the port's arrival report to the request handed to
        // the port (the serial component's thread hand-over on either side is not in it).
        Clock::time_point reported;
        const auto sessionArrival = sessionPort.onRxChar;
        sessionPort.onRxChar = [&](int count) {
            reported = Clock::now();
            sessionArrival(count);
        };
        QObject::connect(&session, &acquisition::MeasurementSession::commandSent,
            [&](const QByteArray &command) {
                if (quint8(command[0]) == acquisition::NextBlockPlain)
                    handling.push_back(
                        std::chrono::duration<double, std::micro>(Clock::now() - reported).count());
            });
        bool done = false;
        QObject::connect(
            &session, &acquisition::MeasurementSession::transferComplete, [&] { done = true; });
        session.btStartClick();
        if (!runUntil([&] { return done; }, 120000)) {
            std::printf("unpaced transfer: no end (blocks %d)\n", session.blocksStored());
            return;
        }
        session.setPort(nullptr);
        port.Close();
        const std::vector<double> latencies = responder.latencies();
        medians.push_back(median(latencies));
        all.insert(all.end(), latencies.begin(), latencies.end());
    }
    std::printf("unpaced, last byte of a block to the next request, over %zu blocks in %d runs: "
                "median %.1f us, p90 %.1f us, p99 %.1f us, max %.1f us; run medians",
        all.size(), runs, median(all), percentile(all, 0.9), percentile(all, 0.99),
        all.empty() ? 0.0 : *std::max_element(all.begin(), all.end()));
    for (double m : medians)
        std::printf(" %.1f", m);
    std::printf("\n  of which the session's handling (arrival report to request written): "
                "median %.1f us, p90 %.1f us\n",
        median(handling), percentile(handling, 0.9));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 3;
    if (argc > 1)
        runs = std::max(1, std::atoi(argv[1]));
    perBlockLatency(runs);
    pacedTransfer(runs);
    return 0;
}
