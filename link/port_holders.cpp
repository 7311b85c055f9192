#include "link/port_holders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "os/file_descriptor.h"

namespace marvalo {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxCommBytes = 64;  // the kernel keeps 16

std::string programOf(const fs::path &process) {
    FileDescriptor fd(::open((process / "comm").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    std::string name(kMaxCommBytes, '\0');
    const ssize_t n = fd.valid() ? ::read(fd.get(), name.data(), name.size()) : -1;
    name.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    name = name.substr(0, name.find('\n'));
    return name.empty() ? "un programa" : name;
}

}  // namespace

std::vector<PortHolder> otherHolders(const std::string &device, const fs::path &proc) {
    std::vector<PortHolder> holders;
    struct stat wanted {};
    if (::stat(device.c_str(), &wanted) != 0 || !S_ISCHR(wanted.st_mode))
        return holders;
    const std::string self = std::to_string(::getpid());
    std::error_code failed;
    for (const auto &process : fs::directory_iterator(proc, failed)) {
        const std::string pid = process.path().filename().string();
        if (pid.empty() || !std::ranges::all_of(pid, ::isdigit) || pid == self)
            continue;
        std::error_code denied;
        for (const auto &fd : fs::directory_iterator(process.path() / "fd", denied)) {
            struct stat held {};
            if (::stat(fd.path().c_str(), &held) == 0 && S_ISCHR(held.st_mode) &&
                held.st_rdev == wanted.st_rdev) {
                holders.push_back({std::stoi(pid), programOf(process.path())});
                break;
            }
        }
    }
    std::ranges::sort(holders, {}, &PortHolder::pid);
    return holders;
}

std::string holdersWarning(const std::vector<PortHolder> &holders) {
    std::string names;
    for (std::size_t i = 0; i < holders.size(); ++i) {
        names += i == 0 ? "" : i + 1 == holders.size() ? " y " : ", ";
        names += holders[i].program + " (pid " + std::to_string(holders[i].pid) + ")";
    }
    return names.empty() ? names
                         : "el puerto lo tiene abierto también " + names +
                               ", que puede llevarse la respuesta";
}

}  // namespace marvalo
