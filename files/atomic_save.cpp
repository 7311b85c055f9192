#include "files/atomic_save.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "core/text/system_error_text.h"
#include "os/file_descriptor.h"
#include "os/write_all.h"

namespace marvalo {
namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel allows
constexpr const char *kTemporarySuffix = ".XXXXXX";
constexpr std::size_t kRandomPart = 6;  // mkstemp's XXXXXX

std::string because(const std::string &what, int err) {
    return what + ": " + systemErrorText(err);
}

}  // namespace

std::filesystem::path resolvedFile(const std::filesystem::path &file) {
    std::filesystem::path current = file;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        std::error_code failed;
        if (!std::filesystem::is_symlink(current, failed))
            return current;
        const std::filesystem::path next = std::filesystem::read_symlink(current, failed);
        if (failed)
            return current;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current;
}

Result<Done, std::string> saveAtomically(const std::filesystem::path &file,
                                         std::string_view content) {
    // Past RLIMIT_FSIZE the kernel sends SIGXFSZ, whose default kills the
    // process; ignored, the write fails with EFBIG and the save says so.
    ::signal(SIGXFSZ, SIG_IGN);
    const std::filesystem::path target = resolvedFile(file);
    const std::filesystem::path folder = target.parent_path();
    std::string temporary = target.string() + kTemporarySuffix;
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (!fd.valid())
        return because("no se pudo crear un archivo en la carpeta", errno);
    auto discard = [&](const std::string &what, int err) -> Result<Done, std::string> {
        ::unlink(temporary.c_str());
        return because(what, err);
    };

    if (const auto written = os::writeAll(fd.get(), content.data(), content.size());
        written.error != 0)
        return discard("no se pudo escribir", written.error);
    // mkstemp creates 0600; a bench whose file was made group-writable or
    // read-protected stays that way, and a new file is no secret.
    constexpr mode_t kNewFileMode = 0644;
    constexpr mode_t kPermissionBits = 07777;
    if (struct stat old{}; ::stat(target.c_str(), &old) == 0) {
        ::fchmod(fd.get(), old.st_mode & kPermissionBits);
        (void)::fchown(fd.get(), static_cast<uid_t>(-1), old.st_gid);  // allowed or not
    } else {
        ::fchmod(fd.get(), kNewFileMode);
    }
    if (::fsync(fd.get()) != 0)
        return discard("no se pudo escribir en el disco", errno);
    fd.reset();
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        return discard("no se pudo reemplazar el archivo", errno);
    // The rename itself must reach the disk too.
    if (FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        dir.valid()) {
        ::fsync(dir.get());
    }
    return Done{};
}

void removeStaleTemporaries(const std::filesystem::path &folder, const std::string &fileName) {
    constexpr auto kStale = std::chrono::minutes(1);
    const std::string prefix = fileName + ".";
    std::error_code failed;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const auto &entry : std::filesystem::directory_iterator(folder, failed)) {
        const std::string name = entry.path().filename().string();
        if (name.size() != prefix.size() + kRandomPart || name.rfind(prefix, 0) != 0 ||
            !entry.is_regular_file(failed) || entry.is_symlink(failed))
            continue;
        const auto modified = entry.last_write_time(failed);
        if (!failed && now - modified > kStale)
            std::filesystem::remove(entry.path(), failed);
    }
}

}  // namespace marvalo
