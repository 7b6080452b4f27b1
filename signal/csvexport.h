#pragma once

#include "signal/chartdecoder.h"

#include <QByteArray>
#include <functional>

class QIODevice;

namespace sig {

// A decoded recording as comma-separated text: a header line "x,T1,..." naming the drawn
// channels in ascending order (then "FD" when the photodiode line is drawn) and one row per
// drawn frame with exactly the X and Y values the chart series receive. Each number is
// written in the shortest form that reads back to the same binary64 (formatNumber), with a
// point as decimal separator; lines end with LF.
QByteArray csvHeader(const DecodedRecording &recording);
QByteArray csvText(const DecodedRecording &recording);
// Streams the text in pieces; false when the device refuses a write.
bool writeCsv(const DecodedRecording &recording, QIODevice &device);

// Takes bytes of the text; false stops the writing.
using CsvSink = std::function<bool(const char *data, qint64 size)>;
// The rows of the points the recording holds, in pieces of about 64 KiB: all rows of a
// whole decode, or the rows of one piece of a recording decoded in pieces (ChartStream),
// so that the header and the rows of every piece make the same text as csvText of the
// whole. False when `sink` refused a piece.
bool writeCsvRows(const DecodedRecording &recording, const CsvSink &sink);

// The shortest text of a number that reads back to the same value: fixed-point from 1e-7 up
// to 1e21 (every value of a recording's axes lies there, as do 0, infinities and NaN), the
// exponent form ("1e+308", "5e-324") beyond, where fixed-point would take hundreds of digits.
QByteArray formatNumber(double value);

} // namespace sig
