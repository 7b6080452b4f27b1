#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// The controller's command protocol: every command the application sends, byte for byte,
// and the constants of the replies it recognises. All commands go out as one byte string
// through WriteString, without terminator or framing.
namespace acquisition {


// Samples in one memory block, memory blocks of the board, data blocks of one memory block.
inline constexpr int SamplesPerMemoryBlock = 30000;
inline constexpr int MemoryBlocks = 8;
inline constexpr int DataBlocksPerMemoryBlock = 120;

// A data block on the wire: 500 sample bytes and one unused byte.
inline constexpr int DataBlockBytes = 501;
inline constexpr int DataBlockPayload = 500;
// Each read takes up to this many bytes.
inline constexpr int ReceiveBufferBytes = 530;

// Commands of one byte.
inline constexpr quint8 LinkProbe = 0x29;
inline constexpr quint8 NextBlockPlain = 0x81;
inline constexpr quint8 NextBlockAveraged = 0x91;
inline constexpr quint8 TuneBegin = 0x10;
inline constexpr quint8 TuneEnd = 0x11;

// First bytes of the multi-byte commands.
inline constexpr quint8 StartFromComputer = 0x13;
inline constexpr quint8 ShortReadFromComputer = 0x14;
inline constexpr quint8 ReReadOpcode = 0x16;
inline constexpr quint8 TransferPlain = 0x80;
inline constexpr quint8 TransferAveraged = 0x90;
inline constexpr quint8 LaunchTypeStep = 0x20;

// Replies of one byte.
inline constexpr quint8 EndOfMeasurementA = 0x0A;
inline constexpr quint8 EndOfMeasurementB = 0x0B;
inline constexpr quint8 StatusTuning = 0x10;
inline constexpr quint8 StatusTuned = 0x11;

// Bit 7 of a channel mask in a command selects the 500° input range.
inline constexpr quint8 Range500Bit = 0x80;

// BlockCodeTable[SRAMblocks] = (8 - SRAMblocks) * 32: 0xE0 for 1 block ... 0x00 for 8.
quint8 blockCode(int sramBlocks);

// Bits 0..6 of `mask` with bit 7 set for range index 1 ("500°") and clear otherwise.
quint8 maskWithRange(quint8 mask, int rangeIndex);

// StartFrame, 6 bytes: 0x13 + 0x20 * launchType, mask, d1 % 256, d2 % 256, block code,
// checksum (sum of bytes 0..4 modulo 256). `channelMask` is sent as given.
QByteArray buildStartFrame(int launchType, quint8 channelMask, int d1, int d2, int sramBlocks);

// TransferCommand, 5 bytes: 0x80 or 0x90, byte 1 of the opening command (0 when it has
// none), 0, 0, block code. No checksum.
QByteArray buildTransferCommand(bool averaging, const QByteArray &openingCommand, int sramBlocks);

// NextBlockRequest: 0x91 with averaging, otherwise 0x81.
QByteArray buildNextBlockRequest(bool averaging);

// ShortReadCommand, 3 bytes: 0x14 + 0x20 * launchType, mask (with the range bit), 0.
QByteArray buildShortReadCommand(int launchType, quint8 channelMask);

// ReReadCommand: 0x16 and the block code of 8 blocks.
QByteArray buildReReadCommand();

// TuneCommand: 0x10 to begin tuning the photodiode amplifier, 0x11 to end it.
QByteArray buildTuneCommand(bool begin);

// Data blocks of one transfer: sessionBlocks * 120, divided by 16 (rounded down) with
// averaging in the controller.
int expectedDataBlocks(int sessionBlocks, bool averaging);

// True for a command that opens a short-read exchange: its first byte has both 0x10 and
// 0x04 set (0x14, 0x34 and the re-read 0x16 do; the start frame and tuning do not).
bool isShortReadOpening(const QByteArray &openingCommand);

// True when the command's first byte is 0x80 or above: data blocks are being received.
bool isTransferCommand(const QByteArray &command);

// True for the end codes 0x0A and 0x0B.
bool isEndOfMeasurement(quint8 byte);

// Odd-byte rearrangement of received samples: every byte at an odd index below `count`
// becomes (b >> 4) | ((b & 0x08) << 4); bytes at even indexes stay.
quint8 rearrangeWireByte(quint8 byte);
void rearrangeOddBytes(char *data, int count);

// The launch button toggles LaunchType: from 1 to 0 (from the computer), from anything else
// to 1 (on the photodiode signal).
inline constexpr int toggledLaunchType(int launchType)
{
    return launchType == 1 ? 0 : 1;
}

} // namespace acquisition
