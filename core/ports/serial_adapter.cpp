#include "core/ports/serial_adapter.h"

#include <algorithm>
#include <map>
#include <tuple>

namespace marvalo {
namespace {

std::string serialIdentity(const UsbIdentity &usb) {
    std::string identity = "usb-serial:" + usb.serial + ":" + std::to_string(usb.interfaceNumber);
    if (usb.portNumber != 0)
        identity += "." + std::to_string(usb.portNumber);
    return identity;
}

std::string pathIdentity(const UsbIdentity &usb) {
    std::string identity = "usb-path:" + usb.usbPath + ":" + std::to_string(usb.interfaceNumber);
    if (usb.portNumber != 0)
        identity += "." + std::to_string(usb.portNumber);
    return identity;
}

}  // namespace

std::string adapterIdentity(const SerialAdapter &adapter) {
    if (!adapter.usb)
        return "kernel:" + adapter.kernelName;
    const UsbIdentity &usb = *adapter.usb;
    if (usb.serial.empty())
        return pathIdentity(usb);
    return serialIdentity(usb) + (adapter.sharedSerial ? "@" + usb.usbPath : "");
}

std::string connectorIdentity(const SerialAdapter &adapter) {
    if (!adapter.usb || adapter.usb->serial.empty())
        return adapterIdentity(adapter);
    return serialIdentity(*adapter.usb) + "@" + adapter.usb->usbPath;
}

std::string placeIdentity(const SerialAdapter &adapter) {
    return adapter.usb ? pathIdentity(*adapter.usb) : std::string();
}

bool identityFits(const std::string &identity, const SerialAdapter &adapter) {
    if (identity == adapterIdentity(adapter))
        return true;
    if (!adapter.usb)
        return false;
    if (identity == placeIdentity(adapter))
        return true;
    if (adapter.usb->serial.empty())
        return false;
    // A number taken before a clone came along, or a clone's number while
    // its twin is away: the serial alone, or the serial at this connector.
    const std::string serial = serialIdentity(*adapter.usb);
    return identity == serial || identity == serial + "@" + adapter.usb->usbPath;
}

std::vector<std::string> markSiblings(std::vector<SerialAdapter> &present) {
    std::map<std::string, std::vector<SerialAdapter *>> bySerial, byDevice;
    for (SerialAdapter &adapter : present) {
        if (!adapter.usb)
            continue;
        if (!adapter.usb->serial.empty())
            bySerial[serialIdentity(*adapter.usb)].push_back(&adapter);
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
