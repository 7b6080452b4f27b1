#include "signal/chartdecoder.h"

#include "files/datafile.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace sig {

namespace {

// The time axis's titles of each unit, as stored; listed for the translation.
[[maybe_unused]] constexpr const char *TimeTitles[] = { MicrosecondsTitle,
    QT_TRANSLATE_NOOP("AxisTitle", "Время, мс"), QT_TRANSLATE_NOOP("AxisTitle", "Время, с") };
constexpr const char *TimeUnits[] = { QT_TRANSLATE_NOOP("TimeUnit", "мкс"),
    QT_TRANSLATE_NOOP("TimeUnit", "мс"), QT_TRANSLATE_NOOP("TimeUnit", "с") };

} // namespace

const QStringList &timeUnitNames()
{
    static const QStringList names { QString::fromUtf8(TimeUnits[0]),
        QString::fromUtf8(TimeUnits[1]), QString::fromUtf8(TimeUnits[2]) };
    return names;
}

QString timeTitle(const QString &unitName)
{
    return QStringLiteral("Время, ") + unitName;
}

QString displayedAxisTitle(const QString &storedTitle)
{
    return QCoreApplication::translate("AxisTitle", storedTitle.toUtf8().constData());
}

QString displayedTimeUnit(const QString &unitName)
{
    return QCoreApplication::translate("TimeUnit", unitName.toUtf8().constData());
}

double timeUnitDivisor(int unitIndex)
{
    switch (unitIndex) {
    case 0:
        return 1;
    case 1:
        return 1000;
    case 2:
        return 1000000;
    default:
        return 0;
    }
}

void applyFileHeader(DisplaySettings &settings, const files::DataFileHeader &header)
{
    settings.checkedChannels = header.ChartChannelBits & files::ThermocoupleBits;
    settings.averaging = (header.ChartChannelBits & 0x80) != 0;
    settings.channelIntervalUs = header.ChannelIntervalUs;
    if (!(settings.valueScale > 0) && std::isfinite(header.ValueScale) && header.ValueScale > 0)
        settings.valueScale = header.ValueScale;
}

DecodedRecording ChartDecoder::decode(const QByteArray &array, const DisplaySettings &settings)
{
    DecodedRecording r;
    decode(array, settings, r);
    return r;
}

void ChartDecoder::decode(
    const QByteArray &array, const DisplaySettings &settings, DecodedRecording &r)
{
    // The whole array is one piece; the point lists keep their memory.
    ChartStream stream(*this, array.size(), settings, std::move(r));
    stream.decode(array.constData(), array.size());
    r = stream.takeRecording();
}

void ChartDecoder::setValues(qint64 length, const DisplaySettings &settings, DecodedRecording &r)
{
    // Every value is set anew; the point lists keep their memory.
    std::array<std::vector<quint16>, files::ThermocoupleCount> codes = std::move(r.m_codes);
    std::vector<quint8> photodiode = std::move(r.m_photodiode);
    r = DecodedRecording();
    r.m_codes = std::move(codes);
    r.m_photodiode = std::move(photodiode);

    // Time unit. With none selected the last unit stays. The averaging divides the unit's
    // own divisor each time, never a divisor already divided.
    const double unit = timeUnitDivisor(settings.timeUnitIndex);
    if (unit > 0)
        m_unitDivisor = unit;
    r.TimeDivisor = settings.averaging ? m_unitDivisor / 16 : m_unitDivisor;
    r.TimeUnitName = settings.timeUnitIndex >= 0 && settings.timeUnitIndex < 3
        ? timeUnitNames().at(settings.timeUnitIndex)
        : QString();
    r.XTitle = QString::fromUtf8(MicrosecondsTitle);
    r.ValueScale = settings.valueScale > 0 ? settings.valueScale
                                           : files::valueScaleForRange(settings.rangeIndex);
    r.ValueOffset = 0;
    r.ChannelIntervalUs = settings.channelIntervalUs;

    r.axisMode = settings.axisMode;
    const bool temperature = isTemperatureMode(r.axisMode);
    switch (r.axisMode) {
    case AxisMode::None:
        break;
    case AxisMode::ValuesTime:
    case AxisMode::AdcTime:
        r.leftTitle = QString::fromUtf8(temperature ? TemperatureTitle : AdcUnitsTitle);
        r.bottomTitle = timeTitle(r.TimeUnitName);
        m_pointStep = settings.channelIntervalUs / r.TimeDivisor;
        break;
    case AxisMode::AdcSamples:
    case AxisMode::ValuesSamples:
        r.leftTitle = QString::fromUtf8(temperature ? TemperatureTitle : AdcUnitsTitle);
        r.bottomTitle = QString::fromUtf8(SamplesTitle);
        m_pointStep = 1;
        break;
    }
    r.PointStep = m_pointStep;

    r.checkedChannels = settings.checkedChannels & files::ThermocoupleBits;
    r.ChartChannelBits = files::chartChannelBits(r.checkedChannels, settings.averaging);
    r.channelCount = std::popcount(unsigned(r.checkedChannels));
    r.lowestChannel = r.checkedChannels ? std::countr_zero(unsigned(r.checkedChannels)) + 1 : 0;
    r.frameCount = r.channelCount > 0 ? int(length / 2 / r.channelCount) : 0;
    r.photodiode = settings.photodiode;
}

void DecodedRecording::appendPiece(const DecodedRecording &piece)
{
    std::array<std::vector<quint16>, files::ThermocoupleCount> codes = std::move(m_codes);
    std::vector<quint8> photodiode = std::move(m_photodiode);
    const int points = m_points;
    *this = piece;
    m_codes = std::move(codes);
    m_photodiode = std::move(photodiode);
    for (int n = 1; n <= files::ThermocoupleCount; ++n) {
        std::vector<quint16> &list = m_codes[size_t(n - 1)];
        if (!hasChannel(n)) {
            list.clear();
            continue;
        }
        list.resize(size_t(points));
        const std::vector<quint16> &more = piece.m_codes[size_t(n - 1)];
        list.insert(list.end(), more.begin(), more.end());
    }
    m_photodiode.resize(size_t(points));
    m_photodiode.insert(m_photodiode.end(), piece.m_photodiode.begin(), piece.m_photodiode.end());
    m_first = 0;
    m_points = points + piece.m_points;
}

ChartStream::ChartStream(
    ChartDecoder &decoder, qint64 length, const DisplaySettings &settings, DecodedRecording reuse)
    : m_recording(std::move(reuse))
{
    DecodedRecording &r = m_recording;
    decoder.setValues(length, settings, r);
    m_channels = r.channelCount;
    m_frameBytes = 2 * qint64(m_channels);
    const qint64 skip = std::max(1, settings.pointSkip);
    m_stride = skip * m_frameBytes;
    m_framesRead = r.frameCount > 0 ? (r.frameCount + skip - 1) / skip : 0;
    m_draw = r.axisMode != AxisMode::None;
    m_integrate = settings.integrate;
    m_meanLength = std::max(1, settings.integrationLength);
    int c = 0;
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        if (r.hasChannel(n))
            m_channelNumbers[size_t(c++)] = n;
    m_totalPoints = m_draw && m_framesRead > 0 ? int(m_framesRead - 1) : 0;
    // Lists of the channels not in this recording are emptied, and their memory let go.
    for (int n = 1; n <= files::ThermocoupleCount; ++n) {
        std::vector<quint16> &list = r.m_codes[size_t(n - 1)];
        if (r.hasChannel(n))
            list.clear();
        else
            std::vector<quint16>().swap(list);
    }
    r.m_photodiode.clear();
    setRange();
}

void ChartStream::setRange()
{
    DecodedRecording &r = m_recording;
    r.rawMaximum = m_rawMaximum;
    r.rawMinimum = m_rawMinimum;
    const bool temperature = isTemperatureMode(r.axisMode);
    r.valueMaximum = temperature ? r.valueOf(r.rawMaximum) : r.rawMaximum;
    r.valueMinimum = temperature ? r.valueOf(r.rawMinimum) : r.rawMinimum;
    r.photodiodeDrawn = r.photodiode && m_totalPoints > 0;
}

void ChartStream::restart()
{
    m_next = 0;
    m_offset = 0;
    m_mean = {};
}

void ChartStream::decode(const char *data, qint64 size)
{
    DecodedRecording &r = m_recording;
    const qint64 start = m_offset;
    const qint64 end = start + std::max<qint64>(0, size);
    m_offset = end;
    const auto *bytes = reinterpret_cast<const uchar *>(data);

    // The frames that end in this piece, and their points (frame 0 has none).
    const qint64 first = m_next;
    const qint64 last = m_frameBytes > 0 && end >= m_frameBytes
        ? std::min(m_framesRead, (end - m_frameBytes) / m_stride + 1)
        : first;
    const qint64 firstPoint = std::max<qint64>(first, 1) - 1;
    const qint64 points = m_draw ? std::max<qint64>(0, last - 1 - firstPoint) : 0;
    r.m_first = int(firstPoint);
    r.m_points = int(points);
    for (int j = 0; j < m_channels; ++j)
        r.m_codes[size_t(m_channelNumbers[size_t(j)] - 1)].resize(size_t(points));
    r.m_photodiode.resize(size_t(points));

    while (m_next < last) {
        const qint64 at = m_next * m_stride;
        if (at >= start) {
            // The frames that lie whole in this piece, in one run.
            decodeFrames(bytes + (at - start), last - m_next, firstPoint);
            break;
        }
        // A frame begun in an earlier piece: its first start - at bytes are in the carry.
        std::copy(bytes, bytes + (at + m_frameBytes - start), m_carry.begin() + (start - at));
        decodeFrames(m_carry.data(), 1, firstPoint);
    }
    // A frame that goes on in a later piece keeps its bytes from this one.
    if (m_next < m_framesRead) {
        const qint64 at = m_next * m_stride;
        if (at < end) {
            const qint64 from = std::max(at, start);
            std::copy(bytes + (from - start), bytes + (end - start), m_carry.begin() + (from - at));
        }
    }
    setRange();
}

void ChartStream::decodeFrames(const uchar *first, qint64 frames, qint64 firstPoint)
{
    // Everything the loop reads is local: the photodiode states are bytes, whose writes the
    // compiler must otherwise assume to change the members.
    DecodedRecording &r = m_recording;
    const int count = m_channels;
    const int k = m_meanLength;
    const bool draw = m_draw;
    const bool integrate = m_integrate;
    const qint64 stride = m_stride;
    const qint64 next = m_next;
    std::array<quint16 *, files::ThermocoupleCount> out {};
    for (int j = 0; j < count; ++j)
        out[size_t(j)] = r.m_codes[size_t(m_channelNumbers[size_t(j)] - 1)].data();
    quint8 *states = r.m_photodiode.data();
    std::array<double, files::ThermocoupleCount> mean = m_mean;
    int rawMax = m_rawMaximum;
    int rawMin = m_rawMinimum;
    for (qint64 f = 0; f < frames; ++f) {
        const qint64 i = next + f; // the frame's index among the frames read
        const qint64 p = i - 1 - firstPoint; // its point in this piece
        const uchar *frame = first + f * stride;
        for (int j = 0; j < count; ++j) {
            int v = (frame[2 * j] | (frame[2 * j + 1] << 8)) & 0x0FFF;
            rawMax = std::max(rawMax, v);
            rawMin = std::min(rawMin, v);
            double &state = mean[size_t(j)];
            if (i == 0)
                state = v;
            if (integrate) {
                // A running mean with weight 1/k, kept in full precision; the point takes
                // it rounded to the nearest integer, halves to even.
                state = (double(k - 1) * state + v) / k;
                v = int(std::nearbyint(state));
            }
            if (i > 0 && draw)
                out[size_t(j)][p] = quint16(v);
        }
        if (i > 0 && draw)
            states[p] = (frame[1] >> 7) & 1;
    }
    m_next = next + frames;
    m_mean = mean;
    m_rawMaximum = rawMax;
    m_rawMinimum = rawMin;
}

} // namespace sig
