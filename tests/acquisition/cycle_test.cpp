#include "acquisition/cyclerun.h"
#include "acquisition/samplingparameters.h"
#include "files/datafile.h"
#include "tests/acquisition/sessiontestsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

using namespace acquisition;
using namespace sessiontest;

namespace {

// The session's controls over the frequency/time panel, as the window binds them.
struct PanelControls : SessionControls
{
    explicit PanelControls(const SamplingParameters &p)
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
    const SamplingParameters &panel;
};

sim::BoardOptions fastBoard()
{
    sim::BoardOptions options;
    options.speed = 100;
    return options;
}

// One averaged cycle on the wire: the end byte, then 7 blocks of 501 bytes.
constexpr qsizetype CycleWireBytes = 1 + 7 * 501;

// The board, the frequency/time panel of a first run (240000 samples, no averaging, all
// seven channels), the session and the cycle run with the chart builder of the command line.
struct Rig
{
    explicit Rig(sim::BoardOptions options = fastBoard())
        : link(options)
        , controls(panel)
        , session(&controls)
        , cycle(&session, &panel)
    {
        panel.applyFirstRun();
        session.setPort(link.sessionPort.get());
        cycle.setMeminfoPath(meminfoDir.filePath("meminfo"));
        setAvailableKb(4 * 1024 * 1024);
        cycle.installHeadlessChartBuilder([this] { ++builds; });
        QObject::connect(
            &session, &MeasurementSession::statusTextChanged, [this](int p, const QString &text) {
                if (p == 2 && !text.isEmpty())
                    cycleTexts.append(text);
            });
        QObject::connect(&session, &MeasurementSession::commandSent, [this](const QByteArray &c) {
            if (quint8(c[0]) == StartFromComputer)
                ++startFrames;
        });
    }

    void setAvailableKb(qint64 kb)
    {
        QFile file(meminfoDir.filePath("meminfo"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("MemTotal:       16318256 kB\nMemFree:          123456 kB\n");
        file.write(QByteArray("MemAvailable:   ") + QByteArray::number(kb) + " kB\n");
    }

    // The array the session stored from the k-th averaged cycle the board sent (from 0).
    QByteArray cycleArray(int k) const
    {
        return storedFromBlocks(toBytes(link.board.sent()), k * CycleWireBytes + 1, 7);
    }

    bool waitStored(int n)
    {
        return waitUntil([&] { return cycle.storedCycles() >= n; });
    }

    QTemporaryDir meminfoDir;
    BoardLink link;
    SamplingParameters panel { QLocale::c() };
    PanelControls controls;
    MeasurementSession session;
    CycleRun cycle;
    int builds = 0;
    int startFrames = 0;
    QStringList cycleTexts;
};

// Presses "Стоп" as soon as the n-th start frame of the run has gone out.
QMetaObject::Connection stopAtStartFrame(Rig &rig, int n)
{
    return QObject::connect(
        &rig.session, &MeasurementSession::commandSent, &rig.cycle, [&rig, n](const QByteArray &c) {
            if (quint8(c[0]) == StartFromComputer && rig.startFrames == n)
                rig.cycle.btCycleClick();
        });
}

// Lets the run under way end: its chart built and the board idle for a while.
void finishRun(Rig &rig, int builds)
{
    ASSERT_TRUE(waitUntil([&] { return rig.builds == builds; }));
    settle(150);
}

} // namespace

// From the first-run panel (240000 samples, averaging off): the run records one averaged
// block per cycle. Three cycles are stored, "Стоп" during the fourth lets it be drawn
// without storing it and starts nothing more.
TEST(CycleRun, ThreeCyclesThenStopDuringTheFourth)
{
    Rig rig;
    ASSERT_EQ(rig.panel.value(acquisition::Field::seSamples), 240000);
    ASSERT_FALSE(rig.panel.averaging());
    stopAtStartFrame(rig, 4);

    rig.cycle.btCycleClick();
    EXPECT_EQ(rig.panel.value(acquisition::Field::seSamples), 30000);
    EXPECT_TRUE(rig.panel.averaging());
    EXPECT_EQ(rig.panel.SRAMblocks(), 1);
    EXPECT_TRUE(rig.cycle.CycleRunning());
    EXPECT_EQ(rig.cycle.cycleButton(), (ButtonLook { QStringLiteral("Стоп"), ColourRed }));
    EXPECT_TRUE(rig.session.RecordedByCycle());
    EXPECT_EQ(rig.session.SessionBlocks(), 1);

    finishRun(rig, 4);
    EXPECT_FALSE(rig.cycle.CycleRunning());
    EXPECT_EQ(rig.cycle.cycleButton(), (ButtonLook { QStringLiteral("ЦИКЛ"), ColourBlack }));
    EXPECT_TRUE(rig.session.RecordedByCycle());
    EXPECT_EQ(rig.session.CycleNumber(), 4);
    EXPECT_EQ(rig.cycleTexts, QStringList({ "Цикл №0", "Цикл №1", "Цикл №2", "Цикл №3" }));
    EXPECT_EQ(rig.link.board.counters().startFrames, 4);
    EXPECT_EQ(rig.startFrames, 4);

    // Every pass: the one-block averaged start frame, the averaged transfer, six requests.
    const QByteArray start
        = buildStartFrame(0, rig.panel.ChannelMask(), rig.panel.d1(), rig.panel.d2(), 1);
    QByteArray pass = start + QByteArray::fromHex("907f0000e0") + QByteArray(6, char(0x91));
    EXPECT_EQ(toBytes(rig.link.board.received()), pass + pass + pass + pass);

    // Three filled records numbered 0..2 with the three arrays, and the empty head 3.
    const auto &records = rig.cycle.CycleRecords();
    ASSERT_EQ(records.size(), 4u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(records[size_t(k)].number, k);
        EXPECT_EQ(records[size_t(k)].data.size(), 3500);
        EXPECT_TRUE(records[size_t(k)].data == rig.cycleArray(k)) << "cycle " << k;
    }
    EXPECT_EQ(records[3].number, 3);
    EXPECT_TRUE(records[3].data.isEmpty());
    EXPECT_EQ(rig.cycle.storedCycles(), 3);
    EXPECT_FALSE(rig.cycle.hasCycleStream());
    // The fourth cycle was drawn.
    EXPECT_TRUE(rig.session.AcquisitionBuffer() == rig.cycleArray(3));
}

// "В один файл": the stream holds the three arrays in order. The record list of an earlier
// run stays for saving; the next list run starts a new one.
TEST(CycleRun, OneFileRunAfterAListRun)
{
    Rig rig;
    const auto stop = stopAtStartFrame(rig, 2);
    rig.cycle.btCycleClick();
    finishRun(rig, 2);
    ASSERT_EQ(rig.cycle.filledRecords(), 1);
    const QByteArray listCycle = rig.cycle.CycleRecords().front().data;

    rig.cycle.setOneFile(true);
    rig.cycleTexts.clear();
    QObject::disconnect(stop);
    rig.startFrames = 0;
    stopAtStartFrame(rig, 4);
    rig.cycle.btCycleClick();
    finishRun(rig, 6);

    EXPECT_EQ(rig.cycleTexts, QStringList({ "Цикл №0", "Цикл №1", "Цикл №2", "Цикл №3" }));
    ASSERT_TRUE(rig.cycle.hasCycleStream());
    EXPECT_EQ(rig.cycle.CycleStream().size(), 10500);
    // Cycles 2..4 of the board (cycle 0 and 1 belong to the list run).
    EXPECT_TRUE(
        rig.cycle.CycleStream() == rig.cycleArray(2) + rig.cycleArray(3) + rig.cycleArray(4));
    EXPECT_EQ(rig.link.board.counters().startFrames, 6);
    ASSERT_EQ(rig.cycle.CycleRecords().size(), 2u);
    EXPECT_TRUE(rig.cycle.CycleRecords().front().data == listCycle);
}

// A reply the board never sends leaves the run waiting like a single measurement; "Стоп"
// then prevents any restart and the stored cycles stay. A new run starts cleanly.
TEST(CycleRun, DroppedReplyThenStop)
{
    sim::BoardOptions options = fastBoard();
    // Replies: cycle 1 is 1..8 (end byte, 7 blocks); reply 12 is the third block of cycle 2.
    options.dropReply = 12;
    Rig rig(options);
    rig.cycle.btCycleClick();
    ASSERT_TRUE(waitUntil([&] { return rig.link.board.counters().droppedReplies == 1; }));
    settle(500);
    EXPECT_EQ(rig.cycle.storedCycles(), 1);
    EXPECT_EQ(rig.builds, 1);
    EXPECT_EQ(rig.session.state(), SessionState::Transferring);
    EXPECT_TRUE(rig.cycle.CycleRunning());

    rig.cycle.btCycleClick();
    settle(300);
    EXPECT_FALSE(rig.cycle.CycleRunning());
    EXPECT_TRUE(rig.session.RecordedByCycle());
    EXPECT_EQ(rig.link.board.counters().startFrames, 2);
    ASSERT_EQ(rig.cycle.CycleRecords().size(), 2u);
    EXPECT_TRUE(rig.cycle.CycleRecords()[0].data == rig.cycleArray(0));
    EXPECT_TRUE(rig.cycle.CycleRecords()[1].data.isEmpty());

    // The next run abandons the half transfer and records again.
    stopAtStartFrame(rig, 4);
    rig.cycle.btCycleClick();
    ASSERT_TRUE(waitUntil([&] { return rig.builds == 3 && !rig.cycle.CycleRunning(); }));
    settle(150);
    EXPECT_EQ(rig.cycle.storedCycles(), 1);
    ASSERT_EQ(rig.cycle.CycleRecords().size(), 2u);
    EXPECT_EQ(rig.cycle.CycleRecords()[0].data.size(), 3500);
    EXPECT_EQ(rig.session.AcquisitionBuffer().size(), 3500);
}

// MemAvailable of 513 KB lets a cycle be stored; 512 KB stops the run at the end of the
// next one: the message, nothing stored, no restart, "Стоп" kept until pressed. Later chart
// builds (a redraw) neither store nor restart.
TEST(CycleRun, LowMemoryStop)
{
    Rig rig;
    rig.setAvailableKb(513);
    QStringList messages;
    QObject::connect(
        &rig.cycle, &CycleRun::lowMemory, [&](const QString &text) { messages.append(text); });
    QObject::connect(&rig.cycle, &CycleRun::cycleStored, [&](int stored, qsizetype) {
        if (stored == 1)
            rig.setAvailableKb(512);
    });
    rig.cycle.btCycleClick();
    ASSERT_TRUE(waitUntil([&] { return !messages.isEmpty(); }));
    settle(300);
    EXPECT_EQ(
        messages, QStringList({ "Измерение завершено: свободной оперативной памяти менее 512К" }));
    EXPECT_EQ(rig.builds, 2);
    EXPECT_EQ(rig.cycle.storedCycles(), 1);
    EXPECT_EQ(rig.cycle.filledRecords(), 1);
    EXPECT_EQ(rig.link.board.counters().startFrames, 2);
    EXPECT_TRUE(rig.cycle.CycleRunning());
    EXPECT_TRUE(rig.cycle.lowMemoryStopped());
    EXPECT_EQ(rig.cycle.cycleButton().caption, QStringLiteral("Стоп"));
    EXPECT_FALSE(rig.cycle.timCycleActive());

    rig.setAvailableKb(4 * 1024 * 1024);
    rig.session.buildChart();
    settle(100);
    EXPECT_EQ(rig.builds, 3);
    EXPECT_EQ(rig.cycle.storedCycles(), 1);
    EXPECT_EQ(rig.link.board.counters().startFrames, 2);

    rig.cycle.btCycleClick();
    EXPECT_FALSE(rig.cycle.CycleRunning());
    EXPECT_EQ(rig.cycle.cycleButton().caption, QStringLiteral("ЦИКЛ"));
}

// "В один файл" switched during a run: each cycle goes into the store the box asks for now.
// A stream this run has not made is begun empty (an earlier run's is given up); the list
// made by this run goes on with its numbering.
TEST(CycleRun, OneFileSwitchedDuringARun)
{
    Rig rig;
    // An earlier one-file run leaves a stream of one cycle.
    rig.cycle.setOneFile(true);
    const auto stop = stopAtStartFrame(rig, 2);
    rig.cycle.btCycleClick();
    finishRun(rig, 2);
    ASSERT_EQ(rig.cycle.CycleStream().size(), 3500);

    QObject::disconnect(stop);
    rig.startFrames = 0;
    rig.cycle.setOneFile(false);
    QObject::connect(&rig.cycle, &CycleRun::cycleStored, [&](int stored, qsizetype) {
        if (stored == 1)
            rig.cycle.setOneFile(true);
        if (stored == 2)
            rig.cycle.setOneFile(false);
        if (stored == 3)
            rig.cycle.btCycleClick();
    });
    rig.cycle.btCycleClick();
    ASSERT_TRUE(rig.waitStored(3));
    settle(200);
    EXPECT_FALSE(rig.cycle.CycleRunning());
    EXPECT_EQ(rig.link.board.counters().startFrames, 5);

    // Board cycles 2, 3, 4 are this run's.
    EXPECT_TRUE(rig.cycle.CycleStream() == rig.cycleArray(3));
    const auto &records = rig.cycle.CycleRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].number, 0);
    EXPECT_TRUE(records[0].data == rig.cycleArray(2));
    EXPECT_EQ(records[1].number, 1);
    EXPECT_TRUE(records[1].data == rig.cycleArray(4));
    EXPECT_EQ(records[2].number, 2);
    EXPECT_TRUE(records[2].data.isEmpty());
}

// Averaging switched off during a run: the next cycle records 30000 raw samples (60000
// bytes), kept whole in its own record and saved whole. The per-cycle save after "Стоп"
// writes newest first and leaves the list empty.
TEST(CycleRun, LongCycleKeptWholeAndSavedPerCycle)
{
    Rig rig;
    QObject::connect(&rig.cycle, &CycleRun::cycleStored, [&](int stored, qsizetype) {
        if (stored == 1)
            rig.panel.setAveraging(false);
        if (stored == 2)
            rig.cycle.btCycleClick();
    });
    rig.cycle.btCycleClick();
    ASSERT_TRUE(rig.waitStored(2));
    settle(200);
    const auto &records = rig.cycle.CycleRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].data.size(), 3500);
    ASSERT_EQ(records[1].data.size(), 60000);
    const QByteArray sent = toBytes(rig.link.board.sent());
    EXPECT_TRUE(records[1].data == storedFromBlocks(sent, CycleWireBytes + 1, 120));

    QTemporaryDir dir;
    files::DataFileHeader header;
    header.ChartChannelBits = 0xFF;
    header.ChannelIntervalUs = rig.session.ChannelIntervalUs();
    header.ValueScale = files::ValueScale250;
    header.XTitle = QStringLiteral("Время, мкс");
    header.YTitle = QStringLiteral("Температура");
    const files::CycleSaveResult result
        = rig.cycle.saveRecords(dir.filePath("run.kdx"), header, QStringLiteral("печь"));
    ASSERT_TRUE(result.ok()) << qPrintable(result.error);
    EXPECT_EQ(
        result.written, QStringList({ dir.filePath("run0001.kdx"), dir.filePath("run0000.kdx") }));
    EXPECT_TRUE(rig.cycle.CycleRecords().empty());
    files::DataFile file;
    ASSERT_EQ(files::readDataFile(dir.filePath("run0001.kdx"), &file), files::DataFileStatus::Ok);
    EXPECT_EQ(file.header.DataLength, 60000u);
    EXPECT_TRUE(file.data == storedFromBlocks(sent, CycleWireBytes + 1, 120));
    EXPECT_EQ(file.comment(), QStringLiteral("печь"));
    EXPECT_FALSE(QFile::exists(dir.filePath("run.kdx")));
}

// A short read during a run replaces the cycle under way: its 500 bytes are drawn but not
// stored as a cycle, and the run goes on with the next cycle. A redraw during the run
// stores nothing twice.
TEST(CycleRun, ShortReadDuringARunIsNotACycle)
{
    Rig rig;
    bool asked = false;
    // Once the second cycle's start frame has gone out.
    QObject::connect(&rig.session, &MeasurementSession::commandSent, [&](const QByteArray &c) {
        if (quint8(c[0]) == StartFromComputer && rig.startFrames == 2 && !asked) {
            asked = true;
            QTimer::singleShot(0, &rig.session, [&] { rig.session.bt500Click(); });
        }
    });
    QObject::connect(&rig.cycle, &CycleRun::cycleStored, [&](int stored, qsizetype) {
        if (stored == 1)
            rig.session.buildChart(); // a redraw right after the cycle's own build
        if (stored == 2)
            rig.cycle.btCycleClick();
    });
    rig.cycle.btCycleClick();
    ASSERT_TRUE(rig.waitStored(2));
    settle(200);
    EXPECT_TRUE(asked);
    EXPECT_EQ(rig.link.board.counters().shortReads, 1);
    EXPECT_EQ(rig.link.board.counters().startFrames, 3);
    const auto &records = rig.cycle.CycleRecords();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].data.size(), 3500);
    EXPECT_EQ(records[1].data.size(), 3500);
    EXPECT_TRUE(records[2].data.isEmpty());
    EXPECT_EQ(rig.cycle.storedCycles(), 2);
    // Builds: cycle 1, the redraw, the short read, cycle 3.
    EXPECT_EQ(rig.builds, 4);
    EXPECT_EQ(rig.cycleTexts, QStringList({ "Цикл №0", "Цикл №3" }));
}

// A transfer that goes out of step in the third cycle stops the run: the two cycles before it
// stay stored, the faulty array is not stored and no fourth cycle starts. A stray byte inside
// the third cycle's last block makes that block look complete one byte early; its real last
// byte comes up to 40 ms later, and still the cycle is never stored.
TEST(CycleRun, FailedTransferStopsTheRun)
{
    struct Fault
    {
        const char *name;
        int extraByteAfter = 0;
        int strayByteIn = 0;
        int lastByteDelayMs = 0;
    };
    for (const Fault &fault : { Fault { "one block of 502 bytes", 2 * 8 + 4 },
             Fault { "stray byte in the last block, 1 ms", 0, 3 * 8, 1 },
             Fault { "stray byte in the last block, 40 ms", 0, 3 * 8, 40 } }) {
        SCOPED_TRACE(fault.name);
        sim::BoardOptions options = fastBoard();
        options.extraByteAfter = fault.extraByteAfter;
        options.strayByteInReply = fault.strayByteIn;
        options.lastByteDelayMs = fault.lastByteDelayMs;
        Rig rig(options);
        rig.cycle.btCycleClick();
        ASSERT_TRUE(waitUntil([&] { return !rig.cycle.CycleRunning(); }));
        settle(150);
        EXPECT_EQ(rig.session.lastFailure(), SessionFailure::OutOfStep);
        EXPECT_EQ(rig.cycle.storedCycles(), 2);
        ASSERT_EQ(rig.cycle.filledRecords(), 2);
        EXPECT_EQ(rig.cycle.CycleRecords().at(0).data, rig.cycleArray(0));
        EXPECT_EQ(rig.cycle.CycleRecords().at(1).data, rig.cycleArray(1));
        EXPECT_EQ(rig.startFrames, 3);
        EXPECT_EQ(rig.cycle.cycleButton(), (ButtonLook { QStringLiteral("ЦИКЛ"), ColourBlack }));
        EXPECT_FALSE(rig.cycle.timCycleActive());
    }
}
