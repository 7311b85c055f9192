#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace marvalo {

// Another process that has the same device open.
struct PortHolder {
    int pid = 0;
    std::string program;  // its /proc/PID/comm: "ModemManager"
};

// The other processes holding `device` open, found as fuser finds them:
// every /proc/PID/fd whose target is the same character device. Processes
// we may not look into are passed over; a device that is no character
// device has none. A process that also holds the controlling side of the
// same pty is the line's far end (a simulated instrument), not a rival.
std::vector<PortHolder> otherHolders(const std::string &device,
                                     const std::filesystem::path &proc = "/proc");

// "el puerto lo tiene abierto también ModemManager (pid 612)", empty for none:
// said beside the verdict, since such a program may eat the reply.
std::string holdersWarning(const std::vector<PortHolder> &holders);

}  // namespace marvalo
