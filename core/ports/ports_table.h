#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/ports/serial_adapter.h"
#include "core/result.h"

namespace marvalo {

inline constexpr int kComNumbers = 5;

// What one COM number stands for: an adapter by identity, the name it had
// when last seen (to say what is missing), and how RS485 is switched.
struct ComSlot {
    std::string identity;
    std::string name;
    bool kernelRs485 = false;  // the driver switches the transceiver, not our timed RTS

    bool operator==(const ComSlot &) const = default;
};

// COM 1..5 by adapter identity; index 0 is COM 1.
struct PortsTable {
    std::array<std::optional<ComSlot>, kComNumbers> com;
    // Adapters the operator freed: seen before, so never numbered again by
    // themselves.
    std::vector<std::string> released;

    bool operator==(const PortsTable &) const = default;
    const std::optional<ComSlot> &at(int number) const {
        return com[static_cast<std::size_t>(number - 1)];
    }
    std::optional<ComSlot> &at(int number) { return com[static_cast<std::size_t>(number - 1)]; }
    // The COM number an identity holds, if any.
    std::optional<int> numberOf(const std::string &identity) const;
};

// Adapters seen for the first time take the lowest free COM numbers, in the
// order given; the console never takes one by itself, and adapters beyond
// COM 5 stay without. The names of the numbered ones follow what is seen.
// True when the table changed and is worth saving.
bool numberNewAdapters(PortsTable &table, const std::vector<SerialAdapter> &present);

// The adapter behind COM `number`, when it has one and it is plugged in.
const SerialAdapter *adapterAt(const PortsTable &table, int number,
                               const std::vector<SerialAdapter> &present);

// Why COM `number` cannot be opened, naming what is there instead:
// "no tiene adaptador. Conectados: COM 1 (FTDI …), COM 2 (CH340 …)".
std::string comUnavailableReason(const PortsTable &table, int number,
                                 const std::vector<SerialAdapter> &present);

// The file's text: a section per COM number with an adapter.
//   [com2]
//   identity = usb-serial:A50285BI:0
//   name = FTDI FT232R USB UART, nº A50285BI
//   kernel_rs485 = false
std::string formatPortsTable(const PortsTable &table);
// On a damaged text, why (Spanish); the caller starts an empty table then.
Result<PortsTable, std::string> parsePortsTable(std::string_view text);

}  // namespace marvalo
