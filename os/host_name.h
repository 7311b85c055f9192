#pragma once

#include <string>

namespace marvalo::os {

// This machine's name as gethostname(2) gives it, for reports that say
// where they ran; "localhost" when it cannot be had.
std::string hostName();

}  // namespace marvalo::os
