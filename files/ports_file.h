#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/ports/ports_table.h"
#include "core/result.h"

namespace marvalo {

// Beside the monitor's file, never inside Comini.sdx, which stays one line.
inline constexpr const char *kPortsFileName = "marvalo-ports.ini";

struct LoadedPortsTable {
    PortsTable table;
    // False when a file is there but could not be read whole (a folder, a
    // FIFO, no permission, too large): no number can be trusted then, and
    // the file is never saved over. A missing file is the normal first start.
    bool usable = true;
    // What to tell the operator about the file (Spanish), or nothing.
    std::optional<std::string> problem;
};

LoadedPortsTable loadPortsTable(const std::filesystem::path &file);

// One change by one writer: takes the lock file beside the table (waiting
// a few seconds for another writer at most), reads the table again under
// it, applies `change` (true: something changed) and saves atomically. A
// table with damaged lines is first copied aside whole, to FILE.damaged or,
// when that exists, FILE.damaged-YYYYMMDD-HHMMSS (then -2, -3, …): never over an older copy.
// Nothing is saved over a file that could not be read. The table as saved, or why not (Spanish).
using PortsChange = std::function<Result<bool, std::string>(PortsTable &)>;
Result<PortsTable, std::string> changePortsTable(const std::filesystem::path &file,
                                                 const PortsChange &change);

}  // namespace marvalo
