#pragma once

#include <optional>
#include <string>

#include "core/ports/ports_table.h"
#include "core/result.h"

namespace marvalo {

class BenchPorts;

// What F3 does, from the command line: --assign-port N DEVICE|SERIAL|by-id
// path, --free-port N, --swap-ports N M, --bind-port N usb-port|adapter.
struct PortCommand {
    enum class Kind { Assign, Free, Swap, Bind };
    Kind kind = Kind::Free;
    int number = 0;
    int other = 0;       // Swap
    std::string target;  // Assign: what names the adapter
    Binding binding = Binding::Adapter;
};

// The option at argv[i], when it is one of the four: how many words it
// took, 0 when it is none of them, or why it is wrong (Spanish).
Result<int, std::string> takePortCommand(std::optional<PortCommand> &command, int argc, char **argv,
                                         int i);

// Applies it through the table's locked merge and prints the result and
// the listing; the exit status (0, or 4 when refused).
int runPortCommand(const PortCommand &command, BenchPorts &ports);

}  // namespace marvalo
