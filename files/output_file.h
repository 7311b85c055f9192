#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/result.h"

namespace marvalo {

// Where a report or a capture goes, checked before a run sends anything.
struct OutputFile {
    std::filesystem::path path;
    // A character device, a FIFO, or our own stdout/stderr by another name
    // (/dev/stdout, /proc/self/fd/1): written to in place, appending, never
    // replaced. Else a regular file (or none yet) saved atomically.
    bool stream = false;
};

// Whether `path` can take the output: a stream that opens for writing, or a
// regular file or no file in a folder where a file can be made (tried, not
// guessed from modes: root and read-only mounts see past them). On refusal,
// why, in Spanish, to follow "no se puede escribir en \"PATH\":".
Result<OutputFile, std::string> checkOutputFile(const std::filesystem::path &path);

// Writes `content` whole: a stream in place, a file atomically. On failure,
// why (Spanish).
Result<Done, std::string> writeOutputFile(const OutputFile &output, std::string_view content);

// Whether two paths reach the same thing: one file, or one character
// device under two names (a pty's /dev/pts/N and a symlink to it).
bool sameFileOrDevice(const std::filesystem::path &a, const std::filesystem::path &b);

}  // namespace marvalo
