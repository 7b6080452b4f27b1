// Statistics of a full recording (480000 bytes: 240000 sample words) between its first and
// last point, as the cursors' panel and `ferrun-cli stats` compute them:
//   stats CxP median_ms=M min_ms=N
// C channels of P points each, temperature against time; median of 101 runs after 5
// warm-ups. The decode itself is not timed.
#include "signal/chartdecoder.h"
#include "signal/regionstats.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

QByteArray recording(int channels)
{
    QByteArray bytes(480000, '\0');
    std::mt19937 rng(12345);
    std::normal_distribution<double> noise(0, 6);
    const int frames = 240000 / channels;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            const double v = 1500 + 300 * c + 400 * std::sin(i / 3000.0 + c) + noise(rng);
            const int w = std::clamp(int(std::lround(v)), 0, 4095) | (i / 5000 % 2 ? 0x8000 : 0);
            bytes[2 * (i * channels + c)] = char(w & 0xFF);
            bytes[2 * (i * channels + c) + 1] = char(w >> 8);
        }
    return bytes;
}

} // namespace

int main()
{
    for (const int channels : { 1, 7 }) {
        sig::DisplaySettings settings;
        settings.checkedChannels = quint8((1u << channels) - 1);
        settings.channelIntervalUs = 3055 / 14.7456 * channels;
        sig::ChartDecoder decoder;
        const sig::DecodedRecording decoded = decoder.decode(recording(channels), settings);
        const double from = decoded.x(0), to = decoded.x(decoded.pointCount() - 1);
        std::vector<double> times;
        double sink = 0;
        for (int run = 0; run < 106; ++run) {
            QElapsedTimer timer;
            timer.start();
            const std::vector<sig::ChannelStatistics> s = sig::regionStatistics(decoded, from, to);
            const double ms = timer.nsecsElapsed() / 1e6;
            sink += s.front().slope;
            if (run >= 5)
                times.push_back(ms);
        }
        std::sort(times.begin(), times.end());
        std::printf("stats %dx%d median_ms=%.3f min_ms=%.3f (%g)\n", channels, decoded.pointCount(),
            times[times.size() / 2], times.front(), sink > 0 ? 1.0 : 0.0);
    }
    return 0;
}
