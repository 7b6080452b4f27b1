#pragma once

#include "files/datafile.h"

#include <QByteArray>

// The cycles that ferrun-test-cyclechild stores, for the test that kills it to check.
namespace cyclechild {

// Every 40 cycles the channel interval changes, so that the run goes on in a new journal:
// cycles 0..39 have 100 µs, 40..79 101 µs, ...
inline constexpr int CyclesPerJournal = 40;

inline files::DataFileHeader header(int number)
{
    files::DataFileHeader h;
    h.ChartChannelBits = files::chartChannelBits(0x7F, true);
    h.ChannelIntervalUs = 100 + number / CyclesPerJournal;
    h.ValueScale = files::ValueScale250;
    h.XTitle = QStringLiteral("Время, мкс");
    h.YTitle = QStringLiteral("Температура");
    return h;
}

// Mostly the 3500 bytes of an averaged cycle; every fifth one shorter, so that the data length
// alone does not tell the count.
inline QByteArray cycle(int number)
{
    const qsizetype size = number % 5 == 4 ? 500 * (1 + number % 7) : 3500;
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(number * 131 + i * 7 + (i >> 8));
    return bytes;
}

} // namespace cyclechild
