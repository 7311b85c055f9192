#include <termios.h>

#include <array>
#include <utility>

#include "os/line_speed.h"

namespace marvalo {

std::optional<unsigned> standardSpeedCode(int baud) {
    static constexpr std::array<std::pair<int, speed_t>, 13> kSpeeds{{
        {300, B300},
        {600, B600},
        {1200, B1200},
        {2400, B2400},
        {4800, B4800},
        {9600, B9600},
        {19200, B19200},
        {38400, B38400},
        {57600, B57600},
        {115200, B115200},
        {230400, B230400},
        {460800, B460800},
        {921600, B921600},
    }};
    for (const auto &[rate, code] : kSpeeds) {
        if (rate == baud)
            return code;
    }
    return std::nullopt;
}

}  // namespace marvalo
