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

// Where the table is read from and saved to; both programs find it by one
// rule. Beside the program when it is a copy unpacked in a folder of the
// user's own. An installed or read-only copy reads the table beside it
// until a per-user copy exists, and its first change saves that copy
// (starting from the table beside it), read from then on. In a build tree
// the panel (app/) and marvalo-send (tools/) share one table at the tree's
// top, beside CMakeCache.txt.
struct PortsTablePlace {
    std::filesystem::path beside;
    std::filesystem::path own;  // where changes are saved; the same file when beside
    // The file that counts now: the per-user copy once it exists.
    std::filesystem::path inUse() const;
};
PortsTablePlace portsTablePlace(const std::filesystem::path &programFolder);

LoadedPortsTable loadPortsTable(const std::filesystem::path &file);

// One change by one writer: takes the lock file beside the table (waiting
// a few seconds for another writer at most), reads the table again under
// it, applies `change` (true: something changed) and saves atomically. A
// table with damaged lines is first copied aside whole, to FILE.damaged or,
// when that exists, FILE.damaged-YYYYMMDD-HHMMSS (then -2, -3, …): never over an older copy.
// Nothing is saved over a file that could not be read. The table as saved, or why not (Spanish).
using PortsChange = std::function<Result<bool, std::string>(PortsTable &)>;
Result<PortsTable, std::string> changePortsTable(const PortsTablePlace &place,
                                                 const PortsChange &change);
inline Result<PortsTable, std::string> changePortsTable(const std::filesystem::path &file,
                                                        const PortsChange &change) {
    return changePortsTable(PortsTablePlace{file, file}, change);
}

}  // namespace marvalo
