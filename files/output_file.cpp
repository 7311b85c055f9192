#include "files/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

#include "core/text/system_error_text.h"
#include "files/atomic_save.h"
#include "os/file_descriptor.h"

namespace marvalo {
namespace {

bool sameFile(const struct stat &a, int fd) {
    struct stat b {};
    return ::fstat(fd, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A file can be made there: the folder exists, is a folder, and takes a
// new file (made and removed at once).
std::optional<std::string> folderProblem(std::filesystem::path folder) {
    if (folder.empty())
        folder = ".";
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0)
        return "su carpeta: " + systemErrorText(errno);
    if (!S_ISDIR(info.st_mode))
        return "lo que debería ser su carpeta no es una carpeta";
    const std::string probe = (folder / ".marvalo-probe-XXXXXX").string();
    std::string name = probe;
    FileDescriptor made(::mkstemp(name.data()));
    if (!made.valid())
        return "no se pueden crear archivos en su carpeta (" + systemErrorText(errno) + ")";
    ::unlink(name.c_str());
    return std::nullopt;
}

Result<Done, std::string> writeStream(const std::filesystem::path &path, std::string_view content) {
    // O_APPEND: /dev/stdout onto a file would otherwise start over at its
    // first byte, on top of what was printed already.
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid())
        return systemErrorText(errno);
    while (!content.empty()) {
        const ssize_t written = ::write(fd.get(), content.data(), content.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return systemErrorText(errno);
        content.remove_prefix(static_cast<std::size_t>(written));
    }
    return Done{};
}

}  // namespace

Result<OutputFile, std::string> checkOutputFile(const std::filesystem::path &path) {
    if (path.empty())
        return std::string("no es un nombre de archivo");
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT)
            return systemErrorText(errno);
        const std::filesystem::path folder =
            path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
        if (auto problem = folderProblem(folder))
            return *problem;
        return OutputFile{path, false};
    }
    if (S_ISDIR(info.st_mode))
        return std::string("es una carpeta, no un archivo");
    const bool ownOutput = sameFile(info, STDOUT_FILENO) || sameFile(info, STDERR_FILENO);
    if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode) || ownOutput) {
        // Asked, not opened: opening a FIFO now would end its reader's
        // stream before the report is in it.
        if (::access(path.c_str(), W_OK) != 0)
            return systemErrorText(errno);
        return OutputFile{path, true};
    }
    if (!S_ISREG(info.st_mode))
        return std::string("no es un archivo normal, un dispositivo de caracteres ni una tubería");
    if (::access(path.c_str(), W_OK) != 0)
        return systemErrorText(errno);
    if (auto problem = folderProblem(resolvedFile(path).parent_path()))
        return *problem;
    return OutputFile{path, false};
}

Result<Done, std::string> writeOutputFile(const OutputFile &output, std::string_view content) {
    if (output.stream)
        return writeStream(output.path, content);
    return saveAtomically(output.path, content);
}

bool sameFileOrDevice(const std::filesystem::path &a, const std::filesystem::path &b) {
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0)
        return false;
    if (S_ISCHR(first.st_mode) && S_ISCHR(second.st_mode))
        return first.st_rdev == second.st_rdev;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

}  // namespace marvalo
