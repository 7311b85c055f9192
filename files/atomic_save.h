#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/result.h"

namespace marvalo {

// `file` with every link followed (at most as many as the kernel follows).
std::filesystem::path resolvedFile(const std::filesystem::path &file);

// Writes `content` to a temporary file beside the file (its link's target
// when it is a link, so the link stays a link), then renames it into place:
// a failed or interrupted save leaves the previous file whole, never half of
// it. The new file keeps the old one's mode and, where allowed, its group;
// a new file gets 0644. On failure, why (Spanish, to follow "No se pudo
// guardar …:"). A file-size limit makes the write fail, not the program die.
Result<Done, std::string> saveAtomically(const std::filesystem::path &file,
                                         std::string_view content);

// Temporary files that saves of `fileName` in `folder` left behind more
// than a minute ago (power lost, SIGKILL). Younger ones may be another
// program's save in progress.
void removeStaleTemporaries(const std::filesystem::path &folder, const std::string &fileName);

}  // namespace marvalo
