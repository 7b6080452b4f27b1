#pragma once

#include <cstdint>
#include <vector>

namespace sim {

// The controller's clock and memory, as the board firmware sees them.
constexpr double kClockHz = 14745600.0;
constexpr int kBlockSamples = 30000; // samples in one memory block
constexpr int kMemoryBlocks = 8; // blocks of memory
constexpr int kMemorySamples = kBlockSamples * kMemoryBlocks;
constexpr int kBlockDataBytes = 500; // sample bytes in one transferred block
constexpr int kBlockReplyBytes = 501; // the block as sent: data plus one trailing byte
constexpr int kBlockWireSamples = kBlockDataBytes / 2;
constexpr int kAveragedSamples = 16; // samples of one channel folded into one averaged sample
constexpr int kFastPeriodCycles = 21; // sample period of the short read: the fastest conversion
constexpr int kNoiseCounts = 3; // thermocouple noise, at most this many ADC counts either way

// Clock cycles of one sample period; d1 and d2 in 1..256.
int samplePeriodCycles(int d1, int d2);
// The true recording time in seconds: blocks × 30000 sample periods.
double recordingSeconds(int d1, int d2, int blocks);
// Memory blocks selected by a block code: (8 − blocks) × 32 selects blocks; the low five bits
// are not looked at, so every code selects 1..8 blocks.
int blocksFromCode(std::uint8_t code);

// One sample on the wire: byte 0 holds ADC code bits 0..7, byte 1 holds code bits 8..11 in its
// bits 4..7 and the photodiode state in its bit 3; bits 0..2 of byte 1 are sent as 0.
struct WireSample
{
    std::uint16_t code = 0; // 0..4095
    bool photodiode = false;

    std::uint8_t byte0() const { return std::uint8_t(code & 0xFF); }
    std::uint8_t byte1() const
    {
        return std::uint8_t(((code >> 8) & 0x0F) << 4 | (photodiode ? 0x08 : 0x00));
    }
    static WireSample decode(std::uint8_t b0, std::uint8_t b1)
    {
        return { std::uint16_t(b0 | (b1 >> 4) << 8), (b1 & 0x08) != 0 };
    }
    bool operator==(const WireSample &) const = default;
};

// One acquisition held in the board's memory, and the analogue world it was taken from.
//
// Sample j of the memory is conversion number j: channel channels()[j % n] (n checked
// thermocouples, ascending), frame j / n, taken at t = j × samplePeriodSeconds() after the
// first conversion. Everything is a pure function of the random seed, the acquisition number and
// the settings, so the memory is generated on demand and a transfer can be repeated.
//
// Signals, relative to a time scale D (the acquisition's own duration unless given) so that
// every recording, short or long, shows the same features:
//   - each thermocouple sits at room temperature (22..29 °C) with a slow drift of ±0.6 °C over
//     one period of D, and heats up at 0.25 D + 0.03 D × channel by a step proportional to the
//     range (up to 36 % of it, lower channels more), approached exponentially;
//   - uniform noise of at most kNoiseCounts counts on every conversion;
//   - the photodiode follows a pulse train of period D / 6, lit for the first fifth of each
//     period; an acquisition launched by the photodiode starts on a rising edge (lit at t = 0).
// Codes are the temperature divided by range / 4096 (250° or 500° by bit 7 of the mask),
// rounded, plus noise, clamped to 0..4095. With no thermocouple in the mask every conversion
// reads code 0 with the photodiode state.
class Recording
{
public:
    Recording() = default; // memory before any acquisition: every sample zero
    // timeScaleSeconds: the D the signal features follow; 0 means the acquisition's own
    // duration. A short read passes a longer D so that its few samples show a steady state.
    Recording(std::uint64_t seed, std::uint64_t number, std::uint8_t mask, int periodCycles,
        std::int64_t samples, bool onTrigger, double timeScaleSeconds = 0);

    bool isEmpty() const { return m_samples == 0; }
    std::uint8_t mask() const { return m_mask; }
    const std::vector<int> &channels() const { return m_channels; } // 1..7, ascending
    int periodCycles() const { return m_periodCycles; }
    double samplePeriodSeconds() const { return m_periodCycles / kClockHz; }
    std::int64_t samples() const { return m_samples; }
    double durationSeconds() const { return double(m_samples) * samplePeriodSeconds(); }
    double rangeDegrees() const { return (m_mask & 0x80) ? 500.0 : 250.0; }
    bool onTrigger() const { return m_onTrigger; }
    std::uint64_t number() const { return m_number; }

    // The analogue inputs: degrees Celsius of thermocouple 1..7, photodiode lit; t in seconds.
    double temperature(int channel, double t) const;
    bool photodiode(double t) const;
    // The code a noiseless conversion of the channel gives at t.
    int idealCode(int channel, double t) const;

    // Memory sample j (wraps at the memory size).
    WireSample rawSample(std::int64_t j) const;
    // Averaged sample j: channel j % n, frame j / n; the mean of raw frames 16f..16f+15 of that
    // channel. The code is the sum of the 16 codes shifted right by 4; the photodiode bit is set
    // when it was set in 8 or more of them.
    WireSample averagedSample(std::int64_t j) const;
    // Transferred block b (501 bytes): samples 250 b .. 250 b + 249 of the raw or averaged
    // sequence; byte 500 is the sum of bytes 0..499 modulo 256.
    void fillBlock(bool averaged, std::int64_t block, std::uint8_t *out) const;

private:
    std::uint64_t noiseWord(std::int64_t j) const;

    std::uint64_t m_seed = 0;
    std::uint64_t m_number = 0;
    std::uint8_t m_mask = 0;
    std::vector<int> m_channels;
    int m_periodCycles = kFastPeriodCycles;
    std::int64_t m_samples = 0;
    bool m_onTrigger = false;
    double m_timeScale = 1.0; // D, seconds
    double m_pulsePhase = 0.0; // seconds
    double m_baseDegrees[8] = {}; // per channel 1..7
    double m_driftPhase[8] = {};
};

// Deterministic 64-bit mixing (splitmix64 finaliser).
std::uint64_t mix64(std::uint64_t x);

} // namespace sim
