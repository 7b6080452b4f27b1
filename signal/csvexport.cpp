#include "signal/csvexport.h"

#include <QIODevice>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

namespace sig {

namespace {

// Enough for any number in either form: at most 21 integer digits, or "0." and 6 zeros
// before 17 significant digits, or 17 digits and a 5-character exponent, and a sign.
constexpr int NumberRoom = 32;

char *appendNumber(char *at, char *end, double value)
{
    const double magnitude = std::abs(value);
    const bool fixed = !(magnitude < 1e-7 || magnitude >= 1e21) || value == 0;
    const std::to_chars_result r = std::to_chars(
        at, end, value, fixed ? std::chars_format::fixed : std::chars_format::scientific);
    return r.ptr;
}

// Rows are produced into a buffer and handed on whenever it fills.
template <class Flush> bool produceRows(const DecodedRecording &r, Flush flush)
{
    std::array<int, files::ThermocoupleCount> channels {};
    int count = 0;
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        if (r.hasChannel(n))
            channels[size_t(count++)] = n;
    const bool fd = r.photodiode;
    constexpr size_t chunk = 1 << 16;
    const size_t rowRoom = size_t(count + 2) * (NumberRoom + 1) + 1;
    std::vector<char> buffer(chunk + rowRoom);
    char *const begin = buffer.data();
    char *const end = begin + buffer.size();
    char *at = begin;
    for (int p = 0; p < r.pointCount(); ++p) {
        at = appendNumber(at, end, r.x(p));
        for (int j = 0; j < count; ++j) {
            *at++ = ',';
            at = appendNumber(at, end, r.y(channels[size_t(j)], p));
        }
        if (fd) {
            *at++ = ',';
            at = appendNumber(at, end, r.photodiodeY(p));
        }
        *at++ = '\n';
        if (size_t(at - begin) >= chunk) {
            if (!flush(begin, at - begin))
                return false;
            at = begin;
        }
    }
    return at == begin || flush(begin, at - begin);
}

} // namespace

QByteArray formatNumber(double value)
{
    char text[NumberRoom];
    char *end = appendNumber(text, text + sizeof text, value);
    return QByteArray(text, end - text);
}

QByteArray csvHeader(const DecodedRecording &recording)
{
    QByteArray header = "x";
    for (int n = 1; n <= files::ThermocoupleCount; ++n)
        if (recording.hasChannel(n))
            header += QByteArray(",") + files::channelName(files::thermocouple(n));
    if (recording.photodiode)
        header += QByteArray(",") + files::channelName(files::ChannelId::FD);
    header += '\n';
    return header;
}

QByteArray csvText(const DecodedRecording &recording)
{
    QByteArray text = csvHeader(recording);
    produceRows(recording, [&text](const char *data, qint64 size) {
        text.append(data, size);
        return true;
    });
    return text;
}

bool writeCsv(const DecodedRecording &recording, QIODevice &device)
{
    const QByteArray header = csvHeader(recording);
    if (device.write(header) != header.size())
        return false;
    return produceRows(recording,
        [&device](const char *data, qint64 size) { return device.write(data, size) == size; });
}

bool writeCsvRows(const DecodedRecording &recording, const CsvSink &sink)
{
    return produceRows(recording, sink);
}

} // namespace sig
