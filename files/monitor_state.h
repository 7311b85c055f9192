#pragma once

#include <filesystem>
#include <string>

#include "core/result.h"

namespace marvalo {

// Beside the settings, in a file of its own: Comini.sdx stays one line.
inline constexpr const char *kMonitorStateFileName = "marvalo-monitor.ini";

// What the line monitor remembers between runs. Geometry and columns are
// the window's own opaque blobs, in base64.
struct MonitorState {
    std::string geometry;
    std::string columns;
    bool textOnly = false;
    std::string saveFolder;  // where "Guardar…" last saved

    bool operator==(const MonitorState &) const = default;
};

// A missing, damaged or unreadable file gives the defaults: the state is a
// convenience, and the monitor opens all the same.
MonitorState loadMonitorState(const std::filesystem::path &file);
// Atomically, as every file of the program; on failure, why (Spanish).
Result<Done, std::string> saveMonitorState(const std::filesystem::path &file,
                                           const MonitorState &state);

}  // namespace marvalo
