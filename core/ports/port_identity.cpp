#include "core/ports/port_identity.h"

#include <charconv>

#include "core/net/server_address.h"
#include "core/ports/serial_adapter.h"

namespace marvalo {
namespace {

constexpr std::string_view kMade = "usb-id:";
constexpr std::string_view kSerial = "usb-serial:";
constexpr std::string_view kPlace = "usb-path:";
constexpr std::string_view kKernel = "kernel:";

std::string interfaceText(int interfaceNumber, int portNumber) {
    return std::to_string(interfaceNumber) +
           (portNumber != 0 ? "." + std::to_string(portNumber) : "");
}

bool number(std::string_view text, int &value) {
    const auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value);
    return failed == std::errc() && end == text.data() + text.size() && !text.empty();
}

// "0" or "0.2" after the last colon; what is before it in `rest`.
bool interfaceAtEnd(std::string_view &rest, int &interfaceNumber, int &portNumber) {
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos)
        return false;
    std::string_view numbers = rest.substr(colon + 1);
    rest = rest.substr(0, colon);
    const auto dot = numbers.find('.');
    portNumber = 0;
    if (dot != std::string_view::npos && !number(numbers.substr(dot + 1), portNumber))
        return false;
    return number(numbers.substr(0, dot), interfaceNumber);
}

PortIdentity::Value parsed(std::string_view text) {
    if (net::looksLikeServerAddress(text)) {
        auto address = net::parseServerAddress(text);
        if (!address)
            return UnknownId{std::string(text)};
        return ServerId{address.value()};
    }
    if (text.starts_with(kKernel))
        return KernelPort{std::string(text.substr(kKernel.size()))};
    if (text.starts_with(kPlace)) {
        UsbPlace place;
        std::string_view rest = text.substr(kPlace.size());
        if (!interfaceAtEnd(rest, place.interfaceNumber, place.portNumber) || rest.empty())
            return UnknownId{std::string(text)};
        place.place = rest;
        return place;
    }
    const bool made = text.starts_with(kMade);
    if (!made && !text.starts_with(kSerial))
        return UnknownId{std::string(text)};
    AdapterId id;
    std::string_view rest = text.substr(made ? kMade.size() : kSerial.size());
    if (made) {
        const auto vendorEnd = rest.find(':');
        const auto productEnd = rest.find(':', vendorEnd + 1);
        if (vendorEnd == std::string_view::npos || productEnd == std::string_view::npos)
            return UnknownId{std::string(text)};
        id.vendorId = rest.substr(0, vendorEnd);
        id.productId = rest.substr(vendorEnd + 1, productEnd - vendorEnd - 1);
        rest = rest.substr(productEnd + 1);
    }
    if (const auto at = rest.rfind('@'); at != std::string_view::npos) {
        id.connector = rest.substr(at + 1);
        rest = rest.substr(0, at);
    }
    if (!interfaceAtEnd(rest, id.interfaceNumber, id.portNumber) || rest.empty())
        return UnknownId{std::string(text)};
    id.serial = rest;
    return id;
}

std::string placeOf(const UsbIdentity &usb) {
    return usb.place.empty() ? usb.usbPath : usb.place;
}

// A place in the table names this connector: its stable place, or the bus
// path older tables kept.
bool atPlace(const std::string &place, const UsbIdentity &usb) {
    return place == placeOf(usb) || place == usb.usbPath;
}

}  // namespace

PortIdentity::PortIdentity(std::string_view text) : value_(parsed(text)) {
    // What would not be written back byte for byte is not understood.
    if (this->text() != text)
        value_ = UnknownId{std::string(text)};
}

bool PortIdentity::empty() const {
    const auto *unknown = as<UnknownId>();
    return unknown != nullptr && unknown->text.empty();
}

std::string PortIdentity::text() const {
    struct Text {
        std::string operator()(const UnknownId &id) const { return id.text; }
        std::string operator()(const ServerId &id) const { return id.address.written; }
        std::string operator()(const KernelPort &id) const {
            return std::string(kKernel) + id.name;
        }
        std::string operator()(const UsbPlace &id) const {
            return std::string(kPlace) + id.place + ":" +
                   interfaceText(id.interfaceNumber, id.portNumber);
        }
        std::string operator()(const AdapterId &id) const {
            const bool made = !id.vendorId.empty() || !id.productId.empty();
            return (made ? std::string(kMade) + id.vendorId + ":" + id.productId + ":"
                         : std::string(kSerial)) +
                   id.serial + ":" + interfaceText(id.interfaceNumber, id.portNumber) +
                   (id.connector.empty() ? "" : "@" + id.connector);
        }
    };
    return std::visit(Text{}, value_);
}

bool PortIdentity::fits(const SerialAdapter &adapter) const {
    if (const auto *kernel = as<KernelPort>())
        return !adapter.usb && kernel->name == adapter.kernelName;
    if (!adapter.usb)
        return false;
    const UsbIdentity &usb = *adapter.usb;
    if (const auto *place = as<UsbPlace>())
        return atPlace(place->place, usb) && place->interfaceNumber == usb.interfaceNumber &&
               place->portNumber == usb.portNumber;
    const auto *id = as<AdapterId>();
    if (id == nullptr || usb.serial.empty() || id->serial != usb.serial ||
        id->interfaceNumber != usb.interfaceNumber || id->portNumber != usb.portNumber)
        return false;
    // Two makes may ship the same serial ("0001"): the make is part of it.
    const bool made = !id->vendorId.empty() || !id->productId.empty();
    if (made && (id->vendorId != usb.vendorId || id->productId != usb.productId))
        return false;
    return id->connector.empty() || atPlace(id->connector, usb);
}

}  // namespace marvalo
