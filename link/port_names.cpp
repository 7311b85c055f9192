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

}  // namespace marvalo
