#pragma once

#include <QtGlobal>

// The instrument's channels in their fixed order: the thermocouples T1..T7, then the
// photodiode FD. A channel's index in this order (0..7) is that of its chart series and of
// its check box and colour swatch in the window; counted from 1 it numbers the "Channel n"
// keys of the settings file. Thermocouple n (1..7) is bit n - 1 of a channel mask, in the
// start command, the data file header and the display settings alike. The photodiode has
// no bit there: its state comes in bit 15 of each sample word.
namespace files {

enum class ChannelId { T1, T2, T3, T4, T5, T6, T7, FD };

inline constexpr int ThermocoupleCount = 7;
inline constexpr int ChannelCount = ThermocoupleCount + 1;
static_assert(int(ChannelId::FD) == ThermocoupleCount, "the photodiode follows T1..T7");

// Every thermocouple's bit: bits 0..6.
inline constexpr quint8 ThermocoupleBits = quint8((1u << ThermocoupleCount) - 1);

// Thermocouple n, 1..7.
constexpr ChannelId thermocouple(int n)
{
    return ChannelId(n - 1);
}

// The bit of thermocouple n (1..7) in a channel mask.
constexpr quint8 thermocoupleBit(int n)
{
    return quint8(1u << (n - 1));
}

// "T1".."T7", "FD": the names of the chart series and of the exported columns.
constexpr const char *channelName(ChannelId channel)
{
    constexpr const char *names[ChannelCount] = { "T1", "T2", "T3", "T4", "T5", "T6", "T7", "FD" };
    return names[int(channel)];
}

} // namespace files
