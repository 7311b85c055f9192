#include "os/host_name.h"

#include <unistd.h>

namespace marvalo::os {

std::string hostName() {
    // One byte more than gethostname may fill: a name cut at the buffer's
    // end has no NUL of its own.
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    return name;
}

}  // namespace marvalo::os
