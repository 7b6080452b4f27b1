#include "acquisition/protocol.h"

#include <gtest/gtest.h>

using namespace acquisition;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

} // namespace

TEST(Protocol, StartFrameFieldsAndChecksum)
{
    // All seven thermocouples, 250°, d1 = 1, d2 = 200, 8 blocks, computer launch.
    EXPECT_EQ(buildStartFrame(0, 0x7F, 1, 200, 8), bytes({ 0x13, 0x7F, 0x01, 0xC8, 0x00, 0x5B }));
    // Photodiode launch moves the opcode to 0x33; 256 travels as 0x00 and adds 0 to the sum.
    const QByteArray frame = buildStartFrame(1, maskWithRange(0x7B, 1), 256, 256, 1);
    EXPECT_EQ(frame, bytes({ 0x33, 0xFB, 0x00, 0x00, 0xE0, (0x33 + 0xFB + 0xE0) & 0xFF }));
}

TEST(Protocol, BlockCodesAndBlockCounts)
{
    const int codes[] = { 0xE0, 0xC0, 0xA0, 0x80, 0x60, 0x40, 0x20, 0x00 };
    for (int blocks = 1; blocks <= 8; ++blocks)
        EXPECT_EQ(blockCode(blocks), codes[blocks - 1]) << blocks;
    EXPECT_EQ(expectedDataBlocks(8, false), 960);
    EXPECT_EQ(expectedDataBlocks(1, false), 120);
    EXPECT_EQ(expectedDataBlocks(1, true), 7);
}

TEST(Protocol, RangeBitFollowsTheSelectorEveryTime)
{
    EXPECT_EQ(maskWithRange(0x7F, 1), 0xFF);
    // A mask that still carries the bit of an earlier 500° start loses it under 250°.
    EXPECT_EQ(maskWithRange(0xFF, 0), 0x7F);
    EXPECT_EQ(maskWithRange(0x00, 1), 0x80);
    EXPECT_EQ(maskWithRange(0x00, 0), 0x00);
    EXPECT_EQ(buildShortReadCommand(1, maskWithRange(0x7B, 1)), bytes({ 0x34, 0xFB, 0x00 }));
    EXPECT_EQ(buildShortReadCommand(0, maskWithRange(0x7B, 0)), bytes({ 0x14, 0x7B, 0x00 }));
}

TEST(Protocol, TransferCommandTakesTheMaskOfTheOpeningCommand)
{
    const QByteArray start = buildStartFrame(0, 0x85, 10, 20, 3);
    EXPECT_EQ(buildTransferCommand(false, start, 3), bytes({ 0x80, 0x85, 0x00, 0x00, 0xA0 }));
    EXPECT_EQ(buildTransferCommand(true, start, 1), bytes({ 0x90, 0x85, 0x00, 0x00, 0xE0 }));
    // An opening command of one byte (tuning) has no mask byte: 0 is sent.
    EXPECT_EQ(buildTransferCommand(false, buildTuneCommand(true), 8),
        bytes({ 0x80, 0x00, 0x00, 0x00, 0x00 }));
    EXPECT_EQ(buildNextBlockRequest(false), bytes({ 0x81 }));
    EXPECT_EQ(buildNextBlockRequest(true), bytes({ 0x91 }));
    EXPECT_EQ(buildReReadCommand(), bytes({ 0x16, 0x00 }));
    EXPECT_EQ(buildTuneCommand(true), bytes({ 0x10 }));
    EXPECT_EQ(buildTuneCommand(false), bytes({ 0x11 }));
}

TEST(Protocol, OddByteRearrangementTurnsWireSamplesIntoSampleWords)
{
    // Code 0xABC with the photodiode lit: byte 1 is 0xA8 on the wire, 0x8A stored.
    QByteArray sample = bytes({ 0xBC, 0xA8, 0xBC, 0xA7 });
    rearrangeOddBytes(sample.data(), sample.size());
    EXPECT_EQ(sample, bytes({ 0xBC, 0x8A, 0xBC, 0x0A }));
    // Only indexes below the count are touched.
    QByteArray partial = bytes({ 0x00, 0xF8, 0x00, 0xF8 });
    rearrangeOddBytes(partial.data(), 3);
    EXPECT_EQ(partial, bytes({ 0x00, 0x8F, 0x00, 0xF8 }));
}
