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
// Usage: ferrun-bench-cycle [gap cycles, default 30] [run seconds, default 60]
// Prints figures; asserts nothing.

#include "acquisition/cyclerun.h"
#include "acquisition/instrument.h"
#include "acquisition/measurementsession.h"
#include "acquisition/samplingparameters.h"
#include "bench/acquisition/ptybench.h"

#include <QCoreApplication>
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

struct PanelControls : acquisition::SessionControls
{
    explicit PanelControls(const acquisition::SamplingParameters &p)
        : panel(p)
    {
    }
    bool averaging() const override { return panel.averaging(); }
    int rangeIndex() const override { return 0; }
    int d1() const override { return panel.d1(); }
    int d2() const override { return panel.d2(); }
    int SRAMblocks() const override { return panel.SRAMblocks(); }
    quint8 ChannelMask() const override { return panel.ChannelMask(); }
    int ChannelCount() const override { return panel.ChannelCount(); }
    quint8 checkedChannels() const override { return panel.ChannelMask(); }
    const acquisition::SamplingParameters &panel;
};

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

// A cycle run of the shortest cycles on the instrument `where` names, with the chart build of
// the command line.
struct FastestCycleRun
{
    explicit FastestCycleRun(const acquisition::Instrument::Options &where)
        : instrument(&controls, where)
    {
        connected = instrument.connectInstrument();
        if (!connected)
            std::printf("instrument: %s\n", qPrintable(instrument.lastError()));
        cycle.installHeadlessChartBuilder();
    }
    FastestPanel panel;
    PanelControls controls { panel };
    acquisition::Instrument instrument;
    bool connected = false;
    acquisition::CycleRun cycle { &instrument.session(), &panel };
};

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
    cycle.btCycleClick();
    if (!runUntil([&] { return cycle.storedCycles() >= cycles; }, cycles * 2000 + 10000))
        std::printf("cycle gap: only %d of %d cycles stored\n", cycle.storedCycles(), cycles);
    cycle.btCycleClick();
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
    cycle.btCycleClick();
    runUntil([] { return false; }, seconds * 1000);
    const int stored = cycle.storedCycles();
    const double elapsed = std::chrono::duration<double>(Clock::now() - begin).count();
    cycle.btCycleClick();
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    cycleGap(cycles);
    cyclesPerRun(seconds);
    return 0;
}
