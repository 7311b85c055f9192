#include "files/bounded_read.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <vector>

#include "core/text/system_error_text.h"
#include "os/file_descriptor.h"

namespace marvalo {
namespace {

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode))
        return "una carpeta";
    if (S_ISFIFO(mode))
        return "una tubería (FIFO)";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "un dispositivo";
    if (S_ISSOCK(mode))
        return "un socket";
    return "algo que no es un archivo normal";
}

ReadProblem problem(ReadProblem::Kind kind, std::string reason) {
    return ReadProblem{kind, std::move(reason)};
}

}  // namespace

Result<std::string, ReadProblem> readBoundedFile(const std::filesystem::path &file,
                                                 std::size_t maxBytes) {
    // O_NONBLOCK: a FIFO in the file's place must not hang the start.
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        const int err = errno;
        if (err == ENOENT)
            return problem(ReadProblem::Kind::Missing, "no existe");
        return problem(ReadProblem::Kind::Unreadable, "no se pudo leer: " + spanishErrorText(err));
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return problem(ReadProblem::Kind::NotAFile,
                       "es " + kindOf(info.st_mode) + ", no un archivo");
    }
    std::string content;
    std::vector<char> chunk(maxBytes + 1);
    while (content.size() <= maxBytes) {
        const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            return problem(ReadProblem::Kind::Unreadable,
                           "no se pudo leer hasta el final: " + spanishErrorText(errno));
        }
        if (n == 0)
            break;
        content.append(chunk.data(), static_cast<std::size_t>(n));
    }
    if (content.size() > maxBytes) {
        return problem(ReadProblem::Kind::TooLarge,
                       "ocupa más de " + std::to_string(maxBytes) + " bytes");
    }
    return content;
}

}  // namespace marvalo
