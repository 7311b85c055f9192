#include "ports/bench_ports.h"

#include <sys/stat.h>

#include <cstdlib>

#include "core/text/byte_text.h"
#include "files/ports_file.h"

namespace marvalo {
namespace {

PortsChange operatorChange(std::function<Result<Done, std::string>(PortsTable &)> what) {
    return [what = std::move(what)](PortsTable &table) -> Result<bool, std::string> {
        if (auto done = what(table); !done)
            return done.error();
        return true;
    };
}

// A change saved although the number would then be refused, or reach
// another adapter, would say "done" and leave the old number working.
Result<Done, std::string> takesEffect(const PortsTable &table, int commPort,
                                      const SerialAdapter &adapter,
                                      const std::vector<SerialAdapter> &present) {
    if (auto reaches = reachesAdapter(table, commPort, adapter, present); !reaches)
        return "el cambio no valdría, porque COM " + std::to_string(commPort) + " " +
               reaches.error();
    return Done{};
}

}  // namespace

BenchPorts::BenchPorts(PortsTablePlace place, DiscoveryRoots roots)
    : place_(std::move(place)), roots_(std::move(roots)) {
    refresh();
}

void BenchPorts::tell(const std::string &text) {
    if (!told_.insert(text).second)
        return;
    problem_ = problem_ ? *problem_ + "\n" + text : text;
}

void BenchPorts::reload() {
    const std::filesystem::path file = place_.inUse();
    struct stat info {};
    std::optional<std::array<std::int64_t, 6>> stamp;
    if (::stat(file.c_str(), &info) == 0)
        stamp = {static_cast<std::int64_t>(info.st_dev),
                 static_cast<std::int64_t>(info.st_ino),
                 static_cast<std::int64_t>(info.st_size),
                 info.st_mtim.tv_sec * 1'000'000'000 + info.st_mtim.tv_nsec,
                 info.st_ctim.tv_sec * 1'000'000'000 + info.st_ctim.tv_nsec,
                 static_cast<std::int64_t>(info.st_nlink)};
    if (stamp && stamp == tableStamp_ && usable_)
        return;
    ++looks_.tableReads;
    tableStamp_ = stamp;
    LoadedPortsTable loaded = loadPortsTable(file);
    table_ = std::move(loaded.table);
    usable_ = loaded.usable;
    if (loaded.problem)
        tell(*loaded.problem);
}

void BenchPorts::refresh() {
    reload();
    present_ = discoverSerialPorts(roots_);
    ++looks_.listings;
    for (const std::string &clones : markSiblings(present_))
        tell(clones);
    PortsTable probe = table_;
    if (!usable_ || (numberingFailed_ && failedStamp_ == tableStamp_))
        return;
    const bool tied = !tieTwins(probe, present_).empty();
    if (!numberNewAdapters(probe, present_) && !tied)
        return;
    const auto present = present_;
    std::vector<std::string> said;
    auto numbered = change([&](PortsTable &table) -> Result<bool, std::string> {
        said = tieTwins(table, present);
        return numberNewAdapters(table, present) || !said.empty();
    });
    if (!numbered) {
        numberingFailed_ = true;
        failedStamp_ = tableStamp_;
        return tell(numbered.error());
    }
    for (const std::string &text : said)
        tell(text);
}

std::optional<std::string> BenchPorts::overrideFor(int commPort) {
    const std::string variable = "MARVALO_COM" + std::to_string(commPort);
    if (const char *mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0')
        return std::string(mapped);
    return std::nullopt;
}

Result<MappedDevice, std::string> BenchPorts::resolve(int commPort) {
    if (overrideFor(commPort))
        return lastSeen(commPort);
    refresh();
    auto mapped = lastSeen(commPort);
    if (!mapped)
        return mapped;
    for (const SerialAdapter &adapter : present_) {
        if (adapter.device == mapped.value().path)
            mapped.value().deviceNumber = deviceNumberOf(roots_, adapter.kernelName);
    }
    return mapped;
}

Result<MappedDevice, std::string> BenchPorts::lastSeen(int commPort) {
    if (auto mapped = overrideFor(commPort))
        return MappedDevice{*mapped, "", false, std::nullopt, std::nullopt, std::nullopt};
    if (!usable_)
        return "la tabla de puertos \"" + safeText(tableFile().string()) +
               "\" no se pudo leer entera; no se usa ningún número hasta arreglarla (o dé "
               "MARVALO_COMn)";
    // A serial server is no adapter in sysfs: the number leads to its
    // address, which the port checks before the first byte goes out. The
    // address is its name; a name saved beside it (copied by hand, or of
    // another case) would name a second server in every message.
    if (const auto *server = serverFor(table_, commPort))
        return MappedDevice{server->written, "", false, std::nullopt, std::nullopt, *server};
    auto adapter = adapterFor(table_, commPort, present_);
    if (!adapter) {
        const std::string where = table_.doubts.count(commPort)
                                      ? " (\"" + safeText(tableFile().string()) + "\")"
                                      : std::string();
        return adapter.error() + where + "; " + hint_;
    }
    const SerialAdapter &found = *adapter.value();
    return MappedDevice{found.device,         adapterName(found), table_.at(commPort)->kernelRs485,
                        found.latencyTimerMs, std::nullopt,       std::nullopt};
}

std::vector<SerialAdapter> BenchPorts::unnumbered() const {
    std::vector<SerialAdapter> without;
    for (const SerialAdapter &adapter : present_) {
        if (!table_.numberOf(adapter))
            without.push_back(adapter);
    }
    return without;
}

Result<Done, std::string> BenchPorts::change(const PortsChange &what, const AsSeen &seen) {
    const auto present = present_;
    auto changed = changePortsTable(place_, [&](PortsTable &table) -> Result<bool, std::string> {
        if (auto still = stillAsSeen(table, seen, present); !still)
            return still.error();
        return what(table);
    });
    if (!changed)
        return changed.error();
    table_ = changed.value();
    return Done{};
}

Result<Said, std::string> BenchPorts::assign(int commPort, const SerialAdapter &adapter,
                                             bool consoleConfirmed, const AsSeen &seen) {
    const auto present = present_;
    std::string said;
    auto assign = [&](PortsTable &table) -> Result<Done, std::string> {
        const PortsTable before = table;  // as read under the lock: what is displaced
        if (auto done = assignNumber(table, commPort, adapter, consoleConfirmed); !done)
            return done;
        said = assignmentText(before, table, commPort, adapterName(adapter), &adapter, present);
        return takesEffect(table, commPort, adapter, present);
    };
    auto assigned = change(operatorChange(assign), seen);
    if (!assigned)
        return assigned.error();
    return Said{said};
}

Result<Said, std::string> BenchPorts::assignServer(int commPort, const net::ServerAddress &address,
                                                   const AsSeen &seen) {
    const auto present = present_;
    std::string said;
    auto assigned =
        change(operatorChange([&](PortsTable &table) -> Result<Done, std::string> {
                   const PortsTable before = table;
                   if (auto done = marvalo::assignServer(table, commPort, address); !done)
                       return done;
                   said = assignmentText(before, table, commPort,
                                         "el servidor serie " + address.written, nullptr, present);
                   return Done{};
               }),
               seen);
    if (!assigned)
        return assigned.error();
    return Said{said};
}

Result<Done, std::string> BenchPorts::swap(int first, int second, const AsSeen &seen) {
    return change(
        operatorChange([&](PortsTable &table) { return swapNumbers(table, first, second); }), seen);
}

Result<Done, std::string> BenchPorts::release(int commPort, const AsSeen &seen) {
    return change(operatorChange([&](PortsTable &table) { return freeNumber(table, commPort); }),
                  seen);
}

Result<Done, std::string> BenchPorts::bind(int commPort, Binding binding, const AsSeen &seen) {
    const auto present = present_;
    auto bound = [&](PortsTable &table) -> Result<Done, std::string> {
        auto before = adapterFor(table, commPort, present);
        if (auto done = bindNumber(table, commPort, binding, present); !done || !before)
            return done;
        return takesEffect(table, commPort, *before.value(), present);
    };
    return change(operatorChange(bound), seen);
}

Result<Done, std::string> BenchPorts::setKernelRs485(int commPort, bool on, const AsSeen &seen) {
    auto set = [&](PortsTable &table) { return marvalo::setKernelRs485(table, commPort, on); };
    return change(operatorChange(set), seen);
}

std::optional<std::string> BenchPorts::takeProblem() {
    return std::exchange(problem_, std::nullopt);
}

}  // namespace marvalo
