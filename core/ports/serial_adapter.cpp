#include "core/ports/serial_adapter.h"

namespace marvalo {

std::string adapterIdentity(const SerialAdapter &adapter) {
    if (!adapter.usb)
        return "kernel:" + adapter.kernelName;
    const UsbIdentity &usb = *adapter.usb;
    const std::string interface = ":" + std::to_string(usb.interfaceNumber);
    if (!usb.serial.empty())
        return "usb-serial:" + usb.serial + interface;
    return "usb-path:" + usb.usbPath + interface;
}

std::string adapterName(const SerialAdapter &adapter) {
    if (!adapter.usb)
        return "puerto " + adapter.kernelName + " (" + adapter.driver + ")";
    const UsbIdentity &usb = *adapter.usb;
    std::string name = usb.maker;
    if (!usb.product.empty())
        name += (name.empty() ? "" : " ") + usb.product;
    if (name.empty())
        name = "USB " + usb.vendorId + ":" + usb.productId;
    if (!usb.serial.empty())
        name += ", nº " + usb.serial;
    return name;
}

}  // namespace marvalo
