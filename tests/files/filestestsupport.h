#pragma once

#include "files/datafile.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <gtest/gtest.h>

// Helpers shared by the data file, browsing and catalogue tests.
namespace filestest {

inline void writeBytes(const QString &name, const QByteArray &bytes)
{
    QFile f(name);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << qPrintable(name);
    ASSERT_EQ(f.write(bytes), bytes.size());
}

inline QByteArray readBytes(const QString &name)
{
    QFile f(name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

inline files::DataFileHeader recordingHeader()
{
    files::DataFileHeader h;
    h.ChartChannelBits = files::chartChannelBits(0x07, false);
    h.ChannelIntervalUs = 3055 / 14.7456 * 3;
    h.ValueScale = files::valueScaleForRange(0);
    h.XTitle = QStringLiteral("Время, мкс");
    h.YTitle = QStringLiteral("Температура");
    return h;
}

// A data file of `dataSize` bytes of data with `comment`.
inline void writeDataFile(const QString &name, const QString &comment, int dataSize = 100)
{
    writeBytes(name, files::encodeDataFile(recordingHeader(), QByteArray(dataSize, 'd'), comment));
}

// A file of the same extension that is not this program's.
inline void writeForeignFile(const QString &name)
{
    writeBytes(name, QByteArray::fromHex("0200100107") + QByteArray(100, 'x'));
}

} // namespace filestest
