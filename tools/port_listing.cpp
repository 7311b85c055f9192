#include "tools/port_listing.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "core/net/server_address.h"
#include "core/text/byte_text.h"
#include "ports/bench_ports.h"

namespace marvalo {
namespace {

struct Row {
    std::optional<int> com;
    const SerialAdapter *adapter;  // null: numbered, not plugged in or not to be trusted
    std::string name;
    std::string binding;  // "adaptador", "conector"; empty without a number
    std::string refusal;  // why the number is not used although something is there
    // A number standing for a serial server: no adapter to look for, and
    // whether it answers is known only on connecting.
    std::optional<net::ServerAddress> server;
};

std::vector<Row> rowsOf(const BenchPorts &ports) {
    std::vector<Row> rows;
    const PortsTable &table = ports.table();
    for (int number = 1; number <= kComNumbers; ++number) {
        const auto &slot = table.at(number);
        const bool doubtful = table.doubts.count(number) > 0;
        if (!slot && !doubtful)
            continue;
        auto adapter = adapterFor(table, number, ports.present());
        Row row{number, adapter ? adapter.value() : nullptr, slot ? slot->name : "", "", ""};
        if (slot && net::looksLikeServerAddress(slot->identity)) {
            if (auto server = net::parseServerAddress(slot->identity)) {
                row.server = server.value();
                rows.push_back(row);
                continue;
            }
        }
        if (slot)
            row.binding = slot->binding() == Binding::UsbPort ? "conector" : "adaptador";
        bool somethingThere = doubtful;
        for (const SerialAdapter &present : ports.present())
            somethingThere = somethingThere || (slot && identityFits(slot->identity, present));
        if (!adapter && somethingThere)
            row.refusal = adapter.error();
        rows.push_back(row);
    }
    for (const SerialAdapter &adapter : ports.present()) {
        if (!table.numberOf(adapter))
            rows.push_back({std::nullopt, &adapter, adapterName(adapter), "", ""});
    }
    return rows;
}

}  // namespace

std::string portListingText(const BenchPorts &ports) {
    std::string text;
    char line[1024];
    std::snprintf(line, sizeof line, "%-5s %-14s %-11s %-9s %-10s %s\n", "COM", "dispositivo",
                  "controlador", "conectado", "enlace", "adaptador");
    text += line;
    for (const Row &row : rowsOf(ports)) {
        const SerialAdapter *adapter = row.adapter;
        std::string notes;
        if (adapter && adapter->console)
            notes += "  (consola del sistema: nunca recibe número por sí sola)";
        if (adapter && adapter->latencyTimerMs)
            notes += "  latencia " + std::to_string(*adapter->latencyTimerMs) + " ms";
        if (adapter && !adapter->byId.empty())
            notes += "  " + adapter->byId;
        if (!row.refusal.empty())
            notes += "  NO SE USA: " + row.refusal;
        if (row.com && BenchPorts::overrideFor(*row.com))
            notes += "  (MARVALO_COM" + std::to_string(*row.com) + " lo lleva a " +
                     *BenchPorts::overrideFor(*row.com) + ")";
        if (row.server) {
            std::snprintf(line, sizeof line, "%-5d %-14s %-11s %-9s %-10s servidor %s%s\n",
                          row.com.value_or(0), safeText(row.server->written).c_str(), "-", "-", "-",
                          row.server->kindName(), safeText(notes).c_str());
            text += line;
            continue;
        }
        std::snprintf(line, sizeof line, "%-5s %-14s %-11s %-9s %-10s %s%s\n",
                      row.com ? std::to_string(*row.com).c_str() : "-",
                      adapter ? safeText(adapter->device).c_str() : "-",
                      adapter ? safeText(adapter->driver).c_str() : "-", adapter ? "sí" : "no",
                      row.binding.empty() ? "-" : row.binding.c_str(), safeText(row.name).c_str(),
                      safeText(notes).c_str());
        text += line;
    }
    if (ports.table().com == PortsTable{}.com && ports.present().empty())
        text +=
            "No se encontró ningún adaptador serie. Conecte uno, o compruebe que el usuario "
            "está en el grupo dueño del dispositivo (normalmente dialout).\n";
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
            {"binding",
             row.binding.empty()
                 ? nullptr
                 : nlohmann::ordered_json(row.binding == "conector" ? "usb-port" : "adapter")},
        };
        if (!row.refusal.empty())
            port["refused"] = safeText(row.refusal);
        if (row.server) {
            port["device"] = safeText(row.server->written);
            port["present"] = nullptr;  // known only on connecting
            port["binding"] = nullptr;
            port["server"] = row.server->kindName();
        }
        if (adapter && adapter->usb) {
            const UsbIdentity &usb = *adapter->usb;
            port["vendor_id"] = safeText(usb.vendorId);
            port["product_id"] = safeText(usb.productId);
            port["maker"] = safeText(usb.maker);
            port["product"] = safeText(usb.product);
            port["serial"] = safeText(usb.serial);
            port["interface"] = usb.interfaceNumber;
            port["port_number"] = usb.portNumber;
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
