#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "core/net/server_address.h"

namespace marvalo {

struct SerialAdapter;
struct UsbIdentity;

// A USB adapter known by its make and serial number, wherever it is plugged.
struct AdapterId {
    // Empty in entries written before the make was kept: any make fits then.
    std::string vendorId, productId;
    std::string serial;
    int interfaceNumber = 0;
    int portNumber = 0;  // usb-serial's port_number, for several ports on one interface
    // A clone's connector, since its serial number does not tell it from
    // its twin: a stable place ("pci-0000:00:14.0-usb-0:1.3") or, in older
    // entries, the bus path ("1-1.3"). Empty for an adapter of its own.
    std::string connector;
    bool operator==(const AdapterId &) const = default;
};

// Whatever is plugged into one USB connector ("por conector USB").
struct UsbPlace {
    std::string place;  // "pci-0000:00:14.0-usb-0:1.2"; "1-1.2" in older entries
    int interfaceNumber = 0;
    int portNumber = 0;
    bool operator==(const UsbPlace &) const = default;
};

// An on-board port, by its kernel name.
struct KernelPort {
    std::string name;
    bool operator==(const KernelPort &) const = default;
};

// A serial server's address (rfc2217://, socket://), parsed when the table
// is read; its text is the address as written. One that does not parse is
// no ServerId but an UnknownId, refused at its line.
struct ServerId {
    net::ServerAddress address;
    bool operator==(const ServerId &) const = default;
};

// A line of the table this program does not understand (edited by hand):
// kept as it was, and it stands for nothing.
struct UnknownId {
    std::string text;
    bool operator==(const UnknownId &) const = default;
};

// What one COM number stands for, as a value. Its text in the table:
//   usb-id:0403:6001:A50285BI:0[.N][@PLACE]   an adapter, make and serial
//   usb-serial:A50285BI:0[.N][@PLACE]         the same, from older tables (no make)
//   usb-path:PLACE:0[.N]                      a USB connector
//   kernel:ttyS0                              an on-board port
//   rfc2217://HOST:PORT, socket://HOST:PORT   a serial server
class PortIdentity {
  public:
    using Value = std::variant<UnknownId, AdapterId, UsbPlace, KernelPort, ServerId>;

    PortIdentity() = default;
    // As read from the table: any text, kept byte for byte.
    PortIdentity(std::string_view text);  // NOLINT: the table's text is an identity
    PortIdentity(const std::string &text) : PortIdentity(std::string_view(text)) {}
    PortIdentity(const char *text) : PortIdentity(std::string_view(text)) {}
    template <typename Kind>
    requires std::is_constructible_v<Value, Kind> PortIdentity(Kind value)
        : value_(std::move(value)) {}

    const Value &value() const { return value_; }
    template <typename Kind>
    const Kind *as() const {
        return std::get_if<Kind>(&value_);
    }
    bool empty() const;
    // The text it is saved as: the text it was read from.
    std::string text() const;
    // Whether this adapter is what it stands for.
    bool fits(const SerialAdapter &adapter) const;

    bool operator==(const PortIdentity &) const = default;

  private:
    Value value_;
};

}  // namespace marvalo
