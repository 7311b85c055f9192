#include "link/port_holders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
#include <optional>

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

// Unix 98 pty devices (/dev/pts/N) have majors 136..143, 256 minors each.
constexpr unsigned kFirstPtsMajor = 136;
constexpr unsigned kLastPtsMajor = 143;
constexpr unsigned kMinorsPerMajor = 256;

std::optional<unsigned> ptsIndex(dev_t device) {
    const unsigned high = ::major(device);
    if (high < kFirstPtsMajor || high > kLastPtsMajor)
        return std::nullopt;
    return (high - kFirstPtsMajor) * kMinorsPerMajor + ::minor(device);
}

// True when the descriptor is the controlling side of pty number `index`:
// the kernel names it in fdinfo as "tty-index:". Whoever holds that side is
// the far end of the line (a simulated instrument, a test), not a program
// competing with us for the reply.
bool holdsControllerOf(const fs::path &process, const std::string &fd, unsigned index) {
    FileDescriptor info(
        ::open((process / "fdinfo" / fd).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    std::string text(512, '\0');  // a few short lines
    const ssize_t n = info.valid() ? ::read(info.get(), text.data(), text.size()) : -1;
    text.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::string key = "tty-index:\t" + std::to_string(index) + "\n";
    return text.find(key) != std::string::npos;
}

// Whether `device` is a terminal by the kernel's own list of tty drivers
// ("serial /dev/ttyS 4 64-111 serial"): anything else (/dev/null, a disk)
// is no serial line and is refused when opened, and whoever else holds it
// is no news. Unknown when the list cannot be read: then it is looked at.
bool isTerminalDevice(dev_t device, const fs::path &proc) {
    std::ifstream drivers(proc / "tty" / "drivers");
    if (!drivers)
        return true;
    std::string name, node, minors;
    unsigned major = 0;
    while (drivers >> name >> node >> major >> minors) {
        drivers.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
        unsigned first = 0, last = 0;
        const int read = std::sscanf(minors.c_str(), "%u-%u", &first, &last);
        if (read < 2)
            last = first;
        if (read >= 1 && ::major(device) == major && ::minor(device) >= first &&
            ::minor(device) <= last)
            return true;
    }
    return false;
}

}  // namespace

std::vector<PortHolder> otherHolders(const std::string &device, const fs::path &proc,
                                     std::int64_t budgetUs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(budgetUs);
    std::vector<PortHolder> holders;
    struct stat wanted {};
    if (::stat(device.c_str(), &wanted) != 0 || !S_ISCHR(wanted.st_mode) ||
        !isTerminalDevice(wanted.st_rdev, proc))
        return holders;
    const std::string self = std::to_string(::getpid());
    const std::optional<unsigned> index = ptsIndex(wanted.st_rdev);
    std::error_code failed;
    for (const auto &process : fs::directory_iterator(proc, failed)) {
        if (std::chrono::steady_clock::now() >= until)
            break;
        const std::string pid = process.path().filename().string();
        if (pid.empty() || !std::ranges::all_of(pid, ::isdigit) || pid == self)
            continue;
        std::error_code denied;
        bool holdsDevice = false;
        bool farEnd = false;
        for (const auto &fd : fs::directory_iterator(process.path() / "fd", denied)) {
            struct stat held {};
            if (::stat(fd.path().c_str(), &held) != 0 || !S_ISCHR(held.st_mode))
                continue;
            holdsDevice = holdsDevice || held.st_rdev == wanted.st_rdev;
            farEnd = farEnd ||
                     (index && ptsIndex(held.st_rdev) == std::nullopt &&
                      holdsControllerOf(process.path(), fd.path().filename().string(), *index));
        }
        if (holdsDevice && !farEnd)
            holders.push_back({std::stoi(pid), programOf(process.path())});
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

std::optional<std::vector<PortHolder>> HolderWatch::after(const std::string &device,
                                                          bool firstOnLine, bool silent,
                                                          std::int64_t nowUs) {
    const bool due = firstOnLine || device != device_ || !lookedUs_ ||
                     (silent && nowUs - *lookedUs_ >= kHolderRecheckUs);
    if (due) {
        found_ = otherHolders(device);
        device_ = device;
        lookedUs_ = nowUs;
        return found_;
    }
    if (silent)
        return found_;
    return std::nullopt;
}

}  // namespace marvalo
