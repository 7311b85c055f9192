#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace marvalo {

// $XDG_CONFIG_HOME/marvalo, else ~/.config/marvalo; none without a home.
std::optional<std::filesystem::path> userConfigFolder();

// A folder the system or its package manager installs programs into
// (/usr, /opt, /bin, /sbin, /lib*, /snap, /nix and below). Nothing of the
// user's belongs there, even when the user is root and could write it:
// removing the package would leave it behind.
bool isSystemFolder(const std::filesystem::path &folder);

// Where one of the program's own files is read from and saved to. A copy
// unpacked in a folder of the user's own keeps its files beside itself, as
// the panel always did. An installed program, or one whose folder cannot
// be written, saves in the user's config folder (created only when saving)
// and reads from there once a file exists there, until then from beside
// the program, so a bench's own file still counts.
struct FilePlace {
    std::filesystem::path loadFolder;
    std::filesystem::path saveFolder;
    // Said once: the file beside the program is a link to nothing, so
    // saves go elsewhere.
    std::optional<std::string> notice;
};
FilePlace chooseFilePlace(const std::filesystem::path &programFolder, const std::string &fileName);

}  // namespace marvalo
