// ferrun-bench-session: figures of the measurement session on a pseudo-terminal.
//
// 1. A full 8-block transfer (960 blocks of 501 bytes) from the board simulator paced at
//    921600 bit/s (11 bits a byte), timed from the transfer command to the transfer
//    complete (the last block stored and the line quiet for the settle time after it),
//    against the wire time of the bytes the board sends; without a USB bridge, and with a
//    bridge that holds the tail of a reply back for 1 ms and for 16 ms.
// 2. Unpaced, the application's own time per block: from the moment the 501st byte of a
//    block is in the terminal to the moment the next request byte can be read on the board
//    side. The simulator keeps no timestamps, so a small responder of this program plays the
//    board: it answers the start frame with 0x0A and every transfer command or request with
//    one block written in a single call, and timestamps both sides.
//
// Prints figures; asserts nothing.

#include "acquisition/instrument.h"
#include "acquisition/measurementsession.h"
#include "acquisition/sessionserialport.h"
#include "bench/acquisition/ptybench.h"
#include "files/channels.h"
#include "serial/serialport.h"
#include "sim/boardsimulator.h"

#include <QCoreApplication>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using bench::Clock;
using bench::median;
using bench::openPort;
using bench::percentile;
using bench::runUntil;

// Eight blocks of all seven channels at the fastest sampling.
acquisition::MeasurementRequest fullRequest()
{
    acquisition::MeasurementRequest request;
    request.plan.d1 = 1;
    request.plan.d2 = 1;
    request.plan.sramBlocks = 8;
    request.plan.channels = files::ThermocoupleBits;
    return request;
}

// Figure 1: paced transfer against the wire time, with the bridge of the board holding the
// tail of every reply back for up to `latencyMs` (0: no bridge).
void pacedTransfer(int runs, int latencyMs)
{
    std::vector<double> seconds; // transfer command to transferComplete (the settle included)
    std::vector<double> lastBlock; // transfer command to the last block stored
    std::vector<double> cycles; // microseconds between successive requests
    for (int run = 0; run < runs; ++run) {
        acquisition::Instrument::Options where;
        where.simulator = true;
        where.board.speed = 100;
        where.board.wireRate = 921600;
        where.board.bridgeLatencyMs = latencyMs;
        acquisition::Instrument instrument(where);
        if (!instrument.connectInstrument()) {
            std::printf("simulator: %s\n", qPrintable(instrument.lastError()));
            return;
        }
        acquisition::MeasurementSession &session = instrument.session();

        Clock::time_point begin;
        Clock::time_point stored;
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
        QObject::connect(
            &session, &acquisition::MeasurementSession::blockStored, [&](int count, int expected, const QByteArray &) {
                if (count == expected)
                    stored = Clock::now();
            });
        QObject::connect(&session, &acquisition::MeasurementSession::exchangeEnded, [&] {
            end = Clock::now();
            done = true;
        });
        session.startMeasurement(fullRequest());
        if (!runUntil([&] { return done; }, 120000)) {
            std::printf("paced transfer: no end (blocks %d)\n", session.blocksStored());
            return;
        }
        seconds.push_back(std::chrono::duration<double>(end - begin).count());
        lastBlock.push_back(std::chrono::duration<double>(stored - begin).count());
    }
    // The board's bytes of the transfer: 960 blocks; the requests travel the other way,
    // each after its block.
    const double wire = 960.0 * 501 * 11 / 921600;
    const double m = median(seconds);
    std::printf("paced 8-block transfer at 921600 bit/s, bridge latency %d ms: complete after "
                "median %.3f s over %d runs (min %.3f, max %.3f), last block stored after %.3f s; "
                "wire time of 960 x 501 bytes %.3f s; ratio %.4f (last block %.4f)\n",
        latencyMs, m, runs, *std::min_element(seconds.begin(), seconds.end()),
        *std::max_element(seconds.begin(), seconds.end()), median(lastBlock), wire, m / wire,
        median(lastBlock) / wire);
    std::printf(
        "  request to request: median %.1f us, p90 %.1f us (one block on the wire %.1f us)\n",
        median(cycles), percentile(cycles, 0.9), 501 * 11 / 0.921600);
}

// The responder for figure 2: the master side of a pseudo-terminal.
class Responder
{
public:
    bool start()
    {
        return m_pty.start([this](const unsigned char *bytes, int count, Clock::time_point now) {
            respond(bytes, count, now);
        });
    }
    QString path() const { return m_pty.path(); }
    // Microseconds from a block fully written to the request that followed it.
    std::vector<double> latencies() const { return m_latencies; }
    bool finished() const { return m_finished; }

private:
    void writeBlock()
    {
        unsigned char block[501];
        for (int i = 0; i < 501; ++i)
            block[i] = (unsigned char)(m_blocksSent * 7 + i);
        if (!m_pty.write(block, 501))
            return;
        m_blockDone = Clock::now();
        ++m_blocksSent;
    }

    void respond(const unsigned char *bytes, int count, Clock::time_point now)
    {
        for (int i = 0; i < count; ++i) {
            const unsigned char b = bytes[i];
            if (m_pendingStart > 0) {
                if (--m_pendingStart == 0) {
                    const unsigned char end = 0x0A;
                    m_pty.write(&end, 1);
                }
                continue;
            }
            if (m_transferSkip > 0) {
                if (--m_transferSkip == 0)
                    writeBlock();
                continue;
            }
            if (b == 0x13) {
                m_pendingStart = 5;
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

    std::atomic<bool> m_finished { false };
    // The responder's state lives in the reading thread, between the replies.
    int m_pendingStart = 0;
    int m_transferSkip = 0;
    int m_blocksSent = 0;
    Clock::time_point m_blockDone;
    std::vector<double> m_latencies;
    bench::PtyMaster m_pty; // last: its thread ends before the state above goes
};

void perBlockLatency(int runs)
{
    std::vector<double> all;
    std::vector<double> medians;
    std::vector<double> handling; // arrival report of a block's last bytes to its request
    for (int run = 0; run < runs; ++run) {
        Responder responder;
        if (!responder.start()) {
            std::printf("responder: no pseudo-terminal\n");
            return;
        }
        serial::TSerialPort port;
        openPort(port, responder.path());
        acquisition::SerialSessionPort sessionPort(&port);
        acquisition::MeasurementSession session;
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
            &session, &acquisition::MeasurementSession::exchangeEnded, [&] { done = true; });
        session.startMeasurement(fullRequest());
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
    for (const int latencyMs : { 0, 1, 16 })
        pacedTransfer(runs, latencyMs);
    return 0;
}
