#pragma once

#include <optional>
#include <span>
#include <string>

#include "core/ports/ports_table.h"
#include "core/result.h"
#include "core/text/option_table.h"

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

// The four options, each giving at most one change.
std::span<const OptionRow<std::optional<PortCommand>>> portCommandOptions();

// Applies it through the table's locked merge and prints the result and
// the listing; the exit status (0, or 4 when refused).
int runPortCommand(const PortCommand &command, BenchPorts &ports);

}  // namespace marvalo
