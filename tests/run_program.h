#pragma once

#include <string>
#include <vector>

namespace marvalo::testing {

struct ProgramRun {
    int status = -1;  // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

// Runs a program to completion with its output captured, no shell involved.
ProgramRun runProgram(const std::vector<std::string> &argv);

}  // namespace marvalo::testing
