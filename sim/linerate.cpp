// Only the kernel's termbits here: <asm/termbits.h> and <termios.h> cannot share a unit.
#include "sim/linerate.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace sim {

long lineRate(int fd)
{
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) < 0)
        return -1;
    if ((tio.c_cflag & CBAUD) == BOTHER)
        return long(tio.c_ospeed);
    switch (tio.c_cflag & CBAUD) {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        // Another constant: a rate the board does not run at either; the kernel keeps the
        // exact figure in c_ospeed for every constant.
        return long(tio.c_ospeed);
    }
}

} // namespace sim
