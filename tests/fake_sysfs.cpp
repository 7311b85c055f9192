#include "tests/fake_sysfs.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>

namespace marvalo::testing {
namespace {

namespace fs = std::filesystem;

void put(const fs::path &file, const std::string &value) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << value << "\n";
}

void link(const fs::path &at, const fs::path &target) {
    fs::create_directories(at.parent_path());
    fs::remove(at);
    fs::create_symlink(target, at);
}

}  // namespace

FakeSysfs::FakeSysfs() {
    fs::create_directories(sysfs() / "class/tty");
    fs::create_directories(dev());
    // What every machine has and no port list may show.
    fs::create_directories(sysfs() / "devices/virtual/tty/tty1");
    link(sysfs() / "class/tty/tty1", "../../devices/virtual/tty/tty1");
    fs::create_directories(sysfs() / "devices/virtual/tty/ptyp0");
    link(sysfs() / "class/tty/ptyp0", "../../devices/virtual/tty/ptyp0");
}

fs::path FakeSysfs::usbDevice(const Usb &usb) const {
    return sysfs() / "devices/pci0000:00" / usb.controller /
           ("usb" + usb.usbPath.substr(0, usb.usbPath.find('-'))) / usb.usbPath;
}

void FakeSysfs::plugUsb(const std::string &name, const Usb &usb) {
    const fs::path usbDevice = this->usbDevice(usb);
    put(usbDevice / "idVendor", usb.vendor);
    put(usbDevice / "idProduct", usb.product);
    put(usbDevice / "manufacturer", usb.maker);
    put(usbDevice / "product", usb.productName);
    if (!usb.serial.empty())
        put(usbDevice / "serial", usb.serial);
    const fs::path interface =
        usbDevice / (usb.usbPath + ":1." + std::to_string(usb.interfaceNumber));
    put(interface / "bInterfaceNumber", "0" + std::to_string(usb.interfaceNumber));
    const bool acm = usb.driver == "cdc_acm";
    // usb-serial puts a port device between the interface and the tty.
    const fs::path port = acm ? interface : interface / name;
    fs::create_directories(sysfs() / "bus/usb/drivers" / usb.driver);
    link(port / "driver", fs::relative(sysfs() / "bus/usb/drivers" / usb.driver, port));
    if (!acm)
        put(port / "latency_timer", std::to_string(usb.latencyMs));
    const fs::path tty = port / "tty" / name;
    link(tty / "device", "../..");
    link(sysfs() / "class/tty" / name, fs::relative(tty, sysfs() / "class/tty"));
}

void FakeSysfs::plugUart(const std::string &name, int type) {
    const fs::path platform = sysfs() / "devices/platform/serial8250";
    fs::create_directories(sysfs() / "bus/platform/drivers/serial8250");
    link(platform / "driver", "../../../bus/platform/drivers/serial8250");
    const fs::path tty = platform / "tty" / name;
    link(tty / "device", "../..");
    put(tty / "type", std::to_string(type));
    link(sysfs() / "class/tty" / name, fs::relative(tty, sysfs() / "class/tty"));
}

void FakeSysfs::unplug(const std::string &name) {
    const fs::path entry = sysfs() / "class/tty" / name;
    std::error_code ignored;
    fs::remove_all(fs::canonical(entry, ignored), ignored);
    fs::remove(entry, ignored);
    fs::remove(dev() / name, ignored);
}

void FakeSysfs::setConsole(const std::string &names) {
    put(sysfs() / "class/tty/console/active", names);
}

void FakeSysfs::deviceNode(const std::string &name, const std::string &target) {
    link(dev() / name, target);
    // As the kernel says which device the node is: the port checks it.
    struct stat node {};
    if (fs::is_directory(sysfs() / "class/tty" / name) && ::stat(target.c_str(), &node) == 0)
        put(sysfs() / "class/tty" / name / "dev",
            std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev)));
}

void FakeSysfs::byId(const std::string &name, const std::string &idName) {
    link(dev() / "serial/by-id" / idName, "../../" + name);
}

}  // namespace marvalo::testing
