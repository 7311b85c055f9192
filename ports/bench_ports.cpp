#include "ports/bench_ports.h"

#include <cstdlib>

#include "files/ports_file.h"

namespace marvalo {

BenchPorts::BenchPorts(std::filesystem::path tableFile, DiscoveryRoots roots)
    : tableFile_(std::move(tableFile)), roots_(std::move(roots)) {
    LoadedPortsTable loaded = loadPortsTable(tableFile_);
    table_ = loaded.table;
    problem_ = loaded.problem;
    refresh();
    if (loaded.problem)
        save();  // rebuilt over the damaged one, even when nothing is plugged in
}

void BenchPorts::refresh() {
    present_ = discoverSerialPorts(roots_);
    if (numberNewAdapters(table_, present_))
        save();
}

Result<MappedDevice, std::string> BenchPorts::resolve(int commPort) {
    const std::string variable = "MARVALO_COM" + std::to_string(commPort);
    if (const char *mapped = std::getenv(variable.c_str()); mapped != nullptr && *mapped != '\0')
        return MappedDevice{mapped, "", false, std::nullopt};
    refresh();
    const SerialAdapter *adapter = adapterAt(table_, commPort, present_);
    if (adapter == nullptr)
        return comUnavailableReason(table_, commPort, present_);
    return MappedDevice{adapter->device, adapterName(*adapter), table_.at(commPort)->kernelRs485,
                        adapter->latencyTimerMs};
}

std::vector<SerialAdapter> BenchPorts::unnumbered() const {
    std::vector<SerialAdapter> without;
    for (const SerialAdapter &adapter : present_) {
        if (!table_.numberOf(adapterIdentity(adapter)))
            without.push_back(adapter);
    }
    return without;
}

void BenchPorts::assign(int commPort, const SerialAdapter &adapter) {
    const std::string identity = adapterIdentity(adapter);
    if (auto held = table_.numberOf(identity))
        table_.at(*held).reset();  // one number per adapter
    if (table_.at(commPort))
        table_.released.push_back(table_.at(commPort)->identity);
    std::erase(table_.released, identity);
    table_.at(commPort) = ComSlot{identity, adapterName(adapter), false};
    save();
}

void BenchPorts::swap(int first, int second) {
    std::swap(table_.at(first), table_.at(second));
    save();
}

void BenchPorts::release(int commPort) {
    if (table_.at(commPort))
        table_.released.push_back(table_.at(commPort)->identity);
    table_.at(commPort).reset();
    save();
}

void BenchPorts::setKernelRs485(int commPort, bool on) {
    if (table_.at(commPort)) {
        table_.at(commPort)->kernelRs485 = on;
        save();
    }
}

std::optional<std::string> BenchPorts::takeProblem() {
    return std::exchange(problem_, std::nullopt);
}

void BenchPorts::save() {
    std::error_code ignored;  // a folder that cannot be made is named by the save
    std::filesystem::create_directories(tableFile_.parent_path(), ignored);
    if (auto saved = savePortsTable(tableFile_, table_); !saved && !problem_)
        problem_ = saved.error();
}

}  // namespace marvalo
