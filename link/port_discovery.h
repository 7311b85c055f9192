#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/ports/serial_adapter.h"

namespace marvalo {

// Where the kernel's view of the devices is read from. Real machines use
// /sys and /dev; MARVALO_SYSFS_ROOT and MARVALO_DEV_ROOT point elsewhere,
// for tests with fabricated trees and for unusual systems.
struct DiscoveryRoots {
    std::filesystem::path sysfs = "/sys";
    std::filesystem::path dev = "/dev";
    static DiscoveryRoots fromEnvironment();
};

// The serial ports that are present, in kernel-name order: USB adapters
// (ttyUSB*, ttyACM*) and on-board UARTs that really have one behind them.
// Left out: 8250 ports whose sysfs "type" reads 0 (no UART, yet /dev/ttyS0
// to ttyS3 exist on most PCs), ptys and virtual consoles. The system
// console is marked.
std::vector<SerialAdapter> discoverSerialPorts(const DiscoveryRoots &roots);

// The device number sysfs gives the tty `kernelName` ("188:0" in its
// "dev"), for checking the node that is opened by name; none when sysfs
// has no such entry.
std::optional<dev_t> deviceNumberOf(const DiscoveryRoots &roots, const std::string &kernelName);

}  // namespace marvalo
