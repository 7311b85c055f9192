#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/ports/ports_table.h"
#include "files/ports_file.h"
#include "link/port_discovery.h"
#include "link/port_names.h"

namespace marvalo {

// What a change did, to be told to the operator.
struct Said {
    std::string text;
};

// The bench's COM numbers: what is plugged in (from the kernel), which
// number each adapter keeps (the ports table, read again at every look, so
// another program's change counts at once), and the map the port opens
// through. $MARVALO_COMn still wins, so a simulator or a script can point a
// number anywhere. An adapter plugged in again works at the next open,
// under whatever ttyUSBn it came back as.
class BenchPorts final : public PortMap {
  public:
    explicit BenchPorts(PortsTablePlace place,
                        DiscoveryRoots roots = DiscoveryRoots::fromEnvironment());
    explicit BenchPorts(const std::filesystem::path &tableFile,
                        DiscoveryRoots roots = DiscoveryRoots::fromEnvironment())
        : BenchPorts(PortsTablePlace{tableFile, tableFile}, std::move(roots)) {}

    // Reads the table and what is present again, and gives adapters seen
    // for the first time the lowest numbers never used (a locked merge).
    void refresh();

    Result<MappedDevice, std::string> resolve(int commPort) override;
    Result<MappedDevice, std::string> lastSeen(int commPort) override;

    const PortsTable &table() const { return table_; }
    const std::vector<SerialAdapter> &present() const { return present_; }
    // The table file in use now, to name to the operator.
    std::filesystem::path tableFile() const { return place_.inUse(); }
    // False when the file could not be read whole: then no number is used.
    bool usable() const { return usable_; }
    // The adapters present that have no number.
    std::vector<SerialAdapter> unnumbered() const;
    // What a refusal ends with: where the operator changes the numbers
    // (F3 in the panel, options in a tool).
    void setHint(std::string hint) { hint_ = std::move(hint); }
    // The device $MARVALO_COMn points COM n at, if any.
    static std::optional<std::string> overrideFor(int commPort);

    // The operator's changes, each merged into the table as it is on disk
    // under its lock and in force at the next open, and refused when that
    // table is no longer what the operator was shown (`seen`). On refusal,
    // why; an assignment says what it did (assignmentText).
    Result<Said, std::string> assignServer(int commPort, const net::ServerAddress &address,
                                           const AsSeen &seen = {});
    Result<Said, std::string> assign(int commPort, const SerialAdapter &adapter,
                                     bool consoleConfirmed = false, const AsSeen &seen = {});
    Result<Done, std::string> swap(int first, int second, const AsSeen &seen = {});
    Result<Done, std::string> release(int commPort, const AsSeen &seen = {});
    Result<Done, std::string> bind(int commPort, Binding binding, const AsSeen &seen = {});
    Result<Done, std::string> setKernelRs485(int commPort, bool on, const AsSeen &seen = {});

    // How often the table file was read and the kernel's ports listed:
    // resolving costs nothing more while nothing changed.
    struct Looks {
        long tableReads = 0;
        long listings = 0;
    };
    const Looks &looks() const { return looks_; }

    // What to tell the operator once: a damaged or unreadable table, clones
    // that share a serial number, a failed save; then cleared.
    std::optional<std::string> takeProblem();

  private:
    Result<Done, std::string> change(const PortsChange &what, const AsSeen &seen = {});
    void reload();
    void tell(const std::string &text);

    PortsTablePlace place_;
    DiscoveryRoots roots_;
    PortsTable table_;
    bool usable_ = true;
    std::vector<SerialAdapter> present_;
    std::optional<std::string> problem_;
    std::set<std::string> told_;
    std::string hint_ = "vea \"Puertos serie…\" (F3)";
    // The table file as last read (device, inode, size, change times): a
    // file that is still the same is not read again.
    std::optional<std::array<std::int64_t, 6>> tableStamp_;
    // The table as it was when numbering new adapters could not be saved
    // (a hung lock holder, a read-only folder): not tried again, nor waited
    // for again, until the file changes.
    bool numberingFailed_ = false;
    std::optional<std::array<std::int64_t, 6>> failedStamp_;
    Looks looks_;
};

}  // namespace marvalo
