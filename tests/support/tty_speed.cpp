// The baud rate a terminal is set to, read through termios2 (which <termios.h> cannot
// share a file with): the exact rate, non-standard ones included.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

uint32_t TtySpeed(int fd)
{
    struct termios2 t {};
    if (ioctl(fd, TCGETS2, &t) != 0) return 0;
    return t.c_ospeed;
}
