#pragma once

#include "signal/chartdecoder.h"

#include <QByteArray>

class QIODevice;

namespace sig {

// A decoded recording as comma-separated text: a header line "x,T1,..." naming the drawn
// channels in ascending order (then "FD" when the photodiode line is drawn) and one row per
// drawn frame with exactly the X and Y values the chart series receive. Each number is
// written in the shortest fixed-point form that reads back to the same binary64, with a
// point as decimal separator; lines end with LF.
QByteArray csvHeader(const DecodedRecording &recording);
QByteArray csvText(const DecodedRecording &recording);
// Streams the text in pieces; false when the device refuses a write.
bool writeCsv(const DecodedRecording &recording, QIODevice &device);

// Shortest fixed-point text of a number that reads back to the same value.
QByteArray formatNumber(double value);

} // namespace sig
