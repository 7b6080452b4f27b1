#include "sim/recording.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace sim {

std::uint64_t mix64(std::uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

namespace {

// Uniform in [0, 1) from a hash word.
double unit(std::uint64_t word)
{
    return double(word >> 11) * (1.0 / 9007199254740992.0);
}

} // namespace

int samplePeriodCycles(int d1, int d2)
{
    return 3 * (d1 + 1) * d2 + 55;
}

double recordingSeconds(int d1, int d2, int blocks)
{
    return double(samplePeriodCycles(d1, d2)) * kBlockSamples * blocks / kClockHz;
}

int blocksFromCode(std::uint8_t code)
{
    return kMemoryBlocks - (code >> 5);
}

Recording::Recording(std::uint64_t seed, std::uint64_t number, std::uint8_t mask, int periodCycles,
    std::int64_t samples, bool onTrigger, double timeScaleSeconds)
    : m_seed(seed)
    , m_number(number)
    , m_mask(mask)
    , m_periodCycles(periodCycles)
    , m_samples(samples)
    , m_onTrigger(onTrigger)
{
    for (int n = 1; n <= 7; ++n) {
        if (mask & (1 << (n - 1)))
            m_channels.push_back(n);
    }
    // Room temperature and drift phase belong to the board's surroundings (seed only); the
    // pulse phase changes from one acquisition to the next.
    for (int n = 1; n <= 7; ++n) {
        m_baseDegrees[n] = 22.0 + 0.8 * n + unit(mix64(seed * 31 + n));
        m_driftPhase[n] = 2 * std::numbers::pi * unit(mix64(seed * 37 + 100 + n));
    }
    m_timeScale = timeScaleSeconds > 0 ? timeScaleSeconds : durationSeconds();
    if (!(m_timeScale > 0))
        m_timeScale = 1.0;
    m_pulsePhase = onTrigger ? 0.0 : unit(mix64(seed ^ mix64(number))) * m_timeScale / 6;
}

double Recording::temperature(int channel, double t) const
{
    const double d = m_timeScale;
    double degrees = m_baseDegrees[channel]
        + 0.6 * std::sin(2 * std::numbers::pi * t / d + m_driftPhase[channel]);
    const double stepAt = d * (0.25 + 0.03 * channel);
    if (t >= stepAt) {
        const double amplitude = rangeDegrees() * (0.12 + 0.04 * (7 - channel));
        const double tau = d * 0.04 * (1.0 + 0.5 * channel);
        degrees += amplitude * (1.0 - std::exp(-(t - stepAt) / tau));
    }
    return degrees;
}

bool Recording::photodiode(double t) const
{
    const double d = m_timeScale;
    const double period = d / 6;
    const double x = std::fmod(t + m_pulsePhase, period);
    return x < period / 5;
}

int Recording::idealCode(int channel, double t) const
{
    const long code = std::lround(temperature(channel, t) * 4096.0 / rangeDegrees());
    return int(std::clamp(code, 0L, 4095L));
}

std::uint64_t Recording::noiseWord(std::int64_t j) const
{
    return mix64(
        mix64(m_seed ^ 0x5EED) ^ mix64(m_number) ^ std::uint64_t(j) * 0x2545F4914F6CDD1Dull);
}

WireSample Recording::rawSample(std::int64_t j) const
{
    if (m_samples == 0)
        return {};
    j %= kMemorySamples;
    const double t = double(j) * samplePeriodSeconds();
    WireSample s;
    s.photodiode = photodiode(t);
    if (m_channels.empty())
        return s;
    const int channel = m_channels[std::size_t(j) % m_channels.size()];
    const int noise = int(noiseWord(j) % (2 * kNoiseCounts + 1)) - kNoiseCounts;
    s.code = std::uint16_t(std::clamp(idealCode(channel, t) + noise, 0, 4095));
    return s;
}

WireSample Recording::averagedSample(std::int64_t j) const
{
    const std::int64_t n = std::max<std::int64_t>(1, std::int64_t(m_channels.size()));
    const std::int64_t frame = j / n;
    const std::int64_t channel = j % n;
    int sum = 0;
    int lit = 0;
    for (int i = 0; i < kAveragedSamples; ++i) {
        const WireSample s = rawSample((frame * kAveragedSamples + i) * n + channel);
        sum += s.code;
        lit += s.photodiode ? 1 : 0;
    }
    return { std::uint16_t(sum >> 4), lit >= kAveragedSamples / 2 };
}

void Recording::fillBlock(bool averaged, std::int64_t block, std::uint8_t *out) const
{
    unsigned sum = 0;
    for (int i = 0; i < kBlockWireSamples; ++i) {
        const std::int64_t j = block * kBlockWireSamples + i;
        const WireSample s = averaged ? averagedSample(j) : rawSample(j);
        out[2 * i] = s.byte0();
        out[2 * i + 1] = s.byte1();
        sum += out[2 * i] + out[2 * i + 1];
    }
    out[kBlockDataBytes] = std::uint8_t(sum & 0xFF);
}

} // namespace sim
