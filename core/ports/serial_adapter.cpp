#include "core/ports/serial_adapter.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace marvalo {
namespace {

AdapterId serialId(const SerialAdapter &adapter) {
    const UsbIdentity &usb = *adapter.usb;
    return AdapterId{usb.vendorId,        usb.productId,  usb.serial,
                     usb.interfaceNumber, usb.portNumber, {}};
}

std::string placeOf(const UsbIdentity &usb) {
    return usb.place.empty() ? usb.usbPath : usb.place;
}

}  // namespace

PortIdentity adapterIdentity(const SerialAdapter &adapter) {
    if (!adapter.usb)
        return KernelPort{adapter.kernelName};
    if (adapter.usb->serial.empty())
        return placeIdentity(adapter);
    return adapter.sharedSerial ? connectorIdentity(adapter) : PortIdentity(serialId(adapter));
}

PortIdentity connectorIdentity(const SerialAdapter &adapter) {
    if (!adapter.usb || adapter.usb->serial.empty())
        return adapterIdentity(adapter);
    AdapterId id = serialId(adapter);
    id.connector = placeOf(*adapter.usb);
    return id;
}

PortIdentity placeIdentity(const SerialAdapter &adapter) {
    if (!adapter.usb)
        return {};
    return UsbPlace{placeOf(*adapter.usb), adapter.usb->interfaceNumber, adapter.usb->portNumber};
}

bool sameSerialAdapter(const PortIdentity &first, const PortIdentity &second) {
    const auto *a = first.as<AdapterId>();
    const auto *b = second.as<AdapterId>();
    if (a == nullptr || b == nullptr || a->serial != b->serial ||
        a->interfaceNumber != b->interfaceNumber || a->portNumber != b->portNumber)
        return false;
    const bool bothMade = !a->vendorId.empty() && !b->vendorId.empty();
    return !bothMade || (a->vendorId == b->vendorId && a->productId == b->productId);
}

std::vector<std::string> markSiblings(std::vector<SerialAdapter> &present) {
    std::map<std::string, std::vector<SerialAdapter *>> bySerial, byDevice;
    for (SerialAdapter &adapter : present) {
        if (!adapter.usb)
            continue;
        if (!adapter.usb->serial.empty())
            bySerial[PortIdentity(serialId(adapter)).text()].push_back(&adapter);
        byDevice[adapter.usb->usbPath].push_back(&adapter);
    }
    std::vector<std::string> told;
    for (auto &[identity, clones] : bySerial) {
        if (clones.size() < 2)
            continue;
        std::string places;
        for (SerialAdapter *clone : clones) {
            clone->sharedSerial = true;
            places += (places.empty() ? "" : ", ") + clone->usb->usbPath;
        }
        told.push_back("Los adaptadores de los conectores USB " + places + " tienen el mismo nº " +
                       clones.front()->usb->serial +
                       ": no se distinguen por el número de serie, así que cada uno se conoce "
                       "por su conector; si se cambian de conector, sus números se cambian con "
                       "ellos.");
    }
    for (auto &[path, ports] : byDevice) {
        if (ports.size() < 2)
            continue;
        std::sort(ports.begin(), ports.end(), [](const SerialAdapter *a, const SerialAdapter *b) {
            return std::tie(a->usb->interfaceNumber, a->usb->portNumber) <
                   std::tie(b->usb->interfaceNumber, b->usb->portNumber);
        });
        for (std::size_t index = 0; index < ports.size(); ++index)
            ports[index]->portIndex = static_cast<int>(index);
    }
    return told;
}

std::string adapterName(const SerialAdapter &adapter) {
    if (!adapter.usb)
        return "puerto " + adapter.kernelName + " (" + adapter.driver + ")";
    const UsbIdentity &usb = *adapter.usb;
    std::string name = usb.maker;
    if (!usb.product.empty())
        name += (name.empty() ? "" : " ") + usb.product;
    const std::string ids = usb.vendorId + ":" + usb.productId;
    if (name.empty())
        name = ids != ":" ? "USB " + ids : "adaptador USB";
    else if (usb.maker.empty() && ids != ":")
        name += " (" + ids + ")";  // "USB Serial" alone says nothing
    if (!usb.serial.empty())
        name += ", nº " + usb.serial;
    if (adapter.portIndex) {
        constexpr int kLetters = 26;
        name += ", puerto " + (*adapter.portIndex < kLetters
                                   ? std::string(1, static_cast<char>('A' + *adapter.portIndex))
                                   : std::to_string(*adapter.portIndex + 1));
    }
    if (usb.serial.empty() || adapter.sharedSerial)
        name += ", conector USB " + usb.usbPath;
    return name;
}

}  // namespace marvalo
