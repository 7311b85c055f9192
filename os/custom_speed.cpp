// termios2 lives in the kernel's own header, which clashes with glibc's
// <termios.h>: this file must never include it.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "os/line_speed.h"

namespace marvalo {
namespace {

LineSpeed readBack(int fd) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return {0, errno};
    return {static_cast<int>(tio.c_ospeed), 0};
}

}  // namespace

LineSpeed setCustomSpeed(int fd, int baud) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0)
        return {0, errno};
    // Input at the output's rate: CIBAUD cleared means "the same".
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    if (::ioctl(fd, TCSETS2, &tio) != 0)
        return {0, errno};
    return readBack(fd);
}

LineSpeed currentSpeed(int fd) {
    return readBack(fd);
}

}  // namespace marvalo
