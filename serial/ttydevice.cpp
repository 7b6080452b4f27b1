#include "serial/ttydevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace serial::detail {

namespace {

struct RateConstant
{
    quint32 rate;
    speed_t constant;
};

constexpr RateConstant rateConstants[] = {
    { 50, B50 },
    { 75, B75 },
    { 110, B110 },
    { 134, B134 },
    { 150, B150 },
    { 200, B200 },
    { 300, B300 },
    { 600, B600 },
    { 1200, B1200 },
    { 1800, B1800 },
    { 2400, B2400 },
    { 4800, B4800 },
    { 9600, B9600 },
    { 19200, B19200 },
    { 38400, B38400 },
    { 57600, B57600 },
    { 115200, B115200 },
    { 230400, B230400 },
    { 460800, B460800 },
    { 500000, B500000 },
    { 576000, B576000 },
    { 921600, B921600 },
    { 1000000, B1000000 },
    { 1152000, B1152000 },
    { 1500000, B1500000 },
    { 2000000, B2000000 },
    { 2500000, B2500000 },
    { 3000000, B3000000 },
    { 3500000, B3500000 },
    { 4000000, B4000000 },
};

// Sets or clears one modem line. Devices without modem lines (pseudo-terminals) answer
// ENOTTY, which is no error: there is simply no line to drive.
// tcsetattr() of glibc fails with EINVAL when a pseudo-terminal drops the parity bits it never
// has; the kernel's own TCSETS takes glibc's struct termios as it is (same leading layout).
int writeTermios(int fd, const termios &tio)
{
    if (ioctl(fd, TCSETS, &tio) < 0)
        return errno;
    return 0;
}

// Unix98 pseudo-terminal slaves have majors 136..143. They carry no framing: the kernel forces
// eight bits without parity, so framing read back from them is not compared.
bool isPseudoTerminal(int fd)
{
    struct stat st;
    if (fstat(fd, &st) < 0)
        return false;
    const unsigned maj = major(st.st_rdev);
    return S_ISCHR(st.st_mode) && maj >= 136 && maj <= 143;
}

int setModemLine(int fd, int line, bool on)
{
    if (ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) < 0 && errno != ENOTTY)
        return errno;
    return 0;
}

} // namespace

int openExclusive(const QByteArray &path, int &fd)
{
    fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int err = 0;
    if (!isatty(fd))
        err = errno ? errno : ENOTTY;
    else if (flock(fd, LOCK_EX | LOCK_NB) < 0)
        err = (errno == EWOULDBLOCK) ? EBUSY : errno;
    else if (ioctl(fd, TIOCEXCL) < 0)
        err = errno;
    if (err) {
        ::close(fd);
        fd = -1;
    }
    return err;
}

void closeExclusive(int fd)
{
    if (fd < 0)
        return;
    ioctl(fd, TIOCNXCL);
    ::close(fd);
}

unsigned standardRateConstant(quint32 rate)
{
    for (const auto &entry : rateConstants)
        if (entry.rate == rate)
            return entry.constant;
    return 0;
}

int writeLineSettings(int fd, const TLineSettings &settings)
{
    // What termios has no equivalent for is refused before anything is changed.
    const quint32 flags = settings.Flags;
    if (settings.BaudRate == 0 || settings.ByteSize < 5 || settings.ByteSize > 8
        || settings.Parity > 2 || settings.StopBits == 1 || settings.StopBits > 2
        || (flags & lfDtrMask) == lfDtrHandshake || (flags & lfDtrMask) == lfDtrMask
        || (flags & lfRtsMask) == lfRtsHandshake || (flags & lfRtsMask) == lfRtsToggle
        || (flags & (lfOutxDsrFlow | lfDsrSensitivity | lfErrorChar | lfNull)))
        return EINVAL;

    termios tio;
    if (tcgetattr(fd, &tio) < 0)
        return errno;
    cfmakeraw(&tio);
    tio.c_iflag &= ~(IGNPAR | INPCK | IXON | IXOFF | IXANY);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (settings.ByteSize) {
    case 5:
        tio.c_cflag |= CS5;
        break;
    case 6:
        tio.c_cflag |= CS6;
        break;
    case 7:
        tio.c_cflag |= CS7;
        break;
    default:
        tio.c_cflag |= CS8;
        break;
    }
    if (settings.Parity == 1)
        tio.c_cflag |= PARENB | PARODD;
    else if (settings.Parity == 2)
        tio.c_cflag |= PARENB;
    if (settings.StopBits == 2)
        tio.c_cflag |= CSTOPB;
    if (flags & lfParity)
        tio.c_iflag |= INPCK;
    if (flags & lfOutxCtsFlow)
        tio.c_cflag |= CRTSCTS;
    if (flags & lfOutX)
        tio.c_iflag |= IXON;
    if (flags & lfInX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(settings.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(settings.XoffChar);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    const speed_t constant = standardRateConstant(settings.BaudRate);
    cfsetispeed(&tio, constant ? constant : B38400);
    cfsetospeed(&tio, constant ? constant : B38400);
    if (int err = writeTermios(fd, tio))
        return err;
    // A driver that cannot give the framing adjusts it silently: compare what it took.
    const tcflag_t framing = CSIZE | PARENB | PARODD | CSTOPB;
    termios taken;
    if (!isPseudoTerminal(fd) && tcgetattr(fd, &taken) == 0
        && (taken.c_cflag & framing) != (tio.c_cflag & framing))
        return EINVAL;
    if (!constant) {
        if (int err = setCustomRate(fd, settings.BaudRate))
            return err;
    }
    if (int err = setModemLine(fd, TIOCM_DTR, (flags & lfDtrMask) == lfDtrEnable))
        return err;
    if (int err = setModemLine(fd, TIOCM_RTS, (flags & lfRtsMask) == lfRtsEnable))
        return err;
    return 0;
}

int writeRawMode(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) < 0)
        return errno;
    tio.c_iflag &= ~tcflag_t(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON
        | IXOFF | IXANY | IUCLC | IMAXBEL);
    tio.c_oflag &= ~tcflag_t(OPOST);
    tio.c_lflag
        &= ~tcflag_t(ECHO | ECHONL | ECHOE | ECHOK | ECHOCTL | ECHOKE | ICANON | ISIG | IEXTEN);
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return writeTermios(fd, tio);
}

int writeReadTimeouts(int fd)
{
    termios tio;
    if (tcgetattr(fd, &tio) < 0)
        return errno;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return writeTermios(fd, tio);
}

int queueCounts(int fd, int &in, int *out)
{
    in = 0;
    if (out)
        *out = 0;
    if (ioctl(fd, TIOCINQ, &in) < 0 || (out && ioctl(fd, TIOCOUTQ, out) < 0)) {
        const int err = errno;
        in = 0;
        if (out)
            *out = 0;
        return err;
    }
    return 0;
}

int errorCounters(int fd, ErrorCounters &counters)
{
    serial_icounter_struct icount;
    std::memset(&icount, 0, sizeof icount);
    if (ioctl(fd, TIOCGICOUNT, &icount) < 0)
        return errno;
    counters.frame = icount.frame;
    counters.overrun = icount.overrun;
    counters.parity = icount.parity;
    counters.brk = icount.brk;
    counters.bufOverrun = icount.buf_overrun;
    return 0;
}

bool isDeviceGone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE;
}

QString systemErrorText(int err)
{
    char buffer[256];
    const char *text = strerror_r(err, buffer, sizeof buffer);
    QByteArray bytes(text);
    while (
        !bytes.isEmpty() && (static_cast<unsigned char>(bytes.back()) < '!' || bytes.back() == '.'))
        bytes.chop(1);
    return QString::fromLocal8Bit(bytes);
}

} // namespace serial::detail
