#include "acquisition/samplingplan.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>

namespace acquisition {

namespace {

double roundHalfEvenDouble(double value)
{
    double whole = std::floor(value);
    const double fraction = value - whole;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(whole, 2.0) != 0.0))
        whole += 1.0;
    return whole;
}

} // namespace

int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, INT_MIN, INT_MAX));
}

int roundedQuotient(int numerator, int denominator)
{
    if (denominator <= 0)
        return INT_MAX;
    return roundHalfEven(double(numerator) / double(denominator));
}

int roundHalfEven(double value)
{
    if (std::isnan(value))
        return INT_MAX;
    const double r = roundHalfEvenDouble(value);
    if (r >= double(INT_MAX))
        return INT_MAX;
    if (r <= double(INT_MIN))
        return INT_MIN;
    return int(r);
}

DividerPair searchDividers(int time4allSRAM)
{
    // Clock cycles per sample that the request asks for, less the fixed cost.
    const double x = double(time4allSRAM) * double(ControllerClockHz) / double(TimeFactor)
        - double(FixedCostCycles);
    // The d1 whose exact d2 lies nearest to a whole number; the smallest d1 among equals.
    double best = 1.0;
    int chosen = 0;
    for (int d1 = MinDivider; d1 <= MaxDivider; ++d1) {
        const double e = x / double(LoopCostCycles) / double(d1 + 1);
        const double r = roundHalfEvenDouble(e);
        if (r >= MinDivider && r <= MaxDivider && std::fabs(e - r) < best) {
            best = std::fabs(e - r);
            chosen = d1;
        }
    }
    if (chosen == 0) {
        // Outside the achievable range: the nearer limit pair.
        return x < 2.0 * LoopCostCycles ? DividerPair { MinDivider, MinDivider }
                                        : DividerPair { MaxDivider, MaxDivider };
    }
    const double d2 = roundHalfEvenDouble(x / double(LoopCostCycles) / double(chosen + 1));
    return DividerPair { chosen, int(d2) };
}

DividerPair limitDividers(SamplingLimit::Kind kind)
{
    switch (kind) {
    case SamplingLimit::Kind::FrequencyTooLow:
    case SamplingLimit::Kind::TimeTooLong:
        return { MaxDivider, MaxDivider };
    case SamplingLimit::Kind::FrequencyTooHigh:
    case SamplingLimit::Kind::TimeTooShort:
        break;
    }
    return { MinDivider, MinDivider };
}

int sramBlocksForSamples(int samples)
{
    return std::clamp(samples / BlockSamples, 1, MaxSRAMblocks);
}

int shortestTimeMs(int sramBlocks)
{
    return sramBlocks * ShortestTime4allSRAM / MaxSRAMblocks;
}

int longestTimeMs(int sramBlocks)
{
    return int(qint64(sramBlocks) * LongestTime4allSRAM / MaxSRAMblocks);
}

int SamplingPlan::channelCount() const
{
    return std::popcount(unsigned(channels & files::ThermocoupleBits));
}

double SamplingPlan::trueFrequencyHz() const
{
    return double(ControllerClockHz) / double(samplePeriodCycles());
}

double SamplingPlan::trueTimeMs() const
{
    // Evaluated in this order, as the controller's time is reported everywhere else.
    return double(samplePeriodCycles()) * double(TimeFactor) / double(ControllerClockHz)
        * double(sramBlocks) / double(MaxSRAMblocks);
}

double SamplingPlan::measurementMs() const
{
    const double p = samplePeriodCycles() / ControllerClockMHz;
    return double(roundHalfEven(p * 240000 / 1000000 * 1000 * sramBlocks / 8));
}

double SamplingPlan::channelIntervalUs() const
{
    return channelCount() * (samplePeriodCycles() / ControllerClockMHz);
}

double SamplingPlan::channelFrequencyHz() const
{
    const int count = channelCount();
    return count > 0 ? double(ControllerClockHz) / double(count) / double(samplePeriodCycles())
                     : 0.0;
}

int frequencyForTime4allSRAM(int time4allSRAM)
{
    return std::clamp(
        roundedQuotient(TimeFactor, time4allSRAM), LowestFrequencyHz, HighestFrequencyHz);
}

int timeForTime4allSRAM(int time4allSRAM, int sramBlocks)
{
    return clampToInt(qint64(time4allSRAM) * sramBlocks / MaxSRAMblocks);
}

SamplingPlan planSampling(const SamplingRequest &request)
{
    SamplingPlan plan;
    plan.sramBlocks = sramBlocksForSamples(request.samples);
    plan.channels = request.channels & files::ThermocoupleBits;
    plan.averaging = request.averaging;
    using Kind = SamplingLimit::Kind;
    if (request.given == SamplingRequest::Given::Frequency) {
        const int f = request.value;
        if (f < LowestFrequencyHz)
            plan.outside = SamplingLimit { Kind::FrequencyTooLow, LowestFrequencyHz };
        else if (f > HighestFrequencyHz)
            plan.outside = SamplingLimit { Kind::FrequencyTooHigh, HighestFrequencyHz };
        plan.time4allSRAM = roundedQuotient(TimeFactor, f);
    } else {
        const int t = request.value;
        const qint64 time4all = qint64(t) * MaxSRAMblocks / plan.sramBlocks;
        if (time4all > LongestTime4allSRAM)
            plan.outside = SamplingLimit { Kind::TimeTooLong, longestTimeMs(plan.sramBlocks) };
        else if (time4all < ShortestTime4allSRAM)
            plan.outside = SamplingLimit { Kind::TimeTooShort, shortestTimeMs(plan.sramBlocks) };
        // Leaving the time field derives the time again from the whole frequency it shows.
        plan.time4allSRAM = plan.outside
            ? clampToInt(time4all)
            : roundedQuotient(TimeFactor, frequencyForTime4allSRAM(clampToInt(time4all)));
    }
    const DividerPair pair
        = plan.outside ? limitDividers(plan.outside->kind) : searchDividers(plan.time4allSRAM);
    plan.d1 = pair.d1;
    plan.d2 = pair.d2;
    return plan;
}

} // namespace acquisition
