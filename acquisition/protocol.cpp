#include "acquisition/protocol.h"

#include "files/channels.h"

#include <QCoreApplication>

namespace acquisition {

quint8 blockCode(int sramBlocks)
{
    // Outside 1..8 the controller would get a code it cannot honour; clamp to the table.
    if (sramBlocks < 1)
        sramBlocks = 1;
    if (sramBlocks > MemoryBlocks)
        sramBlocks = MemoryBlocks;
    return quint8((MemoryBlocks - sramBlocks) * 32);
}

quint8 maskWithRange(quint8 mask, int rangeIndex)
{
    const quint8 channels = mask & files::ThermocoupleBits;
    return rangeIndex == 1 ? quint8(channels | Range500Bit) : channels;
}

QByteArray buildStartFrame(int launchType, quint8 channelMask, int d1, int d2, int sramBlocks)
{
    QByteArray frame(6, '\0');
    frame[0] = char(StartFromComputer + LaunchTypeStep * launchType);
    frame[1] = char(channelMask);
    frame[2] = char(d1 & 0xFF);
    frame[3] = char(d2 & 0xFF);
    frame[4] = char(blockCode(sramBlocks));
    quint8 sum = 0;
    for (int i = 0; i < 5; ++i)
        sum = quint8(sum + quint8(frame[i]));
    frame[5] = char(sum);
    return frame;
}

QByteArray buildTransferCommand(bool averaging, const QByteArray &openingCommand, int sramBlocks)
{
    QByteArray command(5, '\0');
    command[0] = char(averaging ? TransferAveraged : TransferPlain);
    command[1] = openingCommand.size() > 1 ? openingCommand[1] : '\0';
    command[4] = char(blockCode(sramBlocks));
    return command;
}

QByteArray buildNextBlockRequest(bool averaging)
{
    return QByteArray(1, char(averaging ? NextBlockAveraged : NextBlockPlain));
}

QByteArray buildShortReadCommand(int launchType, quint8 channelMask)
{
    QByteArray command(3, '\0');
    command[0] = char(ShortReadFromComputer + LaunchTypeStep * launchType);
    command[1] = char(channelMask);
    return command;
}

QByteArray buildReReadCommand()
{
    QByteArray command(2, '\0');
    command[0] = char(ReReadOpcode);
    command[1] = char(blockCode(MemoryBlocks));
    return command;
}

QByteArray buildTuneCommand(bool begin)
{
    return QByteArray(1, char(begin ? TuneBegin : TuneEnd));
}

int expectedDataBlocks(int sessionBlocks, bool averaging)
{
    const int blocks = sessionBlocks * DataBlocksPerMemoryBlock;
    return averaging ? blocks >> 4 : blocks;
}

bool isShortReadOpening(const QByteArray &openingCommand)
{
    if (openingCommand.isEmpty())
        return false;
    const quint8 first = quint8(openingCommand[0]);
    return (first & 0x10) && (first & 0x04);
}

bool isTransferCommand(const QByteArray &command)
{
    return !command.isEmpty() && quint8(command[0]) >= 0x80;
}

bool isEndOfMeasurement(quint8 byte)
{
    return byte == EndOfMeasurementA || byte == EndOfMeasurementB;
}

quint8 rearrangeWireByte(quint8 byte)
{
    return quint8((byte >> 4) | ((byte & 0x08) << 4));
}

void rearrangeOddBytes(char *data, int count)
{
    for (int i = 1; i < count; i += 2)
        data[i] = char(rearrangeWireByte(quint8(data[i])));
}

} // namespace acquisition
