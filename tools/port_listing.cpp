#include "tools/port_listing.h"

#include <algorithm>
#include <array>
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
        // A refused number still shows what is plugged in for it.
        const SerialAdapter *there = adapter ? adapter.value() : nullptr;
        for (const SerialAdapter &present : ports.present()) {
            if (!there && slot && slot->identity.fits(present))
                there = &present;
        }
        Row row{number, there, there ? adapterName(*there) : slot ? slot->name : "", "", "", {}};
        if (const auto *server = slot ? slot->identity.as<ServerId>() : nullptr) {
            row.server = server->address;
            rows.push_back(row);
            continue;
        }
        if (slot)
            row.binding = slot->binding() == Binding::UsbPort ? "conector" : "adaptador";
        if (!adapter && (doubtful || there))
            row.refusal = adapter.error();
        rows.push_back(row);
    }
    for (const SerialAdapter &adapter : ports.present()) {
        if (!table.numberOf(adapter))
            rows.push_back({std::nullopt, &adapter, adapterName(adapter), "", "", {}});
    }
    return rows;
}

// A column as wide as `width` characters (not bytes: "sí"), never cut.
std::string padded(const std::string &text, std::size_t width) {
    const auto characters = static_cast<std::size_t>(std::ranges::count_if(
        text, [](char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }));
    return text + std::string(width > characters ? width - characters : 0, ' ') + " ";
}

std::string lineOf(const std::array<std::string, 5> &columns, const std::string &rest) {
    constexpr std::array<std::size_t, 5> kWidths{5, 14, 11, 9, 10};
    std::string line;
    for (std::size_t column = 0; column < columns.size(); ++column)
        line += padded(columns[column], kWidths[column]);
    return line + rest + "\n";
}

}  // namespace

std::string portListingText(const BenchPorts &ports) {
    std::string text =
        lineOf({"COM", "dispositivo", "controlador", "conectado", "enlace"}, "adaptador");
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
            text += lineOf(
                {std::to_string(row.com.value_or(0)), safeText(row.server->written), "-", "-", "-"},
                std::string("servidor ") + row.server->kindName() + safeText(notes));
            continue;
        }
        text += lineOf(
            {row.com ? std::to_string(*row.com) : "-", adapter ? safeText(adapter->device) : "-",
             adapter ? safeText(adapter->driver) : "-", adapter ? "sí" : "no",
             row.binding.empty() ? "-" : row.binding},
            safeText(row.name) + safeText(notes));
    }
    if (ports.table().com == PortsTable{}.com && ports.present().empty())
        text +=
            "No se encontró ningún adaptador serie. Conecte uno, o compruebe que el usuario "
            "está en el grupo dueño del dispositivo (normalmente dialout).\n";
    return text + "Tabla de puertos: " + safeText(ports.tableFile().string()) + "\n";
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
