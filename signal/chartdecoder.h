#pragma once

#include "files/channels.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <array>
#include <vector>

namespace files {
struct DataFileHeader;
}

// Decoding of an acquisition array into the points of the chart series.
//
// The array is a run of 16-bit sample words, low byte first: bits 0..11 the ADC code, bit 15
// the photodiode state. Words are grouped in frames, one word per checked thermocouple in
// ascending channel number; the photodiode state of a frame is bit 15 of its first word.
// Frame 0 seeds the running mean and the value range and is never drawn, so a recording of
// N frames gives N - 1 points per series (fewer when frames are skipped).
//
// The namespace is not called after its folder: a namespace named `signal` would clash with
// the C library's signal().
namespace sig {

// Axis modes, the items of the axis-mode selector.
enum class AxisMode {
    None = -1,
    ValuesTime = 0, // temperature against time
    AdcSamples = 1, // ADC units against sample number
    ValuesSamples = 2, // temperature against sample number
    AdcTime = 3, // ADC units against time
};

inline bool isTemperatureMode(AxisMode mode)
{
    return mode == AxisMode::ValuesTime || mode == AxisMode::ValuesSamples;
}
inline bool isTimeMode(AxisMode mode)
{
    return mode == AxisMode::ValuesTime || mode == AxisMode::AdcTime;
}

// Names of the time units "мкс", "мс", "с" (indexes 0..2) and their divisors 1, 1000, 1e6.
// The names are those of the axis titles a data file stores; a window shows them translated
// (displayedTimeUnit).
const QStringList &timeUnitNames();
double timeUnitDivisor(int unitIndex);

// Axis titles as a data file stores them (in Windows-1251), whatever language the window
// speaks: a recording saved from an English window reads the same as one from a Russian
// window. A window shows them through displayedAxisTitle().
inline constexpr char TemperatureTitle[] = QT_TRANSLATE_NOOP("AxisTitle", "Температура");
inline constexpr char AdcUnitsTitle[] = QT_TRANSLATE_NOOP("AxisTitle", "единицы АЦП");
inline constexpr char SamplesTitle[] = QT_TRANSLATE_NOOP("AxisTitle", "Выборки");
inline constexpr char MicrosecondsTitle[] = QT_TRANSLATE_NOOP("AxisTitle", "Время, мкс");
// "Время, " and a time unit's name.
QString timeTitle(const QString &unitName);

// A stored axis title (the constants above, "Время, " with a unit) in the window's language;
// any other text as it is.
QString displayedAxisTitle(const QString &storedTitle);
// A time unit's name (timeUnitNames()) in the window's language.
QString displayedTimeUnit(const QString &unitName);

// Display settings a decode reads; the window takes them from its controls, the command
// line from its options.
struct DisplaySettings
{
    quint8 checkedChannels = 0x01; // bit n-1 for Tn
    bool photodiode = false; // draw the FD line
    bool averaging = false; // averaging in the controller: frames 16 sampling steps apart
    int timeUnitIndex = 1; // 0 "мкс", 1 "мс", 2 "с", -1 none selected
    AxisMode axisMode = AxisMode::ValuesTime;
    int rangeIndex = 0; // 0 "250°", any other "500°"
    // Degrees per ADC unit; 0 takes that of rangeIndex.
    double valueScale = 0;
    bool integrate = false;
    int integrationLength = 8; // points of the running mean, 2..2048
    int pointSkip = 1; // draw every n-th frame
    double channelIntervalUs = 0; // microseconds between frames
    bool operator==(const DisplaySettings &) const = default;
};

// What a recording decides of its own drawing, whatever the display shows: its channels and
// averaging (the channel bits), the interval between frames, and its scale, unless a scale
// was chosen already (valueScale set) or the recording holds none (0, or not a finite
// positive number: the range selected is used then).
void applyFileHeader(DisplaySettings &settings, const files::DataFileHeader &header);

// One decoded recording: what a chart build draws and the values it writes for others.
// Points are kept as the (integrated) ADC codes of each drawn frame; X and Y follow from the
// axis mode, so the record is small and reads back exactly what the series received.
class DecodedRecording
{
public:
    // ---- Values written by the build
    double TimeDivisor = 1000;
    QString TimeUnitName;
    double PointStep = 1;
    double ValueScale = 0;
    qint32 ValueOffset = 0;
    quint8 ChartChannelBits = 0;
    QString XTitle;
    AxisMode axisMode = AxisMode::None;
    // Axis titles of the mode; empty (left as they were) with no mode selected.
    QString leftTitle;
    QString bottomTitle;
    double ChannelIntervalUs = 0;

    // ---- The recording
    int channelCount = 0; // checked thermocouples: words per frame
    quint8 checkedChannels = 0; // bit n-1 for Tn
    int lowestChannel = 0; // 1..7, 0 with none checked
    int frameCount = 0; // whole frames in the array
    // Raw ADC range over every word read (before integration); 0 and 65535 when none was.
    double rawMaximum = 0;
    double rawMinimum = 65535;
    // The same range in the units of the axis mode: the two levels of the photodiode line.
    double valueMaximum = 0;
    double valueMinimum = 65535;
    bool photodiode = false; // the FD line is asked for
    bool photodiodeDrawn = false; // ... and receives points

    // Points per series held (drawn frames 1 .. pointCount() of a whole decode); 0 with no
    // mode selected. A piece of a recording decoded in pieces (ChartStream) holds the points
    // firstPoint() .. firstPoint() + pointCount() - 1 of the recording, as points 0 ..
    // pointCount() - 1.
    int pointCount() const { return m_points; }
    int firstPoint() const { return m_first; }
    bool hasChannel(int n) const
    {
        return n >= 1 && n <= files::ThermocoupleCount
            && (checkedChannels & files::thermocoupleBit(n));
    }
    // Frame index i of point p of the recording (points count from 0; frame 0 is never
    // drawn).
    static int frameOfPoint(int point) { return point + 1; }
    double x(int point) const
    {
        const double i = frameOfPoint(m_first + point);
        // In this order, so that the values are exactly those of i × interval / divisor.
        return isTimeMode(axisMode) ? i * ChannelIntervalUs / TimeDivisor : i;
    }
    // Y of channel n (1..7) at point p: the code itself, or degrees in the temperature modes.
    double y(int n, int point) const { return valueOf(code(n, point)); }
    int code(int n, int point) const { return m_codes[size_t(n - 1)][size_t(point)]; }
    // The codes of channel n, pointCount() of them (none when n was not checked).
    const std::vector<quint16> &codeData(int n) const { return m_codes[size_t(n - 1)]; }
    // The photodiode state of the frame of point p, and the Y of the FD line there.
    bool photodiodeState(int point) const { return m_photodiode[size_t(point)] != 0; }
    // The photodiode states of the points, 0 or 1.
    const std::vector<quint8> &photodiodeData() const { return m_photodiode; }
    double photodiodeY(int point) const
    {
        return photodiodeState(point) ? valueMaximum : valueMinimum;
    }
    bool operator==(const DecodedRecording &) const = default;
    // Appends the points of the next piece of the same recording decoded in pieces
    // (ChartStream), and takes its values (the raw range of the frames read so far): the
    // recording then holds the points of every piece appended, from point 0.
    void appendPiece(const DecodedRecording &piece);

    double valueOf(double code) const
    {
        return isTemperatureMode(axisMode) ? (code - ValueOffset) * ValueScale : code;
    }

private:
    friend class ChartDecoder;
    friend class ChartStream;
    int m_first = 0;
    int m_points = 0;
    std::array<std::vector<quint16>, files::ThermocoupleCount> m_codes;
    std::vector<quint8> m_photodiode;
};

// Decodes arrays with the given display settings. Keeps what a build keeps between runs:
// the time unit's divisor (reused when no unit is selected) and the point step (reused when
// no axis mode is selected).
class ChartDecoder
{
public:
    // The whole array is decoded from its start; the array is not changed.
    DecodedRecording decode(const QByteArray &array, const DisplaySettings &settings);
    // The same into an existing recording, whose point lists are reused (a redraw then
    // takes no new memory).
    void decode(const QByteArray &array, const DisplaySettings &settings, DecodedRecording &into);

    double unitDivisor() const { return m_unitDivisor; }
    double pointStep() const { return m_pointStep; }

private:
    friend class ChartStream;
    // Sets every value of `r` for an array of `length` bytes but the raw range and the
    // points.
    void setValues(qint64 length, const DisplaySettings &settings, DecodedRecording &r);

    double m_unitDivisor = 1;
    double m_pointStep = 1;
};

// An array decoded in pieces as it is read: the values and points ChartDecoder::decode gives
// for the whole array, with memory bounded by the largest piece. The pieces come in order
// and may have any size (a frame may lie across several). After each, recording() holds the
// recording's values and the points of the frames that ended in that piece; its raw range
// (and so the levels of the photodiode line) covers the frames read so far, that of the
// whole array once all of it was given.
//
// restart() begins a second pass that keeps the raw range of the whole array, so that every
// piece of it has the final photodiode levels: an export of the photodiode line needs them
// before its first row.
class ChartStream
{
public:
    // Takes the time unit and point step as `decoder` keeps them, and leaves them there as a
    // decode of the whole array does. The point lists of `reuse` are reused.
    ChartStream(ChartDecoder &decoder, qint64 length, const DisplaySettings &settings,
        DecodedRecording reuse = {});

    const DecodedRecording &recording() const { return m_recording; }
    DecodedRecording takeRecording() { return std::move(m_recording); }
    // Points of the whole recording.
    int totalPoints() const { return m_totalPoints; }

    // Decodes the next `size` bytes of the array.
    void decode(const char *bytes, qint64 size);
    // Every frame to read was decoded.
    bool atEnd() const { return m_next >= m_framesRead; }
    // Starts over at the array's start with the raw range found so far.
    void restart();

private:
    // Decodes `frames` frames read from `first` on, `m_stride` bytes apart.
    void decodeFrames(const uchar *first, qint64 frames, qint64 firstPoint);
    void setRange();

    DecodedRecording m_recording;
    // Where the frames lie: words per frame, the frame's bytes, the bytes from one frame
    // read to the next (the skip in whole frames) and the frames read (0, skip, 2 × skip,
    // ... while a whole frame remains).
    int m_channels = 0;
    qint64 m_frameBytes = 0;
    qint64 m_stride = 0;
    qint64 m_framesRead = 0;
    bool m_draw = false;
    bool m_integrate = false;
    int m_meanLength = 1;
    std::array<int, files::ThermocoupleCount> m_channelNumbers {};
    int m_totalPoints = 0;

    // Carried from piece to piece: the next frame to read and the array's next byte, the
    // running means, the raw range over the words read, a frame across pieces.
    qint64 m_next = 0;
    qint64 m_offset = 0;
    std::array<double, files::ThermocoupleCount> m_mean {};
    int m_rawMaximum = 0;
    int m_rawMinimum = 65535;
    std::array<uchar, 2 * files::ThermocoupleCount> m_carry {};
};

} // namespace sig
