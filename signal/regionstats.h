#pragma once

#include "signal/chartdecoder.h"

#include <QtGlobal>
#include <array>
#include <vector>

// Statistics of the drawn points of a recording between two X values: what the two cursors
// of the window and `ferrun-cli stats` show. The points are those the chart draws (after
// integration and skipping), so the numbers are those of what the user sees.
namespace sig {

// One thermocouple over the points of a region, in the units of the axis mode.
struct ChannelStatistics
{
    int channel = 0; // 1..7
    qint64 count = 0; // points in the region
    double minimum = 0;
    double maximum = 0;
    double mean = 0;
    double first = 0; // Y at the region's first point
    double last = 0; // ... and at its last
    // Least-squares slope of Y against X, in Y units per X unit; 0 for a single point.
    double slope = 0;
};

// Gathers the points with from <= X <= to, inclusive, from a whole decode or from the
// pieces of a ChartStream in order. The sums are kept exactly (the codes and the point
// numbers are integers, X and Y linear in them), so a region's numbers do not depend on how
// the recording was cut into pieces.
class RegionStatistics
{
public:
    RegionStatistics(double from, double to);

    // Takes the points of `piece` that lie in the region.
    void add(const DecodedRecording &piece);
    // Points in the region so far (the same for every channel).
    qint64 count() const { return m_count; }
    // The X distance from the region's first point to its last, in the X unit; 0 with fewer
    // than two points.
    double span() const;
    // One entry per thermocouple of the recording, in channel order; empty before the first
    // piece or when no axis mode was selected. Counts are 0 (and the values 0) when no point
    // lay in the region.
    std::vector<ChannelStatistics> result() const;

private:
    // Takes the points begin .. end - 1 of `piece`, all in the region.
    void addRun(const DecodedRecording &piece, int begin, int end);

    struct Sums
    {
        int minimum = 0, maximum = 0, first = 0, last = 0;
        qint64 codes = 0; // sum of the codes
        __int128 pointCodes = 0; // sum of point × code
    };
    double m_from = 0, m_to = 0;
    bool m_seen = false;
    // What maps points and codes to X and Y, taken from the first piece.
    AxisMode m_mode = AxisMode::None;
    quint8 m_channels = 0;
    double m_xPerPoint = 1; // X = (point + 1) × m_xPerPoint
    double m_scale = 0;
    qint32 m_offset = 0;
    qint64 m_count = 0;
    __int128 m_points = 0, m_pointSquares = 0; // sums of point and point²
    qint64 m_lowestPoint = 0, m_highestPoint = 0; // point numbers at the region's ends
    std::array<Sums, files::ThermocoupleCount> m_sums {};
};

// The statistics of a whole decode between from and to, inclusive.
std::vector<ChannelStatistics> regionStatistics(
    const DecodedRecording &recording, double from, double to);

// The factor that takes a slope per X unit of the recording's mode to one per second in the
// time modes (X in the recording's time unit, averaged recordings included); 1 in the sample
// modes (per sample).
double slopePerSecondFactor(const DecodedRecording &recording);

// The decimals of a region's figures: as many as the recording resolves, one count per
// column, the same in the window's cursor table, its copied text and `ferrun-cli stats`.
// Fixed-point always: a column never mixes "9477" with "1.047e+04".
struct RegionDecimals
{
    int x = 0; // the cursors' X and Δx: adjacent drawn points read apart
    int value = 0; // values, differences, minimum, maximum: one ADC code reads apart
    int mean = 0; // a decimal more than the values
    int slope = 0; // per second or per sample: one code over the region's span
    int hertz = 0; // 1/|Δx|: one point's X over the span, as a frequency
};
// For a region of `span` X units (0: no region, the slope and 1/|Δx| then take none).
RegionDecimals regionDecimals(const DecodedRecording &recording, double span);

// `value` with `decimals` digits after the point ("-0.00" is written "0.00").
QByteArray formatDecimals(double value, int decimals);

// The drawn point nearest to `x` (ties to the earlier), -1 when the recording holds none:
// where a cursor placed at x snaps.
int nearestPoint(const DecodedRecording &recording, double x);

} // namespace sig
