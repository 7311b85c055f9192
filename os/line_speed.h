#pragma once

#include <optional>

namespace marvalo {

// A rate termios names with a constant (B300 .. B921600), as the speed_t
// cfsetispeed takes; nullopt for any other rate, which only the custom-rate
// call below can set.
std::optional<unsigned> standardSpeedCode(int baud);

// The outcome of a system call on the line's rate: the rate in force, or
// the errno that refused it.
struct LineSpeed {
    int baud = 0;
    int error = 0;  // errno; 0 when baud is the rate in force
};

// Any other rate, set on an open tty after tcsetattr has set the rest
// (termios2: BOTHER and the rate in c_ispeed/c_ospeed, TCSETS2), then read
// back: a driver rounds to what its clock divides to, so the caller
// compares.
LineSpeed setCustomSpeed(int fd, int baud);

// The rate a tty is at now, whatever way it was set (TCGETS2). On a pty's
// controller end, the rate the other end set.
LineSpeed currentSpeed(int fd);

}  // namespace marvalo
