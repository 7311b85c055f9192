#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace marvalo {

// Another process that has the same device open.
struct PortHolder {
    int pid = 0;
    std::string program;  // its /proc/PID/comm: "ModemManager"
};

// The other processes holding `device` open, found as fuser finds them:
// every /proc/PID/fd whose target is the same character device. Processes
// we may not look into are passed over; a device that is no character
// device has none. A process that also holds the controlling side of the
// same pty is the line's far end (a simulated instrument), not a rival.
// The scan reads every descriptor of every process, so it stops after
// `budgetUs` with what it found by then.
inline constexpr std::int64_t kHolderScanBudgetUs = 200'000;
std::vector<PortHolder> otherHolders(const std::string &device,
                                     const std::filesystem::path &proc = "/proc",
                                     std::int64_t budgetUs = kHolderScanBudgetUs);

// "el puerto lo tiene abierto también ModemManager (pid 612)", empty for none:
// said beside the verdict, since such a program may eat the reply.
std::string holdersWarning(const std::vector<PortHolder> &holders);

// When to look again: on a line's first exchange (a new line, a single
// send), and after a silent exchange at most every kHolderRecheckUs, the
// last look's finding standing in between. A look costs a stat of every
// descriptor on the machine; continuous sending to a silent unit must not
// pay it at every tick.
inline constexpr std::int64_t kHolderRecheckUs = 5'000'000;
class HolderWatch {
  public:
    // The holders of `device` to say beside this exchange, looked for
    // again when due; nullopt when there is nothing new to say.
    std::optional<std::vector<PortHolder>> after(const std::string &device, bool firstOnLine,
                                                 bool silent, std::int64_t nowUs);

  private:
    std::string device_;
    std::optional<std::int64_t> lookedUs_;
    std::vector<PortHolder> found_;
};

}  // namespace marvalo
