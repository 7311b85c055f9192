#include "core/ports/ports_table.h"

#include <algorithm>

#include "core/text/key_value_text.h"

namespace marvalo {
namespace {

std::string sectionOf(int number) {
    return "com" + std::to_string(number);
}

}  // namespace

std::optional<int> PortsTable::numberOf(const std::string &identity) const {
    for (int number = 1; number <= kComNumbers; ++number) {
        if (at(number) && at(number)->identity == identity)
            return number;
    }
    return std::nullopt;
}

bool numberNewAdapters(PortsTable &table, const std::vector<SerialAdapter> &present) {
    bool changed = false;
    for (const SerialAdapter &adapter : present) {
        const std::string identity = adapterIdentity(adapter);
        if (auto number = table.numberOf(identity)) {
            std::string &name = table.at(*number)->name;
            if (name != adapterName(adapter)) {
                name = adapterName(adapter);
                changed = true;
            }
            continue;
        }
        if (adapter.console)
            continue;  // writing requests to the system console helps nobody
        if (std::find(table.released.begin(), table.released.end(), identity) !=
            table.released.end())
            continue;
        auto free = std::find_if(table.com.begin(), table.com.end(),
                                 [](const auto &slot) { return !slot.has_value(); });
        if (free == table.com.end())
            continue;
        *free = ComSlot{identity, adapterName(adapter), false};
        changed = true;
    }
    return changed;
}

const SerialAdapter *adapterAt(const PortsTable &table, int number,
                               const std::vector<SerialAdapter> &present) {
    if (number < 1 || number > kComNumbers || !table.at(number))
        return nullptr;
    for (const SerialAdapter &adapter : present) {
        if (adapterIdentity(adapter) == table.at(number)->identity)
            return &adapter;
    }
    return nullptr;
}

std::string comUnavailableReason(const PortsTable &table, int number,
                                 const std::vector<SerialAdapter> &present) {
    std::string reason = number >= 1 && number <= kComNumbers && table.at(number)
                             ? "su adaptador (" + table.at(number)->name + ") no está conectado"
                             : std::string("no tiene adaptador");
    std::string connected;
    for (int other = 1; other <= kComNumbers; ++other) {
        if (const SerialAdapter *adapter = adapterAt(table, other, present))
            connected += std::string(connected.empty() ? "" : ", ") + "COM " +
                         std::to_string(other) + " (" + adapterName(*adapter) + ")";
    }
    if (connected.empty())
        return reason +
               ". No hay ningún adaptador serie con número conectado; vea \"Puertos "
               "serie…\" (F3) o marvalo-send --list-ports";
    return reason + ". Conectados: " + connected;
}

constexpr const char *kReleasedSection = "released";
constexpr const char *kListSeparator = " ; ";

std::string formatPortsTable(const PortsTable &table) {
    std::string text =
        "# Marvalo's COM numbers: which serial adapter each one stands for.\n"
        "# Kept by the program; \"Puertos serie…\" (F3) in the panel changes it.\n";
    if (!table.released.empty()) {
        std::string identities;
        for (const std::string &identity : table.released)
            identities += (identities.empty() ? "" : kListSeparator) + identity;
        text += "\n[" + std::string(kReleasedSection) + "]\n" +
                formatKeyValues({{"identities", identities}});
    }
    for (int number = 1; number <= kComNumbers; ++number) {
        const auto &slot = table.at(number);
        if (!slot)
            continue;
        text += "\n[" + sectionOf(number) + "]\n" +
                formatKeyValues({{"identity", slot->identity},
                                 {"name", slot->name},
                                 {"kernel_rs485", slot->kernelRs485 ? "true" : "false"}});
    }
    return text;
}

Result<PortsTable, std::string> parsePortsTable(std::string_view text) {
    PortsTable table;
    for (const auto &[key, value] : parseKeyValues(text)) {
        const auto dot = key.find('.');
        const std::string section = key.substr(0, dot);
        const std::string field = dot == std::string::npos ? "" : key.substr(dot + 1);
        if (section == kReleasedSection && field == "identities") {
            for (std::size_t from = 0; from < value.size();) {
                const std::size_t end = value.find(kListSeparator, from);
                const std::string identity = value.substr(from, end - from);
                if (!identity.empty())
                    table.released.push_back(identity);
                from = end == std::string::npos ? value.size() : end + 3;
            }
            continue;
        }
        int number = 0;
        for (int candidate = 1; candidate <= kComNumbers; ++candidate) {
            if (section == sectionOf(candidate))
                number = candidate;
        }
        if (number == 0) {
            return "la sección \"" + section + "\" no es ninguna de com1 a com" +
                   std::to_string(kComNumbers);
        }
        auto &slot = table.at(number);
        if (!slot)
            slot = ComSlot{};
        if (field == "identity") {
            slot->identity = value;
        } else if (field == "name") {
            slot->name = value;
        } else if (field == "kernel_rs485") {
            if (value != "true" && value != "false")
                return "kernel_rs485 de " + section + " es \"" + value + "\"; admite true o false";
            slot->kernelRs485 = value == "true";
        } else {
            return "la clave \"" + key + "\" no es identity, name ni kernel_rs485";
        }
    }
    for (int number = 1; number <= kComNumbers; ++number) {
        const auto &slot = table.at(number);
        if (slot && slot->identity.empty())
            return sectionOf(number) + " no tiene identity";
        if (slot && table.numberOf(slot->identity) != number)
            return "el adaptador " + slot->identity + " tiene dos números";
    }
    return table;
}

}  // namespace marvalo
