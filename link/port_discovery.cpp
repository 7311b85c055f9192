#include "link/port_discovery.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <tuple>

#include "os/file_descriptor.h"

namespace marvalo {
namespace {

namespace fs = std::filesystem;

// Real attributes are at most a page; a FIFO, a link to /dev/zero or a
// huge file in a fabricated or broken tree must neither hang nor fill memory.
constexpr std::size_t kMaxAttributeBytes = 4096;

std::string boundedText(const fs::path &file) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};
    std::string text(kMaxAttributeBytes, '\0');
    std::size_t have = 0;
    while (have < text.size()) {
        const ssize_t n = ::read(fd.get(), text.data() + have, text.size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        have += static_cast<std::size_t>(n);
    }
    text.resize(have);
    return text;
}

// A USB string is at most 126 characters; real serial numbers and product
// names are far shorter. Cut the same way at every look, a longer one still
// names the same adapter, and the ports table stays within what it reads.
constexpr std::size_t kMaxLineBytes = 64;

// A sysfs attribute: one short line.
std::string attribute(const fs::path &file) {
    std::string value = boundedText(file);
    value = value.substr(0, value.find('\n'));
    if (value.size() > kMaxLineBytes) {
        std::size_t cut = kMaxLineBytes;
        while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80)
            --cut;  // not inside a UTF-8 character
        value.resize(cut);
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r'))
        value.pop_back();
    return value;
}

std::optional<int> numberAttribute(const fs::path &file, int base = 16) {
    const std::string text = attribute(file);
    constexpr std::size_t kMaxDigits = 8;
    if (text.empty() || text.size() > kMaxDigits)
        return std::nullopt;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, base);
    if (*end != '\0')
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<fs::path> ancestorWith(fs::path dir, const char *file, const fs::path &root) {
    std::error_code failed;
    while (!dir.empty() && dir != dir.parent_path() && dir != root) {
        if (fs::exists(dir / file, failed))
            return dir;
        dir = dir.parent_path();
    }
    return std::nullopt;
}

std::set<std::string> consoles(const DiscoveryRoots &roots) {
    std::set<std::string> names;
    std::istringstream active(attribute(roots.sysfs / "class/tty/console/active"));
    for (std::string name; active >> name;)
        names.insert(name);
    // /proc/consoles only on the real machine: a fabricated tree says it
    // all in its console/active.
    if (roots.sysfs == "/sys") {
        std::istringstream proc(boundedText("/proc/consoles"));
        for (std::string line; std::getline(proc, line);)
            names.insert(line.substr(0, line.find(' ')));
    }
    return names;
}

std::string byIdFor(const DiscoveryRoots &roots, const std::string &kernelName) {
    std::error_code failed;
    const fs::path folder = roots.dev / "serial/by-id";
    for (const auto &entry : fs::directory_iterator(folder, failed)) {
        const fs::path target = fs::read_symlink(entry.path(), failed);
        if (!failed && target.filename() == kernelName)
            return entry.path().string();
    }
    return {};
}

// The driver that owns the port. Newer kernels put two devices of the
// serial core ("ctrl" and "port") between a UART and its tty: the driver
// people know (serial8250, serial) is the one above them.
std::string driverOf(fs::path device) {
    constexpr int kSerialCoreLevels = 2;
    std::error_code failed;
    std::string driver;
    for (int level = 0; level <= kSerialCoreLevels && !device.empty(); ++level) {
        driver = fs::read_symlink(device / "driver", failed).filename().string();
        if (driver != "port" && driver != "ctrl" && !driver.empty())
            return driver;
        device = device.parent_path();
    }
    return driver;
}

// The connector as /dev/serial/by-path names it: the host controller's own
// device and the chain of hub ports ("pci-0000:00:14.0-usb-0:1.2"). The bus
// number in "1-1.2" is given in the order the controllers registered at
// boot, which may change; the controller's address does not.
std::string stablePlace(const fs::path &usbDevice, const fs::path &root) {
    const std::string name = usbDevice.filename().string();
    const auto dash = name.find('-');
    if (dash == std::string::npos)
        return {};
    for (fs::path dir = usbDevice.parent_path(); !dir.empty() && dir != root;
         dir = dir.parent_path()) {
        if (!dir.filename().string().starts_with("usb"))
            continue;
        const std::string controller = dir.parent_path().filename().string();
        const bool pci = controller.size() == 12 && controller[4] == ':' && controller[7] == ':';
        return (pci ? "pci-" : "platform-") + controller + "-usb-0:" + name.substr(dash + 1);
    }
    return {};
}

}  // namespace

DiscoveryRoots DiscoveryRoots::fromEnvironment() {
    DiscoveryRoots roots;
    if (const char *sysfs = std::getenv("MARVALO_SYSFS_ROOT"); sysfs && *sysfs)
        roots.sysfs = sysfs;
    if (const char *dev = std::getenv("MARVALO_DEV_ROOT"); dev && *dev)
        roots.dev = dev;
    return roots;
}

std::vector<SerialAdapter> discoverSerialPorts(const DiscoveryRoots &roots) {
    std::vector<SerialAdapter> found;
    std::error_code failed;
    const std::set<std::string> consoleNames = consoles(roots);
    const fs::path sysfsRoot = fs::canonical(roots.sysfs, failed);
    if (failed)
        return found;
    for (const auto &entry : fs::directory_iterator(roots.sysfs / "class/tty", failed)) {
        const std::string name = entry.path().filename().string();
        // Virtual terminals and ptys have no device of their own behind them.
        const fs::path deviceLink = entry.path() / "device";
        if (!fs::exists(deviceLink, failed))
            continue;
        const fs::path device = fs::canonical(deviceLink, failed);
        // A link that leads out of the tree (to / or /etc) is no device.
        const bool within =
            !failed &&
            std::mismatch(sysfsRoot.begin(), sysfsRoot.end(), device.begin(), device.end()).first ==
                sysfsRoot.end();
        if (!within || device == sysfsRoot)
            continue;
        if (const auto type = numberAttribute(entry.path() / "type"); type && *type == 0)
            continue;  // an 8250 port with no UART behind it
        SerialAdapter adapter;
        adapter.kernelName = name;
        adapter.device = (roots.dev / name).string();
        adapter.driver = driverOf(device);
        adapter.console = consoleNames.count(name) > 0;
        adapter.byId = byIdFor(roots, name);
        if (auto latency = attribute(device / "latency_timer"); !latency.empty())
            adapter.latencyTimerMs = std::atoi(latency.c_str());
        if (const auto usbDevice = ancestorWith(device, "idVendor", sysfsRoot)) {
            UsbIdentity usb;
            usb.vendorId = attribute(*usbDevice / "idVendor");
            usb.productId = attribute(*usbDevice / "idProduct");
            usb.maker = attribute(*usbDevice / "manufacturer");
            usb.product = attribute(*usbDevice / "product");
            usb.serial = attribute(*usbDevice / "serial");
            usb.usbPath = usbDevice->filename().string();
            usb.place = stablePlace(*usbDevice, sysfsRoot);
            if (const auto interface = ancestorWith(device, "bInterfaceNumber", sysfsRoot))
                usb.interfaceNumber = numberAttribute(*interface / "bInterfaceNumber").value_or(0);
            usb.portNumber = numberAttribute(device / "port_number", 10).value_or(0);
            adapter.usb = usb;
        }
        found.push_back(std::move(adapter));
    }
    // USB adapters first, as benches use them; ttyUSB2 before ttyUSB10.
    auto order = [](const SerialAdapter &adapter) {
        const std::string &name = adapter.kernelName;
        const std::size_t digits = name.find_first_of("0123456789");
        const std::string prefix = name.substr(0, digits);
        const int number = digits == std::string::npos ? -1 : std::atoi(name.c_str() + digits);
        return std::make_tuple(adapter.usb ? 0 : 1, prefix, number);
    };
    std::sort(found.begin(), found.end(),
              [&](const auto &a, const auto &b) { return order(a) < order(b); });
    return found;
}

std::optional<dev_t> deviceNumberOf(const DiscoveryRoots &roots, const std::string &kernelName) {
    if (kernelName.empty() || kernelName.find('/') != std::string::npos)
        return std::nullopt;
    const std::string text = attribute(roots.sysfs / "class/tty" / kernelName / "dev");
    unsigned high = 0;
    unsigned low = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%u:%u%c", &high, &low, &extra) != 2)
        return std::nullopt;
    return ::makedev(high, low);
}

}  // namespace marvalo
