// Only the kernel's termbits here: <asm/termbits.h> and <termios.h> cannot share a unit.
#include <QtGlobal>
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace serial::detail {

int setCustomRate(int fd, quint32 rate)
{
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) < 0)
        return errno;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_cflag &= ~(CBAUD << IBSHIFT); // input rate follows the output rate
    tio.c_ospeed = rate;
    tio.c_ispeed = rate;
    if (ioctl(fd, TCSETS2, &tio) < 0)
        return errno;
    return 0;
}

} // namespace serial::detail
