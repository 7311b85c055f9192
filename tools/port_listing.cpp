#include "tools/port_listing.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/text/byte_text.h"
#include "ports/bench_ports.h"

namespace marvalo {
namespace {

struct Row {
    std::optional<int> com;
    const SerialAdapter *adapter;  // null: numbered, not plugged in
    std::string name;
};

std::vector<Row> rowsOf(const BenchPorts &ports) {
    std::vector<Row> rows;
    for (int number = 1; number <= kComNumbers; ++number) {
        if (const auto &slot = ports.table().at(number))
            rows.push_back({number, adapterAt(ports.table(), number, ports.present()), slot->name});
    }
    for (const SerialAdapter &adapter : ports.present()) {
        if (!ports.table().numberOf(adapterIdentity(adapter)))
            rows.push_back({std::nullopt, &adapter, adapterName(adapter)});
    }
    return rows;
}

}  // namespace

std::string portListingText(const BenchPorts &ports) {
    std::string text;
    char line[512];
    std::snprintf(line, sizeof line, "%-5s %-14s %-11s %-9s %s\n", "COM", "device", "driver",
                  "present", "adapter");
    text += line;
    for (const Row &row : rowsOf(ports)) {
        const SerialAdapter *adapter = row.adapter;
        std::string notes;
        if (adapter && adapter->console)
            notes += "  (system console: never numbered by itself)";
        if (adapter && adapter->latencyTimerMs)
            notes += "  latency " + std::to_string(*adapter->latencyTimerMs) + " ms";
        if (adapter && !adapter->byId.empty())
            notes += "  " + adapter->byId;
        std::snprintf(line, sizeof line, "%-5s %-14s %-11s %-9s %s%s\n",
                      row.com ? std::to_string(*row.com).c_str() : "-",
                      adapter ? safeText(adapter->device).c_str() : "-",
                      adapter ? safeText(adapter->driver).c_str() : "-", adapter ? "yes" : "no",
                      safeText(row.name).c_str(), safeText(notes).c_str());
        text += line;
    }
    if (ports.table().com == PortsTable{}.com && ports.present().empty())
        text +=
            "No serial adapters found. Plug one in, or check that the user is in the group "
            "that owns the device (usually dialout).\n";
    return text;
}

std::string portListingJson(const BenchPorts &ports) {
    std::string lines;
    for (const Row &row : rowsOf(ports)) {
        const SerialAdapter *adapter = row.adapter;
        nlohmann::ordered_json port = {
            {"com", row.com ? nlohmann::ordered_json(*row.com) : nullptr},
            {"device", adapter ? nlohmann::ordered_json(safeText(adapter->device)) : nullptr},
            {"name", safeText(row.name)},
            {"driver", adapter ? nlohmann::ordered_json(safeText(adapter->driver)) : nullptr},
            {"present", adapter != nullptr},
            {"console", adapter != nullptr && adapter->console},
        };
        if (adapter && adapter->usb) {
            const UsbIdentity &usb = *adapter->usb;
            port["vendor_id"] = safeText(usb.vendorId);
            port["product_id"] = safeText(usb.productId);
            port["maker"] = safeText(usb.maker);
            port["product"] = safeText(usb.product);
            port["serial"] = safeText(usb.serial);
            port["interface"] = usb.interfaceNumber;
            port["usb_path"] = safeText(usb.usbPath);
            port["latency_timer_ms"] = adapter->latencyTimerMs
                                           ? nlohmann::ordered_json(*adapter->latencyTimerMs)
                                           : nullptr;
        }
        lines += port.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
    }
    return lines;
}

}  // namespace marvalo
