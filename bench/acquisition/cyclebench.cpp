// ferrun-bench-cycle: figures of cycle runs on a pseudo-terminal.
//
// 1. The gap between the end of one cycle's transfer and the start frame of the next: a
//    small responder of this program plays the board (0x0A at once for a start frame, one
//    block written in a single call for the transfer command and each request) and
//    timestamps the moment the last block of a cycle is written and the moment the first
//    byte of the next start frame can be read. The gap includes the settle time after the
//    last block, the chart build of the command line, the cycle step, timCycle (5 ms) and the
//    start sequence.
// 2. Cycles stored by a run of the given length (60 s by default) on the board simulator
//    paced at 921600 bit/s (11 bits a byte), at the fastest sampling (124 ms a cycle), with
//    the expected count from the cycle's parts.
//
//    The run of figure 1 also gives the memory of a run: the resident set at its 10th cycle
//    and at its last (ferrun-bench-cycle 1000 for a long run).
// 3. The time each stored cycle takes to be written and flushed into a store on disk.
//
// Usage: ferrun-bench-cycle [gap cycles, default 30] [run seconds, default 60]
// Prints figures; asserts nothing.

#include "acquisition/cyclerun.h"
#include "acquisition/instrument.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "bench/acquisition/ptybench.h"
#include "files/cyclestore.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

using acquisition::Field;
using bench::Clock;
using bench::median;
using bench::percentile;
using bench::runUntil;

// The frequency/time panel of a first run with the shortest cycle typed in: d1 = d2 = 1.
void fastestPanel(acquisition::SamplingParameters &panel)
{
    panel.applyFirstRun();
    panel.assign(Field::seSamples, acquisition::BlockSamples);
    panel.setAveraging(true);
    panel.setFocusField(Field::seTime);
    panel.userTyped(Field::seTime, QString::number(acquisition::ShortestTime4allSRAM / 8));
    panel.userLeft(Field::seTime);
}

// The panel of fastestPanel().
struct FastestPanel : acquisition::SamplingParameters
{
    FastestPanel()
        : SamplingParameters(QLocale::c())
    {
        fastestPanel(*this);
    }
};

// A cycle run of the shortest cycles on the instrument `where` names, its cycles kept in a
// store of its own.
struct FastestCycleRun
{
    explicit FastestCycleRun(const acquisition::Instrument::Options &where)
        : instrument(where)
    {
        connected = instrument.connectInstrument();
        if (!connected)
            std::printf("instrument: %s\n", qPrintable(instrument.lastError()));
        cycle.setRequestSource([this] {
            acquisition::MeasurementRequest request;
            request.plan = panel.plan();
            return request;
        });
    }
    FastestPanel panel;
    acquisition::Instrument instrument;
    bool connected = false;
    QTemporaryDir storeDir;
    files::CycleStore store { files::RecoveryStore(storeDir.path()), files::RecoveryKeeper::Cycle };
    acquisition::CycleRun cycle { &instrument.session(), &panel, &store };
};

// The resident set of this process, kB (VmRSS of /proc/self/status).
long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

// The board of figure 1, on the master side of a pseudo-terminal.
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
    // Microseconds from the last block of a cycle written to the next start frame read.
    std::vector<double> gaps() const
    {
        std::lock_guard lock(m_mutex);
        return m_gaps;
    }

private:
    void writeBlock()
    {
        unsigned char block[501];
        for (int i = 0; i < 501; ++i)
            block[i] = (unsigned char)(m_blocksSent * 7 + i);
        m_pty.write(block, 501);
        ++m_blocksSent;
        if (m_blocksSent % 7 == 0)
            m_cycleDone = Clock::now();
    }

    void respond(const unsigned char *bytes, int count, Clock::time_point now)
    {
        for (int i = 0; i < count; ++i) {
            const unsigned char b = bytes[i];
            if (m_skip > 0) {
                if (--m_skip > 0)
                    continue;
                if (m_inStart) {
                    const unsigned char end = 0x0A;
                    m_pty.write(&end, 1);
                } else {
                    writeBlock();
                }
                continue;
            }
            if (b == 0x13) {
                if (m_cycleDone != Clock::time_point()) {
                    std::lock_guard lock(m_mutex);
                    m_gaps.push_back(
                        std::chrono::duration<double, std::micro>(now - m_cycleDone).count());
                }
                m_inStart = true;
                m_skip = 5;
            } else if (b == 0x90) {
                m_inStart = false;
                m_skip = 4;
            } else if (b == 0x91) {
                writeBlock();
            }
        }
    }

    // The responder's state lives in the reading thread, between the replies.
    int m_skip = 0;
    bool m_inStart = false;
    int m_blocksSent = 0;
    Clock::time_point m_cycleDone;
    mutable std::mutex m_mutex;
    std::vector<double> m_gaps;
    bench::PtyMaster m_pty; // last: its thread ends before the state above goes
};

void cycleGap(int cycles)
{
    Responder responder;
    if (!responder.start()) {
        std::printf("responder: no pseudo-terminal\n");
        return;
    }
    acquisition::Instrument::Options where;
    where.device = responder.path();
    FastestCycleRun run(where);
    if (!run.connected)
        return;
    acquisition::CycleRun &cycle = run.cycle;
    long early = 0;
    QObject::connect(&cycle, &acquisition::CycleRun::cycleStored, [&](int stored, qsizetype) {
        if (stored == 10)
            early = residentKb();
    });
    cycle.start();
    if (!runUntil([&] { return cycle.storedCycles() >= cycles; }, cycles * 2000 + 10000))
        std::printf("cycle gap: only %d of %d cycles stored\n", cycle.storedCycles(), cycles);
    const long late = residentKb();
    cycle.stop();
    if (cycles >= 10)
        std::printf("%d cycles stored: resident set %ld kB at cycle 10, %ld kB at the last "
                    "(%+ld kB); %lld bytes of cycles on disk in the store\n",
            cycle.storedCycles(), early, late, late - early,
            static_cast<long long>(run.store.dataBytes()));
    runUntil([] { return false; }, 100);
    const std::vector<double> gaps = responder.gaps();
    std::printf("end of a cycle's transfer to the next start frame, over %zu cycles: median "
                "%.2f ms, p90 %.2f ms, min %.2f ms, max %.2f ms (settle %d ms + timCycle %d ms)\n",
        gaps.size(), median(gaps) / 1000, percentile(gaps, 0.9) / 1000,
        gaps.empty() ? 0.0 : *std::min_element(gaps.begin(), gaps.end()) / 1000,
        gaps.empty() ? 0.0 : *std::max_element(gaps.begin(), gaps.end()) / 1000,
        acquisition::MeasurementSession::SettleMs, acquisition::CycleRun::TimCycleIntervalMs);
}

void cyclesPerRun(int seconds)
{
    acquisition::Instrument::Options where;
    where.simulator = true;
    where.board.wireRate = 921600;
    FastestCycleRun run(where);
    if (!run.connected)
        return;
    acquisition::CycleRun &cycle = run.cycle;
    const acquisition::SamplingParameters &panel = run.panel;
    const Clock::time_point begin = Clock::now();
    cycle.start();
    runUntil([] { return false; }, seconds * 1000);
    const int stored = cycle.storedCycles();
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    cycle.stop();
    runUntil([] { return false; }, 1000);

    const double recordingMs = 30000.0 * panel.SamplePeriodCycles() / 14745.6;
    const double wireMs = (1 + 7 * 501 + 6 + 5 + 6) * 11 / 921.6;
    const double cycleMs = recordingMs + acquisition::MeasurementSession::TimSendCmdIntervalMs
        + wireMs + acquisition::MeasurementSession::SettleMs
        + acquisition::CycleRun::TimCycleIntervalMs;
    std::printf("%.1f s run on the simulator at 921600 bit/s, d1 = %d, d2 = %d: %d cycles stored "
                "(%.1f per minute, %.0f ms a cycle); expected from recording %.1f ms + transfer "
                "delay 400 ms + wire %.1f ms + settle %d ms + timCycle 5 ms: %.1f per minute\n",
        elapsed, panel.d1(), panel.d2(), stored, stored * 60 / elapsed, elapsed * 1000 / stored,
        recordingMs, wireMs, acquisition::MeasurementSession::SettleMs, 60000 / cycleMs);
}

// The cost of making a cycle durable: appends of a 3500-byte cycle to a store on disk.
void durableAppends()
{
    QTemporaryDir dir;
    files::CycleStore store(files::RecoveryStore(dir.path()), files::RecoveryKeeper::Cycle);
    store.beginRun();
    files::DataFileHeader header;
    header.ChartChannelBits = 0xFF;
    const QByteArray bytes(3500, '\x5a');
    std::vector<double> ms;
    for (int i = 0; i < 200; ++i) {
        const Clock::time_point t0 = Clock::now();
        store.append(header, bytes);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    store.discard();
    const double fastestCycleMs = 30000.0 * 61 / 14745.6 + 400 + 7 * 501 * 11 / 921.6
        + acquisition::MeasurementSession::SettleMs + acquisition::CycleRun::TimCycleIntervalMs;
    std::printf("durable append of a 3500-byte cycle, over %zu appends: median %.3f ms, p90 "
                "%.3f ms, max %.3f ms; %.2f %% of the fastest cycle period (%.0f ms)\n",
        ms.size(), median(ms), percentile(ms, 0.9), *std::max_element(ms.begin(), ms.end()),
        100 * median(ms) / fastestCycleMs, fastestCycleMs);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    cycleGap(cycles);
    cyclesPerRun(seconds);
    durableAppends();
    return 0;
}
