#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/result.h"
#include "core/settings/settings_line.h"
#include "files/file_places.h"

namespace marvalo {

// One name for reading and writing: on a case-sensitive file system the
// two spellings would be two files.
inline constexpr const char *kSettingsFileName = "Comini.sdx";

struct LoadedSettings {
    SettingsValues values;
    // Set when a file was there but could not be used, for telling the
    // operator once; the defaults are in `values` then. A missing file is
    // the normal first start and sets nothing.
    std::optional<std::string> problem;
    // Whether the panel may save over it at close: not when something is
    // there that could not be read, which saving would lose.
    bool replaceable = true;
};

// Reads at most a few kilobytes, and only from a regular file: a FIFO, a
// device or a folder in its place is reported, never waited on.
LoadedSettings LoadSettings(const std::filesystem::path &folder);
// The same for a file of any name (a script following a bench's panel).
LoadedSettings loadSettingsFile(const std::filesystem::path &file);

// What the panel tells the operator about a file it could not use: the
// problem, the values it starts from, and what closing will do to the file.
std::string panelSettingsMessage(const LoadedSettings &loaded);

// The line, saved atomically beside the old file (through a link to its
// target), keeping its mode and group.
Result<Done, std::string> SaveSettings(const std::filesystem::path &folder, std::uint8_t linkType,
                                       int portSelection, int addressSelection, int baudSelection,
                                       std::uint8_t protocol);

// The settings file in `folder` with every link followed.
std::filesystem::path resolvedSettingsFile(const std::filesystem::path &folder);

// False when something is there that could not be read (no permission, a
// folder, a FIFO, a device): start-up has said so, and saving over it would
// lose it.
bool settingsFileReplaceable(const std::filesystem::path &folder);

// Temporary files of saves cut off more than a minute ago.
void removeStaleTemporaries(const std::filesystem::path &folder);

// Where the settings are read from and where they will be saved.
using SettingsPlace = FilePlace;
SettingsPlace chooseSettingsPlace(const std::filesystem::path &programFolder);

}  // namespace marvalo
