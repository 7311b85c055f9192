#pragma once

#include <optional>
#include <string>

namespace marvalo {

// What the USB layer says about the device behind a serial port.
struct UsbIdentity {
    std::string vendorId;   // "0403"
    std::string productId;  // "6001"
    std::string maker;      // "FTDI"
    std::string product;    // "FT232R USB UART"
    std::string serial;     // "A50285BI"; empty when the device has none
    int interfaceNumber = 0;
    std::string usbPath;  // "1-1.2": the port of the hub it is plugged into
};

// One serial port that is present, as the kernel lays it out.
struct SerialAdapter {
    std::string kernelName;  // "ttyUSB0"
    std::string device;      // "/dev/ttyUSB0"
    std::string driver;      // "ftdi_sio", "cp210x", "cdc_acm", "serial8250", …
    bool console = false;    // the system's console: never numbered by itself
    std::optional<UsbIdentity> usb;
    std::string byId;  // "/dev/serial/by-id/usb-FTDI_…-if00-port0", when udev made one
    std::optional<int> latencyTimerMs;

    bool operator==(const SerialAdapter &) const = default;
};

// What a COM number holds on to across re-plugging: for USB the serial
// number and the interface ("usb-serial:A50285BI:0"), the hub port where an
// adapter has no serial number ("usb-path:1-1.2:0"), the kernel name for
// on-board ports ("kernel:ttyS0").
std::string adapterIdentity(const SerialAdapter &adapter);

// For people: "FTDI FT232R USB UART, nº A50285BI" (or the driver and the
// kernel name for an on-board port).
std::string adapterName(const SerialAdapter &adapter);

}  // namespace marvalo
