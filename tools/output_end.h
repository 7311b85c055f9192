#pragma once

#include <string_view>

namespace marvalo {

// A program's end with its standard output checked: when it took no more
// (> /dev/full), a sentence on stderr and `lostStatus`, never a silent
// success; a reader that left (| head) is no fault, and `status` stands.
int endOfOutput(std::string_view program, int status, int lostStatus);

}  // namespace marvalo
