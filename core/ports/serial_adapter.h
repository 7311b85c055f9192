#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/ports/port_identity.h"

namespace marvalo {

// What the USB layer says about the device behind a serial port.
struct UsbIdentity {
    std::string vendorId;   // "0403"
    std::string productId;  // "6001"
    std::string maker;      // "FTDI"
    std::string product;    // "FT232R USB UART"
    std::string serial;     // "A50285BI"; empty when the device has none
    int interfaceNumber = 0;
    int portNumber = 0;   // usb-serial's port_number: several ports on one interface
    std::string usbPath;  // "1-1.2": the port of the hub it is plugged into
    // The same connector named so that it stays when the host controllers
    // register in another order at boot: the controller's device and the
    // port chain, as /dev/serial/by-path names it ("pci-0000:00:14.0-usb-0:1.2").
    std::string place = {};

    bool operator==(const UsbIdentity &) const = default;
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
    // Set by markSiblings: another adapter present has the same serial
    // number and interface (clones), so the hub port tells them apart.
    bool sharedSerial = false;
    // Set by markSiblings: which port of a multi-port adapter, 0 for "A".
    std::optional<int> portIndex;

    bool operator==(const SerialAdapter &) const = default;
};

// What a COM number holds on to across re-plugging: for USB the make, the
// serial number and the interface (and the port of a multi-port
// interface), with the connector for clones that share the serial number;
// the connector where an adapter has no serial number; the kernel name for
// on-board ports.
PortIdentity adapterIdentity(const SerialAdapter &adapter);
// The adapter's identity with its connector, as a clone is known, whether
// or not its twin is present; adapterIdentity for one without a serial
// number or on-board.
PortIdentity connectorIdentity(const SerialAdapter &adapter);
// Whatever is plugged into the adapter's USB connector: what a number bound
// "por conector USB" holds on to. Empty for on-board ports.
PortIdentity placeIdentity(const SerialAdapter &adapter);
// Whether two identities name one adapter but for the connector (an entry
// from an older table, without the make, names any make).
bool sameSerialAdapter(const PortIdentity &first, const PortIdentity &second);

// Marks clones and the ports of multi-port adapters among those present;
// for each group of clones, one sentence (Spanish) saying so, to be told once.
std::vector<std::string> markSiblings(std::vector<SerialAdapter> &present);

// For people: "FTDI FT232R USB UART, nº A50285BI", "FTDI Quad RS232-HS, nº
// FT4Q1234, puerto B", "USB Serial (1a86:7523), conector USB 1-1.4", or the
// driver and the kernel name for an on-board port.
std::string adapterName(const SerialAdapter &adapter);

}  // namespace marvalo
