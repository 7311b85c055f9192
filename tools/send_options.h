#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/records/register_values.h"
#include "core/result.h"
#include "core/settings/panel_state.h"
#include "core/settings/settings_line.h"
#include "tools/port_commands.h"
#include "tools/request_args.h"
#include "tools/send_line.h"

namespace marvalo {

// What marvalo-send's exit status says, for scripts.
inline constexpr int kExitAllGood = 0;
inline constexpr int kExitNoReply = 1;
inline constexpr int kExitRejected = 2;
inline constexpr int kExitBadReply = 3;
inline constexpr int kExitPortFailed = 4;
inline constexpr int kExitUsage = 64;

struct SendOptions {
    std::optional<int> port;
    std::optional<std::string> device;
    std::vector<int> bauds;  // one, or with --scan a list
    std::optional<std::uint8_t> linkType;
    std::vector<Parity> parities;  // one, or with --scan a list
    std::optional<int> dataBits;
    std::optional<int> stopBits;
    std::optional<std::string> settingsFile;
    bool continuous = false;
    std::optional<int> waitMs;
    bool untilComplete = false;
    long count = 1;
    bool repeatGiven = false;  // --count or --interval
    int intervalMs = 0;
    bool json = false;
    bool influx = false;  // --format influx: InfluxDB's line protocol
    bool listPorts = false;
    std::optional<PortCommand> portCommand;  // a change of the ports table, then exit
    bool kernelRs485 = false;
    std::optional<int> connectTimeoutMs;
    std::optional<RegisterView> registers;
    std::optional<std::string> pcap;
    // A bus scan
    std::optional<std::string> scanList;   // as given
    std::optional<std::vector<int>> scan;  // the addresses, read from it
    std::optional<int> probe;              // the function asked
    // Test plans
    std::optional<std::string> plan;
    bool check = false;
    std::optional<std::string> junit;
    bool tap = false;
    std::optional<std::string> suiteName;
    std::vector<std::pair<std::string, std::string>> properties;
};

// The whole command line, or what to do instead of a run: --help and
// --version print and end (exit 0), a wrong line ends with kExitUsage.
struct CommandLine {
    SendOptions options;
    RequestArgs request;
};
struct CommandLineEnd {
    int status;
};
Result<CommandLine, CommandLineEnd> parseCommandLine(int argc, char **argv);

// The problem and the usage on stderr; kExitUsage.
int usage(const std::string &problem);

// The command line's line, over a bench's settings file where one is given.
SendLine lineFrom(const SendOptions &options, const std::optional<SettingsValues> &bench);

}  // namespace marvalo
