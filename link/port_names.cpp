#include "link/port_names.h"

#include <cstdlib>

namespace marvalo {

std::string devicePathFor(int commPort) {
    const std::string variable = "MARVALO_COM" + std::to_string(commPort);
    if (const char *mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0') {
        return mapped;
    }
    return "/dev/ttyS" + std::to_string(commPort - 1);
}

std::string describePort(int commPort) {
    return "COM " + std::to_string(commPort) + " (" + devicePathFor(commPort) + ")";
}

std::string MappedDevice::text() const {
    // A serial server's name is its address: said once.
    std::string shown = name.empty() || name == path ? path : name + ", " + path;
    if (latencyTimerMs)
        shown += ", latencia " + std::to_string(*latencyTimerMs) + " ms";
    return shown;
}

Result<MappedDevice, std::string> EnvironmentPortMap::resolve(int commPort) {
    return MappedDevice{
        devicePathFor(commPort), "", false, std::nullopt, std::nullopt, std::nullopt};
}

}  // namespace marvalo
