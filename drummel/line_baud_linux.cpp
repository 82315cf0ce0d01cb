// Any baud rate on Linux: termios2 with BOTHER, through TCSETS2.  <asm/termbits.h>
// cannot share a file with <termios.h>, hence this file of its own.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

// Asks for `baud` in both directions and reads back the rate the driver took (drivers
// round to what their clock can make).  False when the driver refuses the request.
bool Baud_SetAny(int fd, uint32_t baud, uint32_t *actual)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &t) != 0) return false;
    if (ioctl(fd, TCGETS2, &t) != 0) return false;
    *actual = t.c_ospeed;
    return true;
}
