#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace marvalo::testing {

struct ProgramRun {
    int status = -1;  // exit status, or -1 when it did not exit normally
    int signal = 0;   // the signal that ended it, if one did
    std::string out;
    std::string err;
    long maxResidentKb = 0;
    long msFromSignalToExit = -1;  // with RunControl::signalAfterMs
};

// What a test does to a program while it runs, as an operator or a shell
// would: close its output after the first line (`| head -n 1`), or send it
// a signal after a while (Ctrl-C, kill).
struct RunControl {
    bool closeOutputAfterFirstLine = false;
    std::optional<int> signalAfterMs = std::nullopt;
    int signal = 0;
    // More signals, each (milliseconds after the one before, signal):
    // SIGSTOP then SIGCONT. msFromSignalToExit counts from the last.
    std::vector<std::pair<int, int>> thenSignals = {};
    // Its stdout a pipe that is never read, as a stalled `| less` is.
    bool outputNeverRead = false;
};

// Runs a program to completion with its output captured, no shell involved.
ProgramRun runProgram(const std::vector<std::string> &argv, const RunControl &control = {});

}  // namespace marvalo::testing
