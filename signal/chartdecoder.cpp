#include "signal/chartdecoder.h"

#include "files/datafile.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace sig {

const QStringList &timeUnitNames()
{
    static const QStringList names { QStringLiteral("мкс"), QStringLiteral("мс"),
        QStringLiteral("с") };
    return names;
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

DecodedRecording ChartDecoder::decode(const QByteArray &array, const DisplaySettings &settings)
{
    DecodedRecording r;
    decode(array, settings, r);
    return r;
}

void ChartDecoder::decode(
    const QByteArray &array, const DisplaySettings &settings, DecodedRecording &r)
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
    r.XTitle = QStringLiteral("Время, мкс");
    r.ValueScale = files::valueScaleForRange(settings.rangeIndex);
    r.ValueOffset = 0;
    r.ChannelIntervalUs = settings.channelIntervalUs;

    r.axisMode = settings.axisMode;
    const bool temperature = isTemperatureMode(r.axisMode);
    switch (r.axisMode) {
    case AxisMode::None:
        break;
    case AxisMode::ValuesTime:
    case AxisMode::AdcTime:
        r.leftTitle = temperature ? QStringLiteral("Температура") : QStringLiteral("единицы АЦП");
        r.bottomTitle = QStringLiteral("Время, ") + r.TimeUnitName;
        m_pointStep = settings.channelIntervalUs / r.TimeDivisor;
        break;
    case AxisMode::AdcSamples:
    case AxisMode::ValuesSamples:
        r.leftTitle = temperature ? QStringLiteral("Температура") : QStringLiteral("единицы АЦП");
        r.bottomTitle = QStringLiteral("Выборки");
        m_pointStep = 1;
        break;
    }
    r.PointStep = m_pointStep;

    r.checkedChannels = settings.checkedChannels & files::ThermocoupleBits;
    r.ChartChannelBits = files::chartChannelBits(r.checkedChannels, settings.averaging);
    r.channelCount = std::popcount(unsigned(r.checkedChannels));
    r.lowestChannel = r.checkedChannels ? std::countr_zero(unsigned(r.checkedChannels)) + 1 : 0;

    const qint64 length = array.size();
    const int count = r.channelCount;
    r.frameCount = count > 0 ? int(length / 2 / count) : 0;
    const qint64 frameBytes = 2 * qint64(count);
    const qint64 skip = std::max(1, settings.pointSkip);
    const qint64 gapBytes = (skip - 1) * frameBytes;
    const int k = std::max(1, settings.integrationLength);

    // Lists of the channels not in this recording are emptied, and their memory let go.
    const auto size = [&r](qint64 points) {
        for (int n = 1; n <= files::ThermocoupleCount; ++n) {
            std::vector<quint16> &list = r.m_codes[size_t(n - 1)];
            if (r.hasChannel(n))
                list.resize(size_t(points));
            else
                std::vector<quint16>().swap(list);
        }
        r.m_photodiode.resize(size_t(points));
    };
    if (r.frameCount > 0) {
        // Frames read: buffer frames 0, skip, 2 × skip, ... while a whole frame remains.
        const qint64 framesRead = (r.frameCount + skip - 1) / skip;
        const bool draw = r.axisMode != AxisMode::None;
        if (draw)
            r.m_points = int(framesRead - 1);
        size(r.m_points);

        std::array<int, files::ThermocoupleCount> channels {};
        int c = 0;
        for (int n = 1; n <= files::ThermocoupleCount; ++n)
            if (r.hasChannel(n))
                channels[size_t(c++)] = n;
        std::array<double, files::ThermocoupleCount> mean {};
        std::array<quint16 *, files::ThermocoupleCount> out {};
        for (int j = 0; j < count; ++j)
            out[size_t(j)] = draw ? r.m_codes[size_t(channels[size_t(j)] - 1)].data() : nullptr;

        const auto *bytes = reinterpret_cast<const uchar *>(array.constData());
        int rawMax = 0;
        int rawMin = 65535;
        qint64 pos = 0;
        for (int i = 0; i < r.frameCount; ++i) {
            const uchar *frame = bytes + pos;
            pos += frameBytes;
            for (int j = 0; j < count; ++j) {
                int v = (frame[2 * j] | (frame[2 * j + 1] << 8)) & 0x0FFF;
                rawMax = std::max(rawMax, v);
                rawMin = std::min(rawMin, v);
                double &state = mean[size_t(j)];
                if (i == 0)
                    state = v;
                if (settings.integrate) {
                    // A running mean with weight 1/k, kept in full precision; the point takes
                    // it rounded to the nearest integer, halves to even.
                    state = (double(k - 1) * state + v) / k;
                    v = int(std::nearbyint(state));
                }
                if (i > 0 && draw)
                    out[size_t(j)][i - 1] = quint16(v);
            }
            if (i > 0 && draw)
                r.m_photodiode[size_t(i - 1)] = (frame[1] >> 7) & 1;
            if (skip > 1) {
                const qint64 next = pos + gapBytes;
                if (next >= length || length - next < frameBytes)
                    break;
                pos = next;
            }
        }
        r.rawMaximum = rawMax;
        r.rawMinimum = rawMin;
    } else {
        size(0);
    }
    r.valueMaximum = temperature ? r.valueOf(r.rawMaximum) : r.rawMaximum;
    r.valueMinimum = temperature ? r.valueOf(r.rawMinimum) : r.rawMinimum;
    r.photodiode = settings.photodiode;
    r.photodiodeDrawn = settings.photodiode && r.m_points > 0;
}

} // namespace sig
