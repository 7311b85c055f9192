#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "core/result.h"

namespace marvalo {

// Why one of the program's own files could not be read.
struct ReadProblem {
    enum class Kind {
        Missing,     // nothing there: the normal first start
        NotAFile,    // a folder, a FIFO, a device, a socket
        Unreadable,  // the system refused (permission, I/O)
        TooLarge,    // more than the file could ever hold
    };
    Kind kind = Kind::Missing;
    std::string reason;  // Spanish, to follow the file's name: "es una carpeta, no un archivo"
};

// The whole content of a regular file of at most `maxBytes`. A FIFO, a
// device or a folder in its place is reported, never waited on or read
// without end (a link to /dev/zero never ends).
Result<std::string, ReadProblem> readBoundedFile(const std::filesystem::path &file,
                                                 std::size_t maxBytes);

}  // namespace marvalo
