#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/ports/ports_table.h"
#include "link/port_discovery.h"
#include "link/port_names.h"

namespace marvalo {

// The bench's COM numbers: what is plugged in (from the kernel), which
// number each adapter keeps (the ports table), and the map the port opens
// through. $MARVALO_COMn still wins, so a simulator or a script can point a
// number anywhere. Every look refreshes what is present: an adapter plugged
// in again works at the next open, under whatever ttyUSBn it came back as.
class BenchPorts final : public PortMap {
  public:
    explicit BenchPorts(std::filesystem::path tableFile,
                        DiscoveryRoots roots = DiscoveryRoots::fromEnvironment());

    // Reads what is present, gives adapters seen for the first time the
    // lowest free numbers and saves the table when it changed.
    void refresh();

    Result<MappedDevice, std::string> resolve(int commPort) override;

    const PortsTable &table() const { return table_; }
    const std::vector<SerialAdapter> &present() const { return present_; }
    const std::filesystem::path &tableFile() const { return tableFile_; }
    // The adapters present that have no number.
    std::vector<SerialAdapter> unnumbered() const;

    // The operator's changes, saved at once and in force at the next open.
    void assign(int commPort, const SerialAdapter &adapter);
    void swap(int first, int second);
    void release(int commPort);
    void setKernelRs485(int commPort, bool on);

    // A damaged table or a failed save, to be told once; then cleared.
    std::optional<std::string> takeProblem();

  private:
    void save();

    std::filesystem::path tableFile_;
    DiscoveryRoots roots_;
    PortsTable table_;
    std::vector<SerialAdapter> present_;
    std::optional<std::string> problem_;
};

}  // namespace marvalo
