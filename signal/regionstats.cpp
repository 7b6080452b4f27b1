#include "signal/regionstats.h"

#include "files/datafile.h"

#include <algorithm>
#include <cmath>

namespace sig {

namespace {

// The first point p of `recording` in [from, count) whose X is not below `x` (X ascending).
int firstPointFrom(const DecodedRecording &recording, int from, int count, double x)
{
    while (from < count) {
        const int middle = from + (count - from) / 2;
        if (recording.x(middle) < x)
            from = middle + 1;
        else
            count = middle;
    }
    return from;
}

// The first point beyond `x`.
int firstPointBeyond(const DecodedRecording &recording, int from, int count, double x)
{
    while (from < count) {
        const int middle = from + (count - from) / 2;
        if (recording.x(middle) <= x)
            from = middle + 1;
        else
            count = middle;
    }
    return from;
}

} // namespace

RegionStatistics::RegionStatistics(double from, double to)
    : m_from(from)
    , m_to(to)
{
}

void RegionStatistics::add(const DecodedRecording &piece)
{
    if (!m_seen) {
        m_seen = true;
        m_mode = piece.axisMode;
        m_channels = piece.checkedChannels;
        m_xPerPoint = piece.PointStep;
        m_scale = piece.ValueScale;
        m_offset = piece.ValueOffset;
    }
    const int points = piece.pointCount();
    if (m_mode == AxisMode::None || points == 0)
        return;

    // X grows with the point unless the recording's interval is negative; a region of such a
    // recording is found point by point.
    if (!(piece.x(points - 1) < piece.x(0))) {
        const int begin = firstPointFrom(piece, 0, points, m_from);
        addRun(piece, begin, firstPointBeyond(piece, begin, points, m_to));
        return;
    }
    // Runs of consecutive points in the region, each taken as a whole.
    const auto inside = [&](int p) {
        const double x = piece.x(p);
        return x >= m_from && x <= m_to;
    };
    for (int p = 0; p < points;) {
        if (!inside(p)) {
            ++p;
            continue;
        }
        int q = p + 1;
        while (q < points && inside(q))
            ++q;
        addRun(piece, p, q);
        p = q;
    }
}

void RegionStatistics::addRun(const DecodedRecording &piece, int begin, int end)
{
    if (begin >= end)
        return;
    const bool first = m_count == 0;
    const qint64 offset = piece.firstPoint();
    // Sums of the point numbers offset + begin .. offset + end - 1 and of their squares.
    const auto sumTo = [](__int128 n) { return n * (n - 1) / 2; }; // 0 + ... + n - 1
    const auto squaresTo = [](__int128 n) { return n * (n - 1) * (2 * n - 1) / 6; };
    const __int128 low = offset + begin, high = offset + end;
    if (first) {
        m_lowestPoint = qint64(low);
        m_highestPoint = qint64(high) - 1;
    }
    m_lowestPoint = std::min(m_lowestPoint, qint64(low));
    m_highestPoint = std::max(m_highestPoint, qint64(high) - 1);
    m_count += end - begin;
    m_points += sumTo(high) - sumTo(low);
    m_pointSquares += squaresTo(high) - squaresTo(low);
    for (int n = 1; n <= files::ThermocoupleCount; ++n) {
        if (!piece.hasChannel(n))
            continue;
        Sums &s = m_sums[size_t(n - 1)];
        const quint16 *codes = piece.codeData(n).data();
        if (first)
            s.minimum = s.maximum = s.first = codes[begin];
        s.last = codes[end - 1];
        // Blocks whose sums fit 64 bits (point × code stays below 2^47), gathered into the
        // exact totals.
        constexpr int Block = 1 << 15;
        for (int from = begin; from < end; from += Block) {
            const int to = std::min(end, from + Block);
            int minimum = s.minimum, maximum = s.maximum;
            qint64 codeSum = 0, pointCodeSum = 0;
            for (int p = from; p < to; ++p) {
                const int code = codes[p];
                minimum = std::min(minimum, code);
                maximum = std::max(maximum, code);
                codeSum += code;
                pointCodeSum += qint64(p - from) * code;
            }
            s.minimum = minimum;
            s.maximum = maximum;
            s.codes += codeSum;
            // Points counted from the block's start: add start × the block's code sum.
            s.pointCodes += pointCodeSum + __int128(offset + from) * codeSum;
        }
    }
}

std::vector<ChannelStatistics> RegionStatistics::result() const
{
    std::vector<ChannelStatistics> result;
    if (m_mode == AxisMode::None)
        return result;
    const bool temperature = isTemperatureMode(m_mode);
    // A code maps to Y exactly as the chart's point does; a mean code in extended precision.
    const auto value
        = [&](int code) { return temperature ? (code - m_offset) * m_scale : double(code); };
    const auto meanValue = [&](long double code) {
        return temperature ? double((code - m_offset) * m_scale) : double(code);
    };
    const __int128 n = m_count;
    const __int128 spread = n * m_pointSquares - m_points * m_points;
    for (int channel = 1; channel <= files::ThermocoupleCount; ++channel) {
        if (!(m_channels & files::thermocoupleBit(channel)))
            continue;
        ChannelStatistics c;
        c.channel = channel;
        c.count = m_count;
        if (m_count > 0) {
            const Sums &s = m_sums[size_t(channel - 1)];
            c.minimum = value(s.minimum);
            c.maximum = value(s.maximum);
            if (c.maximum < c.minimum) // a negative scale turns the order round
                std::swap(c.minimum, c.maximum);
            c.first = value(s.first);
            c.last = value(s.last);
            c.mean = meanValue((long double)s.codes / (long double)m_count);
            if (spread > 0) {
                const __int128 covariance = n * s.pointCodes - m_points * __int128(s.codes);
                const long double perPoint = (long double)covariance / (long double)spread;
                const long double perCode = temperature ? (long double)m_scale : 1.0L;
                // A recording whose frames all lie at one X has no slope.
                c.slope = m_xPerPoint != 0 ? double(perPoint * perCode / m_xPerPoint) : 0;
            }
        }
        result.push_back(c);
    }
    return result;
}

std::vector<ChannelStatistics> regionStatistics(
    const DecodedRecording &recording, double from, double to)
{
    RegionStatistics statistics(from, to);
    statistics.add(recording);
    return statistics.result();
}

double RegionStatistics::span() const
{
    return m_count > 1 ? double(m_highestPoint - m_lowestPoint) * std::abs(m_xPerPoint) : 0;
}

double slopePerSecondFactor(const DecodedRecording &recording)
{
    if (!isTimeMode(recording.axisMode))
        return 1.0;
    // X counts the time unit: TimeDivisor is the unit's microseconds, divided by 16 with
    // averaging so that frames 16 sampling steps apart lie 16 intervals apart in X.
    const bool averaging = (recording.ChartChannelBits & files::chartChannelBits(0, true)) != 0;
    return 1e6 / (recording.TimeDivisor * (averaging ? 16 : 1));
}

namespace {

// Decimals that show a quantity of resolution `step` to its last step: 10^-d <= step.
int decimalsFor(double step)
{
    if (!(step > 0) || !std::isfinite(step))
        return 0;
    // A hair below whole powers of ten, so that a step of exactly 0.01 takes two.
    return std::clamp(int(std::ceil(-std::log10(step) - 1e-9)), 0, 12);
}

} // namespace

RegionDecimals regionDecimals(const DecodedRecording &recording, double span)
{
    RegionDecimals d;
    const bool temperature = isTemperatureMode(recording.axisMode);
    const double code = temperature ? std::abs(recording.ValueScale) : 1.0;
    d.value = decimalsFor(code);
    d.mean = d.value + 1;
    // Adjacent drawn points lie PointStep apart (a skipping build draws its frames so).
    const double step = std::abs(recording.PointStep);
    d.x = decimalsFor(step);
    span = std::abs(span);
    if (span > 0 && std::isfinite(span)) {
        const double perSecond = slopePerSecondFactor(recording);
        d.slope = decimalsFor(code / (span / perSecond));
        // d(1/Δx) = dx / Δx², in seconds.
        const double seconds = span / perSecond;
        d.hertz = decimalsFor(step / perSecond / (seconds * seconds));
    }
    return d;
}

QByteArray formatDecimals(double value, int decimals)
{
    QByteArray text = QByteArray::number(value, 'f', decimals);
    // A value that rounds to zero from below reads as zero.
    if (text.startsWith('-') && text.count('0') == text.size() - 1 - (decimals > 0 ? 1 : 0))
        text.remove(0, 1);
    return text;
}

int nearestPoint(const DecodedRecording &recording, double x)
{
    const int points = recording.pointCount();
    if (points == 0 || recording.axisMode == AxisMode::None)
        return -1;
    if (recording.x(points - 1) < recording.x(0)) {
        int best = 0;
        for (int p = 1; p < points; ++p)
            if (std::abs(recording.x(p) - x) < std::abs(recording.x(best) - x))
                best = p;
        return best;
    }
    const int after = firstPointFrom(recording, 0, points, x);
    if (after == 0)
        return 0;
    if (after == points)
        return points - 1;
    return x - recording.x(after - 1) <= recording.x(after) - x ? after - 1 : after;
}

} // namespace sig
