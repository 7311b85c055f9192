#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "core/ports/ports_table.h"
#include "core/result.h"

namespace marvalo {

// Beside the monitor's file, never inside Comini.sdx, which stays one line.
inline constexpr const char *kPortsFileName = "marvalo-ports.ini";

struct LoadedPortsTable {
    PortsTable table;
    // A file that was there but could not be used: told once, and the
    // table starts empty and is saved over it. A missing file is the
    // normal first start.
    std::optional<std::string> problem;
};

LoadedPortsTable loadPortsTable(const std::filesystem::path &file);
// Atomically, as every file of the program; on failure, why (Spanish).
Result<Done, std::string> savePortsTable(const std::filesystem::path &file,
                                         const PortsTable &table);

}  // namespace marvalo
