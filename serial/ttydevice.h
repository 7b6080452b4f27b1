#pragma once

#include "serial/serialport.h"

#include <QString>

// The termios side of the component: the line-settings record, read time-outs and the
// device's queue status on a Linux tty. Every function returns 0 or an errno value.
namespace serial::detail {

// Opens the device for reading and writing without making it the controlling terminal, in
// non-blocking mode, and makes it exclusive: TIOCEXCL keeps other processes out (root
// excepted), an flock keeps out every other holder that locks as well. A device held by
// someone else yields EBUSY.
int openExclusive(const QByteArray &path, int &fd);
// Gives up the exclusive hold and closes the descriptor.
void closeExclusive(int fd);

// Writes the record to the device. Settings Linux cannot give yield EINVAL and change nothing.
int writeLineSettings(int fd, const TLineSettings &settings);
// Takes the terminal out of its line-editing mode: no echo, no CR/LF conversion, no signal or
// flow-control characters, bytes passed on as they arrive. Rate, framing and the modem lines
// stay as they are (they are the line-settings record's business).
int writeRawMode(int fd);
// Reads return at once with what is waiting: VMIN = VTIME = 0.
int writeReadTimeouts(int fd);
// Sets a rate without a Bxxx constant (termios2, BOTHER). In its own translation unit because
// the kernel's termbits header clashes with <termios.h>.
int setCustomRate(int fd, quint32 rate);
// The termios constant for a standard rate, 0 when there is none.
unsigned standardRateConstant(quint32 rate);

// Bytes waiting to be read and, when out is given, to be sent.
int queueCounts(int fd, int &in, int *out);
// Line-error counters of a real UART (TIOCGICOUNT); ENOTTY/EINVAL on devices without them.
struct ErrorCounters
{
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
};
int errorCounters(int fd, ErrorCounters &counters);

// errno values that mean the device itself has gone away.
bool isDeviceGone(int err);

// The system's text for an errno value, trailing blanks, line breaks and full stops removed.
QString systemErrorText(int err);

} // namespace serial::detail
