#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace marvalo {

class Form1;

// The window's load: fill the tables and the address list, choose the first
// Modbus function, load the settings, and set the lists' selections so their
// own handlers configure the port and the captions; last, the protocol view.
// Returns the settings file's problem, if any, for telling the operator
// once the window shows.
std::optional<std::string> startUp(Form1 &form, const std::filesystem::path &settingsFolder);

// The window's unload: save the live selections, then let the port go. A
// failed save is reported and the window closes all the same.
void connectShutdown(Form1 &form, const std::filesystem::path &settingsFolder);

}  // namespace marvalo
