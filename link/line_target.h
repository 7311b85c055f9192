#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "core/net/server_address.h"

namespace marvalo {

// What one exchange's line is, resolved once at its start and used by the
// open, the write, the record, the capture, the other-holder check and
// every message alike: an adapter (its device node and the device number
// sysfs gave for that node) or a serial server's address.
struct LineTarget {
    std::string path;                           // "/dev/ttyUSB0", "rfc2217://host:4000"
    std::optional<dev_t> deviceNumber;          // sysfs's "dev" for the node, when known
    std::string label;                          // "COM 3 (FTDI FT232R USB UART, …)": messages
    bool kernelRs485 = false;                   // the driver is to switch the transceiver
    std::optional<int> commPort;                // the number it came through, for advice only
    std::optional<net::ServerAddress> address;  // set when the line is a serial server

    // The same line: a backend open on `other` may go on serving this one.
    bool sameLine(const LineTarget &other) const {
        return path == other.path && deviceNumber == other.deviceNumber &&
               kernelRs485 == other.kernelRs485;
    }
};

}  // namespace marvalo
