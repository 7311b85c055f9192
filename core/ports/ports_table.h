#pragma once

#include <array>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "core/ports/port_refusal.h"
#include "core/ports/serial_adapter.h"
#include "core/result.h"

namespace marvalo {

inline constexpr int kComNumbers = 5;
// Freed adapters remembered so that they are not numbered again by
// themselves: the newest ones, so a fixture freeing unit after unit never
// grows the table without end.
inline constexpr std::size_t kMaxReleased = 32;

// How a number holds on to what it stands for.
enum class Binding {
    Adapter,  // "por adaptador": this adapter, wherever it is plugged in
    UsbPort,  // "por conector USB": whatever is plugged into this hub port
};

// What one COM number stands for: a target (an adapter, a USB connector, a
// serial server), the name it had when numbered (to say what is missing),
// and how RS485 is switched.
struct ComSlot {
    PortIdentity identity;
    std::string name;
    bool kernelRs485 = false;  // the driver switches the transceiver, not our timed RTS
    bool console = false;      // the operator confirmed that this number is the console
    // Keys this program does not know, kept as they were for whoever wrote them.
    std::vector<std::pair<std::string, std::string>> otherKeys;
    // An entry that cannot be trusted, its lines as they were: written back
    // so that it stays refused until the operator mends or reassigns it.
    std::vector<std::string> keptLines;
    // Where an adapter numbered by its serial alone was plugged then: if a
    // twin with its serial number turns up, the number stays with this
    // connector's adapter.
    std::string seenAt;

    Binding binding() const;
    bool operator==(const ComSlot &) const = default;
};

// COM 1..5 by target; index 0 is COM 1.
struct PortsTable {
    std::array<std::optional<ComSlot>, kComNumbers> com;
    // Numbers the operator freed: empty until the operator assigns them.
    std::set<int> freed;
    // Adapters the operator freed: seen before, so never numbered again by
    // themselves (the newest kMaxReleased).
    std::vector<PortIdentity> released;
    // Numbers whose entry could not be read or says two things, with why
    // and where ("línea 7: …"): never used until the operator assigns them.
    std::map<int, std::string> doubts;
    // Lines outside any entry that could not be read, each named once
    // ("línea 3: …"), dropped at the next save. While there are any, nothing
    // is numbered by itself.
    std::vector<std::string> damage;

    bool operator==(const PortsTable &) const = default;
    const std::optional<ComSlot> &at(int number) const {
        return com[static_cast<std::size_t>(number - 1)];
    }
    std::optional<ComSlot> &at(int number) { return com[static_cast<std::size_t>(number - 1)]; }
    // The COM number whose target fits the adapter, if any.
    std::optional<int> numberOf(const SerialAdapter &adapter) const;
};

bool validComNumber(int number);

// Adapters seen for the first time take the lowest numbers that are free
// and were never freed, in the order given. The console never takes one by
// itself, nor a freed adapter, and none is taken while the table has
// damaged lines (a damaged line may have been a number). True when the
// table changed and is worth saving.
bool numberNewAdapters(PortsTable &table, const std::vector<SerialAdapter> &present);

// Clones seen together: a number that stood for their serial number alone
// is tied to the connector its adapter was numbered at, or freed when that
// is not known (either clone could be its own). What changed, to be said.
std::vector<std::string> tieTwins(PortsTable &table, const std::vector<SerialAdapter> &present);

// The one adapter present behind COM `number`, or why there is none that
// can be trusted: not assigned, damaged entry, not plugged in, two adapters
// fit, the same adapter has another number, it is the console. The
// refusal points into `present`.
Result<const SerialAdapter *, PortRefusal> findAdapter(const PortsTable &table, int number,
                                                       const std::vector<SerialAdapter> &present);
// The same, the refusal said in Spanish.
Result<const SerialAdapter *, std::string> adapterFor(const PortsTable &table, int number,
                                                      const std::vector<SerialAdapter> &present);

// The serial server COM `number` stands for, none while its entry is in
// doubt: a number that cannot be sent on is never shown as usable.
const net::ServerAddress *serverFor(const PortsTable &table, int number);

// Why COM `number` cannot be opened, naming what is there instead:
// "no tiene adaptador. Conectados: COM 1 (FTDI …), COM 2 (CH340 …)".
std::string comUnavailableReason(const PortsTable &table, int number,
                                 const std::vector<SerialAdapter> &present);

// After an operator's change: COM `number` now reaches `adapter`, or why
// not, so that a change that cannot take effect is refused rather than
// saved (Spanish, after "COM n").
Result<Done, std::string> reachesAdapter(const PortsTable &table, int number,
                                         const SerialAdapter &adapter,
                                         const std::vector<SerialAdapter> &present);

// The operator's changes. Each touches only the numbers it names, so that
// applied to a table another program saved meanwhile, it loses nothing of
// theirs. On refusal, why (Spanish).
Result<Done, std::string> assignNumber(PortsTable &table, int number, const SerialAdapter &adapter,
                                       bool consoleConfirmed);
// A serial server's address (rfc2217://, socket://) as what the number stands for.
Result<Done, std::string> assignServer(PortsTable &table, int number,
                                       const net::ServerAddress &address);
Result<Done, std::string> freeNumber(PortsTable &table, int number);
Result<Done, std::string> swapNumbers(PortsTable &table, int first, int second);
Result<Done, std::string> bindNumber(PortsTable &table, int number, Binding binding,
                                     const std::vector<SerialAdapter> &present);
Result<Done, std::string> setKernelRs485(PortsTable &table, int number, bool on);

// What COM `number` stands for, for people: the adapter it reaches, else
// the name it was given, else "nada".
std::string numberName(const PortsTable &table, int number,
                       const std::vector<SerialAdapter> &present);

// What the operator was shown when choosing a change, checked again on the
// table read under its lock just before the change: one another program
// made meanwhile (while a question was open) refuses the operator's rather
// than letting it land on another adapter.
struct SeenNumber {
    int number = 0;
    PortIdentity identity;  // empty: the number stood for nothing
    std::string name;       // as the operator was told it (numberName)
};
struct AsSeen {
    std::vector<SeenNumber> numbers;          // each still standing for what was shown
    std::optional<SerialAdapter> unnumbered;  // still without a number
};
// Why not, naming what was shown and what is there now (Spanish).
Result<Done, std::string> stillAsSeen(const PortsTable &table, const AsSeen &seen,
                                      const std::vector<SerialAdapter> &present);

// What an assignment did, to be said once it is saved: "COM 5 es ahora
// NAME.", then the entry it displaced ("… queda sin número hasta que se le
// asigne uno.", named as numberName names it) and the numbers it left
// empty ("COM 2 queda libre."). `adapter` is null for a serial server.
std::string assignmentText(const PortsTable &before, const PortsTable &after, int number,
                           const std::string &name, const SerialAdapter *adapter,
                           const std::vector<SerialAdapter> &present);

// Before a save: the damaged lines outside entries are dropped (the caller
// keeps the original aside); damaged entries stay as they were.
void settleDoubts(PortsTable &table);

// The file's text, every value escaped so that it reads back byte for byte:
//   [com2]
//   identity = usb-serial:A50285BI:0
//   name = FTDI FT232R USB UART, nº A50285BI
//   binding = adapter
//   kernel_rs485 = false
std::string formatPortsTable(const PortsTable &table);
// Never fails: what cannot be read lands in `damage` and `doubts`.
// Section names are case-insensitive, unknown keys are kept.
PortsTable parsePortsTable(std::string_view text);

}  // namespace marvalo
