#pragma once

#include "files/channels.h"

#include <QtGlobal>
#include <optional>

// The sampling plan: what the controller is told (its two loop dividers and the memory
// blocks) for a requested frequency or measurement time, and what it then really does. One
// pure function of the request, called by the frequency/time panel and by the commands; every
// derived figure (sample period, true frequency and time, channel interval) is computed here
// and nowhere else.
namespace acquisition {

// Clock of the controller: one sample takes 3 * d2 * (d1 + 1) + 55 of these cycles.
inline constexpr int ControllerClockHz = 14745600;
// Controller clock in MHz: cycles / ControllerClockMHz gives microseconds.
inline constexpr double ControllerClockMHz = 14.7456;
// Milliseconds times hertz for the whole memory: 240000 samples * 1000 ms.
inline constexpr int TimeFactor = 240000000;
inline constexpr int FixedCostCycles = 55;
inline constexpr int LoopCostCycles = 3;
inline constexpr int LowestFrequencyHz = 75;
// 14745600 / 61 (d1 = d2 = 1), rounded down.
inline constexpr int HighestFrequencyHz = 241731;
// The period of 61 cycles over the whole memory (992.84 ms), rounded down.
inline constexpr int ShortestTime4allSRAM = 992;
// The period of 197431 cycles (d1 = d2 = 256) over the whole memory, rounded down.
inline constexpr int LongestTime4allSRAM = 3213395;
inline constexpr int BlockSamples = 30000;
inline constexpr int FullMemorySamples = 240000;
inline constexpr int MaxSRAMblocks = 8;
inline constexpr int MinDivider = 1;
inline constexpr int MaxDivider = 256;

// Defaults of a first run (no settings file).
inline constexpr int DefaultSRAMblocks = 8;
inline constexpr int DefaultTime4allSRAM = 10000;
inline constexpr int DefaultFrequencyHz = 2400;

// Rounds to the nearest integer, halves to the even neighbour; saturates at the int range
// (an infinite or NaN quotient gives the maximum, so that field bounds then apply).
int roundHalfEven(double value);
// The int nearest a 64-bit value: the int range's ends beyond it.
int clampToInt(qint64 value);
// numerator / denominator rounded halves to even; a zero or negative denominator stands for an
// infinite quotient (INT_MAX) instead of dividing by zero.
int roundedQuotient(int numerator, int denominator);

constexpr int samplePeriodCycles(int d1, int d2)
{
    return LoopCostCycles * d2 * (d1 + 1) + FixedCostCycles;
}

// Loop-count pair chosen for a given Time4allSRAM when no limit override applies.
struct DividerPair
{
    int d1 = 1;
    int d2 = 1;
    bool operator==(const DividerPair &) const = default;
};
DividerPair searchDividers(int time4allSRAM);

// A limit of the board that a request lies beyond; `value` is the limit in the request's
// unit (hertz, or milliseconds for the samples asked for).
struct SamplingLimit
{
    enum class Kind { FrequencyTooLow, FrequencyTooHigh, TimeTooShort, TimeTooLong };
    Kind kind = Kind::FrequencyTooLow;
    int value = 0;
    bool operator==(const SamplingLimit &) const = default;
};

// The pair the controller gets for a request beyond a limit: the limit's own pair (the
// slowest for too low a frequency or too long a time, the fastest otherwise).
DividerPair limitDividers(SamplingLimit::Kind kind);

// Whole memory blocks for a number of samples, 1..8.
int sramBlocksForSamples(int samples);
// The longest and shortest measurement time in milliseconds for this many memory blocks.
int shortestTimeMs(int sramBlocks);
int longestTimeMs(int sramBlocks);

// The controller's settings and what they give. The derived figures are computed on demand,
// so that a plan whose channels or averaging change stays consistent.
struct SamplingPlan
{
    int d1 = 1;
    int d2 = 1;
    int sramBlocks = DefaultSRAMblocks;
    quint8 channels = files::ThermocoupleBits; // bit n-1 for Tn
    bool averaging = false;
    // The time for the whole memory the request stands for (what the dividers were sought
    // for), and the limit it lies beyond, if any: the dividers are then the limit's pair.
    int time4allSRAM = DefaultTime4allSRAM;
    std::optional<SamplingLimit> outside;

    int samplePeriodCycles() const { return acquisition::samplePeriodCycles(d1, d2); }
    int channelCount() const;
    int samples() const { return sramBlocks * BlockSamples; }
    // 14745600 / the sample period.
    double trueFrequencyHz() const;
    // The recording time as the panel shows it.
    double trueTimeMs() const;
    // The recording time as the session estimates it: a whole number of milliseconds.
    double measurementMs() const;
    // Time between two samples of one channel: the sample period times the channels.
    double channelIntervalUs() const;
    // Samples per second of one channel; 0 without channels.
    double channelFrequencyHz() const;
    bool operator==(const SamplingPlan &) const = default;
};

// What a user asks for: a sampling frequency or a measurement time for the samples, as typed
// into the frequency/time panel and the field then left.
struct SamplingRequest
{
    enum class Given { Frequency, Time };
    Given given = Given::Frequency;
    int value = DefaultFrequencyHz; // hertz, or milliseconds
    int samples = FullMemorySamples;
    quint8 channels = files::ThermocoupleBits;
    bool averaging = false;
};

// The plan the panel arrives at when the value is typed and the field left: a frequency
// gives the time for the whole memory round(240000000 / F); a time T for the samples gives
// T * 8 / blocks, and leaving the field re-derives it from the frequency it shows. A value
// beyond a limit is reported in `outside` and planned with the limit's pair.
SamplingPlan planSampling(const SamplingRequest &request);

// The frequency the panel shows for a time for the whole memory, within the board's range.
int frequencyForTime4allSRAM(int time4allSRAM);
// The time the panel shows for the samples of `sramBlocks` blocks.
int timeForTime4allSRAM(int time4allSRAM, int sramBlocks);

} // namespace acquisition
