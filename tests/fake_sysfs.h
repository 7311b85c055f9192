#pragma once

#include <filesystem>
#include <string>

#include "tests/temp_folder.h"

namespace marvalo::testing {

// A sysfs and /dev laid out as the kernel lays them out, for serial ports
// that are not there: USB adapters through usb-serial and cdc_acm, 8250
// ports with and without a UART, the console, virtual terminals.
class FakeSysfs {
  public:
    FakeSysfs();
    std::filesystem::path sysfs() const { return folder_.path() / "sys"; }
    std::filesystem::path dev() const { return folder_.path() / "dev"; }

    struct Usb {
        std::string vendor, product, maker, productName, serial, usbPath;
        int interfaceNumber = 0;
        std::string driver = "ftdi_sio";
        int latencyMs = 16;
        std::string controller = "0000:00:14.0";  // the host controller's PCI address
    };
    // Where the USB device lies: below its controller and root hub.
    std::filesystem::path usbDevice(const Usb &usb) const;
    // ttyUSBn under usb-serial, or ttyACMn on its interface with cdc_acm.
    void plugUsb(const std::string &name, const Usb &usb);
    void plugUart(const std::string &name, int type);  // type 0: no UART behind it
    void unplug(const std::string &name);
    void setConsole(const std::string &names);  // "tty0 ttyS0"
    // /dev/NAME, a link to `target` (a pty, so the port can really open it).
    void deviceNode(const std::string &name, const std::string &target);
    void byId(const std::string &name, const std::string &idName);

  private:
    TempFolder folder_;
};

}  // namespace marvalo::testing
