#include "acquisition/cyclerun.h"
#include "acquisition/samplingparameters.h"
#include "files/cyclestore.h"
#include "files/datafile.h"
#include "tests/acquisition/sessiontestsupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

using namespace acquisition;
using namespace sessiontest;

namespace {

sim::BoardOptions fastBoard()
{
    sim::BoardOptions options;
    options.speed = 100;
    return options;
}

// One averaged cycle on the wire: the end byte, then 7 blocks of 501 bytes.
constexpr qsizetype CycleWireBytes = 1 + 7 * 501;

// The board, the frequency/time panel of a first run (240000 samples, no averaging, all
// seven channels), the session, a cycle store in a folder of its own and the cycle run, whose
// cycles are measured as the panel says at each start.
struct Rig
{
    explicit Rig(sim::BoardOptions options = fastBoard())
        : link(options)
        , store(files::RecoveryStore(storeDir.path()), files::RecoveryKeeper::Cycle)
        , cycle(&session, &panel, &store)
    {
        panel.applyFirstRun();
        session.setPort(link.sessionPort.get());
        cycle.setMeminfoPath(meminfoDir.filePath("meminfo"));
        setAvailableKb(4 * 1024 * 1024);
        cycle.setRequestSource([this] {
            MeasurementRequest r;
            r.plan = panel.plan();
            return r;
        });
        QObject::connect(&session, &MeasurementSession::commandSent, [this](const QByteArray &c) {
            if (quint8(c[0]) == StartFromComputer)
                ++startFrames;
        });
        QObject::connect(&session, &MeasurementSession::exchangeEnded,
            [this](const ExchangeOutcome &o) { outcomes.push_back(o); });
        QObject::connect(&cycle, &CycleRun::ended, [this](CycleRun::Ending e) { endings << e; });
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
    QTemporaryDir storeDir;
    BoardLink link;
    SamplingParameters panel { QLocale::c() };
    MeasurementSession session;
    files::CycleStore store;
    CycleRun cycle;
    int startFrames = 0;
    std::vector<ExchangeOutcome> outcomes;
    QList<CycleRun::Ending> endings;
};

// Presses "Стоп" as soon as the n-th start frame of the run has gone out.
QMetaObject::Connection stopAtStartFrame(Rig &rig, int n)
{
    return QObject::connect(
        &rig.session, &MeasurementSession::commandSent, &rig.cycle, [&rig, n](const QByteArray &c) {
            if (quint8(c[0]) == StartFromComputer && rig.startFrames == n)
                rig.cycle.stop();
        });
}

// Lets the run under way end: `outcomes` exchanges over and the board idle for a while.
void finishRun(Rig &rig, size_t outcomes)
{
    ASSERT_TRUE(waitUntil([&] { return rig.outcomes.size() == outcomes; }));
    settle(150);
}

} // namespace

// From the first-run panel (240000 samples, averaging off): the run records one averaged
// block per cycle, each on disk in the store once stored. Three cycles are stored; "Стоп"
// during the fourth lets it end without storing it, and starts nothing more.
TEST(CycleRun, ThreeCyclesThenStopDuringTheFourth)
{
    Rig rig;
    ASSERT_EQ(rig.panel.value(acquisition::Field::seSamples), 240000);
    ASSERT_FALSE(rig.panel.averaging());
    stopAtStartFrame(rig, 4);

    rig.cycle.start();
    EXPECT_EQ(rig.panel.value(acquisition::Field::seSamples), 30000);
    EXPECT_TRUE(rig.panel.averaging());
    EXPECT_TRUE(rig.cycle.CycleRunning());
    EXPECT_TRUE(rig.cycle.ownsExchange());
    EXPECT_EQ(rig.session.SessionBlocks(), 1);

    finishRun(rig, 4);
    EXPECT_FALSE(rig.cycle.CycleRunning());
    EXPECT_TRUE(rig.cycle.isOwn(rig.outcomes.back().exchangeId));
    EXPECT_EQ(rig.link.board.counters().startFrames, 4);

    // Every pass: the one-block averaged start frame, the averaged transfer, six requests.
    const QByteArray start
        = buildStartFrame(0, rig.panel.ChannelMask(), rig.panel.d1(), rig.panel.d2(), 1);
    QByteArray pass = start + QByteArray::fromHex("907f0000e0") + QByteArray(6, char(0x91));
    EXPECT_EQ(toBytes(rig.link.board.received()), pass + pass + pass + pass);

    // The three cycles in the store, read back from disk.
    ASSERT_EQ(rig.store.count(), 3);
    EXPECT_EQ(rig.cycle.storedCycles(), 3);
    for (int k = 0; k < 3; ++k)
        EXPECT_TRUE(rig.store.cycle(k) == rig.cycleArray(k)) << "cycle " << k;
    EXPECT_EQ(rig.store.header().ChartChannelBits, 0xFF);
    ASSERT_EQ(rig.store.journals().size(), 1);
    files::DataFile journal;
    ASSERT_EQ(files::readDataFile(rig.store.journals().front(), &journal),
        files::DataFileStatus::Ok);
    EXPECT_TRUE(journal.data == rig.cycleArray(0) + rig.cycleArray(1) + rig.cycleArray(2));
    // The fourth cycle ended complete all the same.
    EXPECT_TRUE(rig.outcomes.back().completed());
    EXPECT_TRUE(rig.outcomes.back().recording.data == rig.cycleArray(3));
}

// A reply the board never sends leaves the run waiting like a single measurement; "Стоп"
// then prevents any restart and the stored cycles stay. A new run starts cleanly, and the
// cycles of the one before stay in the store apart from it.
TEST(CycleRun, DroppedReplyThenStop)
{
    sim::BoardOptions options = fastBoard();
    // Replies: cycle 1 is 1..8 (end byte, 7 blocks); reply 12 is the third block of cycle 2.
    options.dropReply = 12;
    Rig rig(options);
    rig.cycle.start();
    ASSERT_TRUE(waitUntil([&] { return rig.link.board.counters().droppedReplies == 1; }));
    settle(500);
    EXPECT_EQ(rig.cycle.storedCycles(), 1);
    EXPECT_EQ(rig.session.state(), SessionState::Transferring);
    EXPECT_TRUE(rig.cycle.CycleRunning());

    rig.cycle.stop();
    settle(300);
    EXPECT_FALSE(rig.cycle.CycleRunning());
    EXPECT_EQ(rig.link.board.counters().startFrames, 2);
    ASSERT_EQ(rig.store.count(), 1);
    EXPECT_TRUE(rig.store.cycle(0) == rig.cycleArray(0));
    const QStringList before = rig.store.journals();

    // The next run abandons the half transfer and records again.
    stopAtStartFrame(rig, 4);
    rig.cycle.start();
    ASSERT_TRUE(waitUntil([&] { return !rig.cycle.CycleRunning(); }));
    settle(150);
    EXPECT_EQ(rig.cycle.storedCycles(), 1);
    EXPECT_EQ(rig.store.count(), 1);
    EXPECT_EQ(rig.store.cycle(0).size(), 3500);
    EXPECT_TRUE(QFile::exists(before.front()));
    EXPECT_FALSE(rig.store.journals().contains(before.front()));
}

// MemAvailable of 513 KB lets a cycle be stored; 512 KB stops the run at the end of the
// next one: nothing stored, no restart, the run still "going" until it is stopped.
TEST(CycleRun, LowMemoryStop)
{
    Rig rig;
    rig.setAvailableKb(513);
    QObject::connect(&rig.cycle, &CycleRun::cycleStored, [&](int stored, qsizetype) {
        if (stored == 1)
            rig.setAvailableKb(512);
    });
    rig.cycle.start();
    ASSERT_TRUE(waitUntil([&] { return !rig.endings.isEmpty(); }));
    settle(300);
    EXPECT_EQ(rig.endings, QList<CycleRun::Ending> { CycleRun::Ending::LowMemory });
    EXPECT_EQ(rig.cycle.storedCycles(), 1);
    EXPECT_EQ(rig.store.count(), 1);
    EXPECT_EQ(rig.link.board.counters().startFrames, 2);
    EXPECT_TRUE(rig.cycle.CycleRunning());
    EXPECT_TRUE(rig.cycle.lowMemoryStopped());
    EXPECT_FALSE(rig.cycle.timCycleActive());

    rig.cycle.stop();
    EXPECT_FALSE(rig.cycle.CycleRunning());
}

// Averaging switched off during a run: the next cycle records 30000 raw samples (60000
// bytes), kept whole with its own header, and saved whole in a file of its own. The
// per-cycle save writes newest first; saving again at once writes nothing.
TEST(CycleRun, LongCycleKeptWholeAndSavedPerCycle)
{
    Rig rig;
    QObject::connect(&rig.cycle, &CycleRun::cycleStored, [&](int stored, qsizetype) {
        if (stored == 1)
            rig.panel.setAveraging(false);
        if (stored == 2)
            rig.cycle.stop();
    });
    rig.cycle.start();
    ASSERT_TRUE(rig.waitStored(2));
    settle(200);
    ASSERT_EQ(rig.store.count(), 2);
    EXPECT_EQ(rig.store.cycle(0).size(), 3500);
    const QByteArray sent = toBytes(rig.link.board.sent());
    EXPECT_TRUE(rig.store.cycle(1) == storedFromBlocks(sent, CycleWireBytes + 1, 120));
    EXPECT_EQ(rig.store.cycleHeader(0).ChartChannelBits, 0xFF);
    EXPECT_EQ(rig.store.cycleHeader(1).ChartChannelBits, 0x7F);

    QTemporaryDir dir;
    const files::CycleSaveResult result
        = rig.store.savePerCycle(dir.filePath("run.kdx"), QStringLiteral("печь"));
    ASSERT_TRUE(result.ok()) << qPrintable(result.error);
    EXPECT_EQ(
        result.written, QStringList({ dir.filePath("run0001.kdx"), dir.filePath("run0000.kdx") }));
    EXPECT_FALSE(rig.store.hasUnsaved());
    files::DataFile file;
    ASSERT_EQ(files::readDataFile(dir.filePath("run0001.kdx"), &file), files::DataFileStatus::Ok);
    EXPECT_EQ(file.header.DataLength, 60000u);
    EXPECT_EQ(file.header.ChartChannelBits, 0x7F);
    EXPECT_TRUE(file.data == storedFromBlocks(sent, CycleWireBytes + 1, 120));
    EXPECT_EQ(file.comment(), QStringLiteral("печь"));
    EXPECT_FALSE(QFile::exists(dir.filePath("run.kdx")));
    EXPECT_TRUE(rig.store.savePerCycle(dir.filePath("again.kdx"), {}).written.isEmpty());
}

// A short read during a run ends the cycle under way as interrupted: its 500 bytes are not
// stored as a cycle, and the run goes on with the next cycle once the read is over.
TEST(CycleRun, ShortReadDuringARunIsNotACycle)
{
    Rig rig;
    bool asked = false;
    // Once the second cycle's start frame has gone out.
    QObject::connect(&rig.session, &MeasurementSession::commandSent, [&](const QByteArray &c) {
        if (quint8(c[0]) == StartFromComputer && rig.startFrames == 2 && !asked) {
            asked = true;
            QTimer::singleShot(0, &rig.session, [&] { rig.session.startShortRead(readRequest()); });
        }
    });
    QObject::connect(&rig.cycle, &CycleRun::cycleStored, [&](int stored, qsizetype) {
        if (stored == 2)
            rig.cycle.stop();
    });
    rig.cycle.start();
    ASSERT_TRUE(rig.waitStored(2));
    settle(200);
    EXPECT_TRUE(asked);
    // The read, and the one that brings the line back in step before the next cycle: the
    // board may still have ended the recording the read broke off.
    EXPECT_EQ(rig.link.board.counters().shortReads, 2);
    EXPECT_EQ(rig.link.board.counters().startFrames, 3);
    ASSERT_EQ(rig.store.count(), 2);
    EXPECT_EQ(rig.store.cycle(0).size(), 3500);
    EXPECT_EQ(rig.store.cycle(1).size(), 3500);
}

// A transfer that goes out of step in the third cycle ends the run: the two cycles before it
// stay stored, the faulty array is not stored and no fourth cycle starts. A stray byte inside
// the third cycle's last block makes that block look complete one byte early; its real last
// byte comes 1 or 40 ms later (within the quiet time), or 100 ms later, after the quiet
// time, during the next cycle: then the third cycle was stored and is taken back out.
TEST(CycleRun, FailedTransferEndsTheRun)
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
             Fault { "stray byte in the last block, 40 ms", 0, 3 * 8, 40 },
             Fault { "stray byte in the last block, 100 ms", 0, 3 * 8, 100 } }) {
        SCOPED_TRACE(fault.name);
        sim::BoardOptions options = fastBoard();
        options.extraByteAfter = fault.extraByteAfter;
        options.strayByteInReply = fault.strayByteIn;
        options.lastByteDelayMs = fault.lastByteDelayMs;
        Rig rig(options);
        files::Recording retracted;
        QObject::connect(&rig.cycle, &CycleRun::cycleRetracted,
            [&](const files::Recording &r) { retracted = r; });
        rig.cycle.start();
        ASSERT_TRUE(waitUntil([&] { return !rig.cycle.CycleRunning(); }));
        settle(150);
        ASSERT_EQ(rig.endings.size(), 1);
        EXPECT_TRUE(rig.endings.front() == CycleRun::Ending::Failed
            || rig.endings.front() == CycleRun::Ending::OutOfStep);
        EXPECT_EQ(rig.cycle.storedCycles(), 2);
        ASSERT_EQ(rig.store.count(), 2);
        EXPECT_EQ(rig.store.cycle(0), rig.cycleArray(0));
        EXPECT_EQ(rig.store.cycle(1), rig.cycleArray(1));
        EXPECT_FALSE(rig.cycle.timCycleActive());
        if (rig.endings.front() == CycleRun::Ending::OutOfStep) {
            // Taken back: the blocks before its last, flagged.
            EXPECT_TRUE(retracted.faulty);
            EXPECT_EQ(retracted.data, rig.cycleArray(2).left(3000));
        }
        files::DataFile journal;
        ASSERT_EQ(files::readDataFile(rig.store.journals().front(), &journal),
            files::DataFileStatus::Ok);
        EXPECT_TRUE(journal.data == rig.cycleArray(0) + rig.cycleArray(1));
    }
}

// A store that cannot take a cycle (its folder cannot be made) ends the run at the first one:
// nothing is counted as stored, and the cycle's recording is handed over whole, so that the
// front end keeps it some other way.
TEST(CycleRun, ACycleTheStoreCannotTakeEndsTheRun)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    BoardLink link(fastBoard());
    SamplingParameters panel { QLocale::c() };
    panel.applyFirstRun();
    MeasurementSession session;
    session.setPort(link.sessionPort.get());
    files::CycleStore store(
        files::RecoveryStore(dir.filePath("file/recovery")), files::RecoveryKeeper::Cycle);
    CycleRun cycle(&session, &panel, &store);
    cycle.setRequestSource([&] {
        MeasurementRequest r;
        r.plan = panel.plan();
        return r;
    });
    QList<CycleRun::Ending> endings;
    QObject::connect(&cycle, &CycleRun::ended, [&](CycleRun::Ending e) { endings << e; });
    cycle.start();
    ASSERT_TRUE(waitUntil([&] { return !endings.isEmpty(); }));
    settle(100);
    EXPECT_EQ(endings, QList<CycleRun::Ending> { CycleRun::Ending::NotWritten });
    EXPECT_FALSE(cycle.writeError().isEmpty());
    EXPECT_EQ(cycle.storedCycles(), 0);
    EXPECT_EQ(store.count(), 0);
    EXPECT_EQ(cycle.unwritten().data.size(), 3500);
    EXPECT_EQ(link.board.counters().startFrames, 1);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
        == QStringList { "file" });
}
