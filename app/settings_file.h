#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/result.h"

namespace marvalo {

// One name for reading and writing: on a case-sensitive file system the
// two spellings would be two files.
inline constexpr const char *kSettingsFileName = "Comini.sdx";

// The five remembered choices, in the order of the settings line.
struct SettingsValues {
    std::uint8_t linkType = 0;
    std::uint8_t portIndex = 0;
    std::uint8_t addressIndex = 1;
    std::uint8_t baudIndex = 3;
    std::uint8_t protocol = 1;

    bool operator==(const SettingsValues &) const = default;
};

// What the panel shows before any file exists: RS232, COM 1, address 01,
// 9600 baud, ISO 1745 (the line "000131").
inline constexpr SettingsValues kDefaultSettings{};

struct LoadedSettings {
    SettingsValues values;
    // Set when a file was there but could not be used, for telling the
    // operator once; the defaults are in `values` then. A missing file is
    // the normal first start and sets nothing.
    std::optional<std::string> problem;
};

// The last item of the file: items end at a comma or a line end, a quoted
// item loses its quotes, blank lines are skipped.
std::string lastSettingsItem(std::string_view content);

// Positions 1 to 6 of the item as the five values; characters after the
// sixth are ignored. On failure, why (Spanish, for the operator).
Result<SettingsValues, std::string> parseSettingsLine(std::string_view item);

// "011732": address always two digits. A list without a selection (-1)
// writes the default for its position, so the file always reads back.
std::string formatSettingsLine(std::uint8_t linkType, int portSelection, int addressSelection,
                               int baudSelection, std::uint8_t protocol);

// Reads at most a few kilobytes, and only from a regular file: a FIFO, a
// device or a folder in its place is reported, never waited on.
LoadedSettings LoadSettings(const std::filesystem::path &folder);
// The same for a file of any name (a script following a bench's panel).
LoadedSettings loadSettingsFile(const std::filesystem::path &file);

// Writes a temporary file beside the old one and renames it into place, so
// a failed or interrupted save leaves the previous settings whole. A link
// named like the file is followed: its target is replaced, and keeps its
// mode and group.
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

// Where the settings are read from and where they will be saved. Both are
// the program's folder when the file there can be replaced. Otherwise the
// saves go to $XDG_CONFIG_HOME/marvalo (~/.config/marvalo), created only
// when saving, and the file is read from there once it exists, until then
// from beside the program.
struct SettingsPlace {
    std::filesystem::path loadFolder;
    std::filesystem::path saveFolder;
};
SettingsPlace chooseSettingsPlace(const std::filesystem::path &programFolder);

}  // namespace marvalo
