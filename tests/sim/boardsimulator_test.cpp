// The board simulator on a real pseudo-terminal, driven from the terminal side as the
// application drives it.

#include "sim/boardsimulator.h"
#include "tests/sim/ptylink.h"

#include <chrono>
#include <cmath>
#include <gtest/gtest.h>

using namespace simtest;
using sim::BoardOptions;
using sim::BoardSimulator;
using sim::BoardState;

namespace {

struct Sample
{
    int code;
    bool lit;
    int spare; // bits 0..2 of byte 1
};

Sample decode(const std::uint8_t *p)
{
    return { p[0] | (p[1] >> 4) << 8, (p[1] & 0x08) != 0, p[1] & 0x07 };
}

std::vector<Sample> samplesOf(const Bytes &data)
{
    std::vector<Sample> out;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        out.push_back(decode(&data[i]));
    return out;
}

// Reads one 501-byte block, checks its trailing byte, returns its 500 data bytes.
Bytes readBlock(PtyLink &link)
{
    Bytes block = link.read(501);
    EXPECT_EQ(block.size(), 501u);
    if (block.size() != 501)
        return {};
    unsigned sum = 0;
    for (int i = 0; i < 500; ++i)
        sum += block[std::size_t(i)];
    EXPECT_EQ(block[500], sum & 0xFF);
    block.pop_back();
    return block;
}

// A whole transfer as the application runs it: the transfer command, then a request after each
// block until `count` blocks have arrived.
Bytes transfer(PtyLink &link, bool averaged, std::uint8_t mask, int memoryBlocks, int count)
{
    Bytes data;
    link.write(transferCommand(averaged, mask, memoryBlocks));
    for (int b = 0; b < count; ++b) {
        const Bytes block = readBlock(link);
        if (block.empty())
            break;
        data.insert(data.end(), block.begin(), block.end());
        if (b + 1 < count)
            link.write({ std::uint8_t(averaged ? 0x91 : 0x81) });
    }
    return data;
}

struct Board
{
    explicit Board(BoardOptions options = {})
        : sim(std::move(options))
    {
        std::string error;
        started = sim.start(&error);
        EXPECT_TRUE(started) << error;
    }
    BoardSimulator sim;
    bool started = false;
};

BoardOptions fast(double speed = 50.0)
{
    BoardOptions o;
    o.speed = speed;
    return o;
}

double expectedSeconds(int d1, int d2, int blocks)
{
    return (3.0 * (d1 + 1) * d2 + 55) / 14745600.0 * 30000.0 * blocks;
}

} // namespace

TEST(BoardSimulator, RecordingTimeFollowsDividersBlocksAndSpeed)
{
    // The computed time for a range of pairs, 256 travelling as 0x00.
    Board board(fast(1e6));
    PtyLink link(board.sim.devicePath());
    ASSERT_TRUE(link.isOpen());
    struct Case
    {
        int d1, d2, blocks;
    };
    for (Case c : { Case { 1, 1, 8 }, Case { 202, 10, 8 }, Case { 256, 255, 1 },
             Case { 256, 256, 8 }, Case { 30, 1, 3 } }) {
        link.write(startFrame(0x13, 0x7F, c.d1, c.d2, c.blocks));
        EXPECT_EQ(link.read(1), Bytes { 0x0A }) << c.d1 << "," << c.d2 << "," << c.blocks;
        EXPECT_DOUBLE_EQ(board.sim.lastRecordingSeconds(), expectedSeconds(c.d1, c.d2, c.blocks));
        EXPECT_EQ(board.sim.memory().samples(), 30000 * c.blocks);
    }
    EXPECT_EQ(board.sim.counters().recordingsDone, 5);

    // The silence lasts at least the recording time divided by speed: 0.9928 s / 4.
    Board slow(fast(4));
    PtyLink link2(slow.sim.devicePath());
    const auto begin = std::chrono::steady_clock::now();
    link2.write(startFrame(0x13, 0x01, 1, 1, 8));
    EXPECT_EQ(link2.read(1), Bytes { 0x0A });
    const double elapsed
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_GE(elapsed, expectedSeconds(1, 1, 8) / 4 * 0.95);
}

TEST(BoardSimulator, VerySlowSpeedKeepsTheBoardRecordingAndTuning)
{
    // Recording and tuning times far beyond the clock's range wait (for good), not end at once.
    Board board(fast(1e-12));
    PtyLink link(board.sim.devicePath());
    link.write(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_TRUE(board.sim.waitForState(BoardState::Recording, 5s));
    EXPECT_TRUE(link.readFor(200ms).empty());
    EXPECT_EQ(board.sim.state(), BoardState::Recording);
    link.write({ 0x10 });
    EXPECT_EQ(link.read(1), Bytes { 0x10 });
    EXPECT_TRUE(link.readFor(200ms).empty());
    EXPECT_EQ(board.sim.state(), BoardState::Tuning);
}

TEST(BoardSimulator, IgnoresProbeUnknownBytesBadChecksumsAndUntimelyRequests)
{
    Board board(fast());
    PtyLink link(board.sim.devicePath());
    link.write({ 0x13, 0x7F }); // left incomplete: dropped after kCommandTimeoutMs
    ASSERT_TRUE(board.sim.waitFor([](auto &c) { return c.incompleteCommands == 1; }, 5s));
    Bytes bad = startFrame(0x13, 0x7F, 1, 200, 8);
    bad[5] ^= 0x01;
    link.write({ 0x29, 0x55, 0x81, 0x91 });
    link.write(bad);
    EXPECT_TRUE(link.readFor(150ms).empty());
    auto c = board.sim.counters();
    EXPECT_EQ(c.probes, 1);
    EXPECT_EQ(c.badChecksums, 1);
    EXPECT_EQ(c.blockRequests, 2);
    EXPECT_EQ(c.ignoredBytes, 2 + 1 + 2 + 6);
    EXPECT_EQ(c.replies, 0);

    // The checksum example: 0x13 0x7F 0x01 0xC8 0x00 0x5B is accepted.
    link.write({ 0x13, 0x7F, 0x01, 0xC8, 0x00, 0x5B });
    ASSERT_TRUE(board.sim.waitFor([](auto &c) { return c.startFrames == 1; }, 5s));
    // A transfer asked for while recording is ignored; the end byte still follows.
    link.write(transferCommand(false, 0x7F, 8));
    ASSERT_TRUE(board.sim.waitFor([](auto &c) { return c.transfers == 1; }, 5s));
    EXPECT_EQ(board.sim.counters().blocks, 0);
    EXPECT_EQ(board.sim.received().size(), 2u + 4 + 6 + 6 + 5);
}

TEST(BoardSimulator, TransferSendsTheRecordingInChannelOrderAndRange)
{
    Board board(fast(1e3));
    PtyLink link(board.sim.devicePath());
    const std::uint8_t mask = 0x80 | 0x05; // T1 and T3, 500° range
    link.write(startFrame(0x13, mask, 1, 1, 1));
    ASSERT_EQ(link.read(1), Bytes { 0x0A });
    const Bytes data = transfer(link, false, mask, 1, 120);
    ASSERT_EQ(data.size(), 60000u);
    EXPECT_TRUE(link.readFor(50ms).empty());

    const sim::Recording memory = board.sim.memory();
    ASSERT_EQ(memory.rangeDegrees(), 500.0);
    const auto samples = samplesOf(data);
    const double period = 61 / 14745600.0;
    int lit = 0;
    for (std::size_t j = 0; j < samples.size(); ++j) {
        const int channel = j % 2 == 0 ? 1 : 3;
        const double t = double(j) * period;
        ASSERT_EQ(samples[j].spare, 0) << j;
        ASSERT_LE(std::abs(samples[j].code - memory.idealCode(channel, t)), 3) << j;
        ASSERT_EQ(samples[j].lit, memory.photodiode(t)) << j;
        lit += samples[j].lit;
    }
    // Room temperature at the start (21..30 °C at 500 / 4096 ° a count), a heating step later,
    // the photodiode both lit and dark.
    EXPECT_GE(samples[0].code, 21 * 4096 / 500 - 3);
    EXPECT_LE(samples[0].code, 30 * 4096 / 500 + 3);
    EXPECT_GT(samples[29998].code - samples[0].code, 50);
    EXPECT_GT(lit, 1000);
    EXPECT_LT(lit, 29000);

    // A second transfer of the same memory repeats it byte for byte.
    EXPECT_EQ(transfer(link, false, mask, 1, 2), Bytes(data.begin(), data.begin() + 1000));
}

TEST(BoardSimulator, AveragedTransferIsTheMeanOfSixteenSamplesPerChannel)
{
    Board board(fast(1e3));
    PtyLink link(board.sim.devicePath());
    const std::uint8_t mask = 0x07;
    link.write(startFrame(0x13, mask, 3, 2, 1));
    ASSERT_EQ(link.read(1), Bytes { 0x0A });
    const auto raw = samplesOf(transfer(link, false, mask, 1, 120));
    const auto averaged = samplesOf(transfer(link, true, mask, 1, 7));
    ASSERT_EQ(raw.size(), 30000u);
    ASSERT_EQ(averaged.size(), 1750u);
    EXPECT_EQ(board.sim.counters().blockRequests, 119 + 6);
    for (std::size_t j = 0; j < averaged.size(); ++j) {
        const std::size_t channel = j % 3;
        const std::size_t frame = j / 3;
        int sum = 0;
        int lit = 0;
        for (std::size_t i = 0; i < 16; ++i) {
            const Sample &s = raw[(frame * 16 + i) * 3 + channel];
            sum += s.code;
            lit += s.lit;
        }
        ASSERT_EQ(averaged[j].code, sum / 16) << j;
        ASSERT_EQ(averaged[j].lit, lit >= 8) << j;
        ASSERT_EQ(averaged[j].spare, 0);
    }
}

TEST(BoardSimulator, ShortReadTakesFreshSamplesAndReReadRepeatsTheMemory)
{
    Board board(fast(1e3));
    PtyLink link(board.sim.devicePath());

    // Before any recording the memory reads as zeros.
    link.write({ 0x16, 0x00 });
    EXPECT_EQ(readBlock(link), Bytes(500, 0));

    link.write(startFrame(0x13, 0x7F, 1, 1, 1));
    ASSERT_EQ(link.read(1), Bytes { 0x0A });
    const Bytes first = transfer(link, false, 0x7F, 1, 1);

    link.write({ 0x14, 0x82, 0x00 }); // T2, 500°
    const auto fresh = samplesOf(readBlock(link));
    ASSERT_EQ(fresh.size(), 250u);
    for (const Sample &s : fresh) {
        EXPECT_GE(s.code, 21 * 4096 / 500 - 3);
        EXPECT_LE(s.code, 30 * 4096 / 500 + 3);
    }
    // The memory is left as it was.
    link.write({ 0x16, 0x00 });
    EXPECT_EQ(readBlock(link), first);
    auto c = board.sim.counters();
    EXPECT_EQ(c.shortReads, 1);
    EXPECT_EQ(c.reReads, 2);
    EXPECT_EQ(c.blocks, 4);
}

TEST(BoardSimulator, NewStartFrameAbandonsTheRecordingInProgress)
{
    Board board(fast(1));
    PtyLink link(board.sim.devicePath());
    link.write(startFrame(0x13, 0x7F, 256, 256, 8)); // 53 minutes
    ASSERT_TRUE(board.sim.waitForState(BoardState::Recording, 5s));
    link.write(startFrame(0x13, 0x01, 1, 1, 1));
    EXPECT_EQ(link.read(1), Bytes { 0x0A });
    EXPECT_TRUE(link.readFor(100ms).empty());
    EXPECT_EQ(board.sim.counters().recordingsDone, 1);
    EXPECT_EQ(board.sim.memory().mask(), 0x01);
}

TEST(BoardSimulator, SurvivesTheApplicationClosingAndReopeningThePort)
{
    Board board(fast(1e4));
    {
        PtyLink first(board.sim.devicePath());
        first.write({ 0x29 });
    }
    PtyLink again(board.sim.devicePath());
    ASSERT_TRUE(again.isOpen());
    again.write(startFrame(0x13, 0x01, 1, 1, 1));
    EXPECT_EQ(again.read(1), Bytes { 0x0A });
    EXPECT_EQ(board.sim.received().size(), 7u);
}

TEST(BoardSimulator, SameSeedSameBytesOtherSeedOtherBytes)
{
    auto fetch = [](std::uint64_t seed) {
        BoardOptions o = fast(1e3);
        o.seed = seed;
        Board board(o);
        PtyLink link(board.sim.devicePath());
        link.write(startFrame(0x13, 0x7F, 1, 1, 1));
        link.read(1);
        return transfer(link, false, 0x7F, 1, 3);
    };
    const Bytes a = fetch(7);
    EXPECT_EQ(a.size(), 1500u);
    EXPECT_EQ(fetch(7), a);
    EXPECT_NE(fetch(8), a);
}

TEST(BoardSimulator, RejectsBadOptions)
{
    for (auto change : std::initializer_list<void (*)(BoardOptions &)> {
             [](BoardOptions &o) { o.speed = 0; }, [](BoardOptions &o) { o.chunks = 0; },
             [](BoardOptions &o) { o.wireRate = -1; }, [](BoardOptions &o) { o.strayByteAt = 501; },
             [](BoardOptions &o) { o.bridgePacketBytes = 0; },
             [](BoardOptions &o) { o.recordFile = "/nonexistent/dir/file"; } }) {
        BoardOptions o;
        change(o);
        BoardSimulator board(o);
        std::string error;
        EXPECT_FALSE(board.start(&error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(BoardSimulatorFaults, StrayByteCompletesABlockEarlyAndItsLastByteFollowsAlone)
{
    for (int at : { 0, 137, 500 }) {
        BoardOptions o = fast(1e3);
        o.strayByteInReply = 3; // the second block
        o.strayByteAt = at;
        o.lastByteDelayMs = 20;
        Board board(o);
        PtyLink link(board.sim.devicePath());
        link.write(startFrame(0x13, 0x01, 1, 1, 1));
        ASSERT_EQ(link.read(1), Bytes { 0x0A });
        link.write(transferCommand(false, 0x01, 1));
        const Bytes first = link.read(501);
        link.write({ 0x81 });
        const Bytes early = link.read(501);
        // Taken for the whole block, the next one is asked for at once; the late byte comes
        // first all the same.
        link.write({ 0x81 });
        const Bytes late = link.read(1);
        const Bytes next = link.read(501);

        const sim::Recording memory = board.sim.memory();
        std::uint8_t block[501];
        memory.fillBlock(false, 1, block);
        Bytes expected(block, block + 500);
        expected.insert(expected.begin() + at, sim::kStrayByte);
        EXPECT_EQ(early, expected) << at;
        EXPECT_EQ(late, Bytes { block[500] }) << at;
        memory.fillBlock(false, 2, block);
        EXPECT_EQ(next, Bytes(block, block + 501)) << at;

        Bytes all { 0x0A };
        for (const Bytes *part : { &first, &early, &late, &next })
            all.insert(all.end(), part->begin(), part->end());
        EXPECT_EQ(board.sim.sent(), all) << at;
        const auto c = board.sim.counters();
        EXPECT_EQ(c.strayBytes, 1);
        EXPECT_EQ(c.blocks, 3);
    }

    // A delay far beyond the test: the late byte stays away, and a request sent meanwhile is
    // not answered ahead of it. The stray byte sits at offset 250 unless told otherwise.
    BoardOptions o = fast(1e3);
    o.strayByteInReply = 2;
    o.lastByteDelayMs = 600000;
    Board board(o);
    PtyLink link(board.sim.devicePath());
    link.write(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_EQ(link.read(1), Bytes { 0x0A });
    link.write(transferCommand(false, 0x01, 1));
    const Bytes early = link.read(501);
    ASSERT_EQ(early.size(), 501u);
    EXPECT_EQ(early[250], sim::kStrayByte);
    link.write({ 0x81 });
    EXPECT_TRUE(link.readFor(150ms).empty());
    EXPECT_EQ(board.sim.counters().bytesSent, 1 + 501);
}

// A bridge with a latency far beyond the test passes whole packets only, filled by one reply's
// bytes and then the next one's, and a hang-up loses what it holds; one with a short latency
// delivers each reply's tail by itself. Either way the host gets exactly what the board
// reports sent.
TEST(BoardSimulatorBridge, WholePacketsPassAtOnceAndTheTailAfterTheLatency)
{
    BoardOptions o = fast(1e3);
    o.wireRate = 921600; // the bytes enter the bridge a few at a time
    o.bridgeLatencyMs = 600000;
    o.bridgePacketBytes = 64;
    o.hangupAfter = 4;
    Board held(o);
    PtyLink link(held.sim.devicePath());
    link.write(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_TRUE(held.sim.waitFor([](auto &c) { return c.recordingsDone == 1; }, 10s));
    link.write(transferCommand(false, 0x01, 1)); // 1 + 501 bytes: 7 packets, 54 bytes held
    Bytes got = link.read(7 * 64);
    ASSERT_EQ(got.size(), 7u * 64);
    EXPECT_TRUE(link.readFor(150ms).empty());
    link.write({ 0x81 }); // 54 + 501 bytes: 8 packets, 43 held
    const Bytes second = link.read(8 * 64);
    ASSERT_EQ(second.size(), 8u * 64);
    EXPECT_TRUE(link.readFor(150ms).empty());
    got.insert(got.end(), second.begin(), second.end());
    EXPECT_EQ(held.sim.sent(), got);
    auto c = held.sim.counters();
    EXPECT_EQ(c.writes, 15);
    EXPECT_EQ(c.bytesSent, 15 * 64);
    link.write({ 0x81 }); // 43 + half a block, 250 bytes: 4 packets, then the pty is closed
    const Bytes last = link.read(1 << 20);
    EXPECT_TRUE(link.hungUp());
    EXPECT_EQ(last.size(), 4u * 64);
    got.insert(got.end(), last.begin(), last.end());
    EXPECT_EQ(held.sim.sent(), got);
    EXPECT_EQ(held.sim.counters().bytesSent, 19 * 64);

    o.bridgeLatencyMs = 5;
    o.hangupAfter = 0;
    o.chunks = 3;
    o.gapUs = 1000;
    Board board(o);
    PtyLink link2(board.sim.devicePath());
    link2.write(startFrame(0x13, 0x01, 1, 1, 1));
    ASSERT_EQ(link2.read(1), Bytes { 0x0A });
    const Bytes data = transfer(link2, false, 0x01, 1, 4); // each block complete before the next
    ASSERT_EQ(data.size(), 2000u);
    const Bytes sent = board.sim.sent();
    ASSERT_EQ(sent.size(), 1u + 4 * 501);
    Bytes expected;
    for (std::size_t b = 0; b < 4; ++b)
        expected.insert(
            expected.end(), sent.begin() + 1 + b * 501, sent.begin() + 1 + b * 501 + 500);
    EXPECT_EQ(data, expected);
}
