// What resolving the line costs continuous sending to a silent unit: the
// period of marvalo-send --continuous against a pty that never answers,
// over a fabricated sysfs with two adapters, and how often each exchange
// opens the ports table and sysfs (counted with strace when it is there);
// then the same against a unit that answers, whose stats in /proc tell
// whether each exchange scans every process's descriptors.
// Give one or more marvalo-send programs to compare builds:
//   line_resolve build/tools/marvalo-send /work/main/build/tools/marvalo-send
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "files/ports_file.h"
#include "link/exchange.h"
#include "link/port_holders.h"
#include "link/port_line.h"
#include "ports/bench_ports.h"
#include "tests/fake_sysfs.h"
#include "tests/pty_pair.h"
#include "tests/run_program.h"
#include "tests/sim_process.h"

namespace {

namespace fs = std::filesystem;
using namespace marvalo;

constexpr int kExchanges = 30;
constexpr int kWaitMs = 100;

// COM 1 is a silent pty, or the simulator when `answering`: a reply closes
// the line after each exchange and the next opens it again, which must not
// count as a new line (nor cost a look at every descriptor on the machine).
void measure(const std::string &program, bool answering) {
    testing::FakeSysfs tree;
    testing::TempFolder folder;
    testing::PtyPair silentA;
    testing::PtyPair silentB;
    std::optional<testing::SimProcess> sim;
    if (answering)
        sim.emplace();
    tree.plugUsb("ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.2"});
    tree.deviceNode("ttyUSB0", sim ? sim->devicePath() : silentA.devicePath());
    tree.plugUsb("ttyUSB1", {"0403", "6001", "FTDI", "FT232R USB UART", "FTB00002", "1-1.3"});
    tree.deviceNode("ttyUSB1", silentB.devicePath());
    silentA.releaseDevice();
    silentB.releaseDevice();
    const fs::path copy = folder.path() / "marvalo-send";
    fs::copy_file(program, copy);
    ::setenv("MARVALO_SYSFS_ROOT", tree.sysfs().c_str(), 1);
    ::setenv("MARVALO_DEV_ROOT", tree.dev().c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", folder.path().c_str(), 1);
    (void)testing::runProgram({copy.string(), "--list-ports"});  // numbers both
    const std::vector<std::string> send{copy.string(),
                                        "--port",
                                        "1",
                                        "--continuous",
                                        "--count",
                                        std::to_string(kExchanges),
                                        "--wait",
                                        std::to_string(kWaitMs),
                                        "korvel",
                                        "--address",
                                        "01",
                                        "--instruction",
                                        "D"};
    const auto start = std::chrono::steady_clock::now();
    (void)testing::runProgram(send);
    const double elapsedMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%s\n  continuous period against %s: %.1f ms (wait %d ms, +%.2f ms)\n",
                program.c_str(), answering ? "the simulator answering" : "a silent pty",
                elapsedMs / kExchanges, kWaitMs, elapsedMs / kExchanges - kWaitMs);
    if (fs::exists("/usr/bin/strace")) {
        const fs::path trace = folder.path() / "trace";
        std::vector<std::string> traced{
            "/usr/bin/strace", "-f", "-qq", "-e", "trace=openat,newfstatat,stat,statx", "-o",
            trace.string()};
        traced.insert(traced.end(), send.begin(), send.end());
        (void)testing::runProgram(traced);
        long table = 0;
        long sysfs = 0;
        long stats = 0;
        std::ifstream lines(trace);
        for (std::string line; std::getline(lines, line);) {
            const bool open = line.find("openat(") != std::string::npos;
            table += open && line.find(kPortsFileName) != std::string::npos;
            sysfs += open && line.find(tree.sysfs().string()) != std::string::npos;
            stats += !open && line.find("/proc/") != std::string::npos;
        }
        std::printf("  per exchange: %.2f table opens, %.2f sysfs opens, %.1f stats in /proc\n",
                    static_cast<double>(table) / kExchanges,
                    static_cast<double>(sysfs) / kExchanges,
                    static_cast<double>(stats) / kExchanges);
    }
    ::unsetenv("MARVALO_SYSFS_ROOT");
    ::unsetenv("MARVALO_DEV_ROOT");
}

// The panel's own path, in this process: continuous sending at 9600 to a
// silent unit, each tick an exchange and the other-holder look when due,
// and the ports table's own count of reads and listings.
void measurePanelPath() {
    testing::FakeSysfs tree;
    testing::TempFolder folder;
    testing::PtyPair silent;
    tree.plugUsb("ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.2"});
    tree.deviceNode("ttyUSB0", silent.devicePath());
    silent.releaseDevice();
    BenchPorts ports(folder.path() / kPortsFileName, {tree.sysfs(), tree.dev()});
    PortLine port;
    port.setPortMap(ports);
    ExchangeSetup setup;
    setup.mode = ExchangeMode::Continuous;
    setup.baudIndex = 3;  // 9600
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    setup.inputs.instructionText = "D";
    ThreadSleeper sleeper;
    HolderWatch holders;
    std::int32_t noReply = 0;
    constexpr int kTicks = 10;
    const auto before = ports.looks();
    std::uint64_t changesSeen = port.lineChanges();
    // The first tick opens the line and looks for other holders once; the
    // period is what every tick after it costs.
    std::vector<double> tickMs;
    for (int tick = 0; tick < kTicks; ++tick) {
        const auto start = std::chrono::steady_clock::now();
        const ExchangeOutcome outcome = runExchange(port, sleeper, setup, noReply);
        const bool newLine = std::exchange(changesSeen, port.lineChanges()) != port.lineChanges();
        (void)holders.after(port.devicePath(), newLine, outcome.record.reply.empty(),
                            sleeper.steadyUs());
        tickMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    double periodMs = 0;
    for (int tick = 1; tick < kTicks; ++tick)
        periodMs += tickMs[static_cast<std::size_t>(tick)] / (kTicks - 1);
    const auto after = ports.looks();
    const int waitMs = replyWaitMs(3, ExchangeMode::Continuous);
    // The part of the period that is the one look-up each exchange makes.
    constexpr int kLooks = 200;
    const auto looking = std::chrono::steady_clock::now();
    for (int look = 0; look < kLooks; ++look)
        (void)ports.resolve(1);
    const double lookMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - looking)
            .count() /
        kLooks;
    std::printf(
        "panel path, 9600, silent pty\n  continuous period: %.1f ms (wait %d ms, +%.2f "
        "ms; the first tick, which opens the line, %.1f ms); per exchange: %.1f table reads, "
        "%.1f sysfs listings; one look-up %.3f ms\n",
        periodMs, waitMs, periodMs - waitMs, tickMs.front(),
        static_cast<double>(after.tableReads - before.tableReads) / kTicks,
        static_cast<double>(after.listings - before.listings) / kTicks, lookMs);
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> programs(argv + 1, argv + argc);
    if (programs.empty())
        programs.push_back(MARVALO_SEND_PATH);
    measurePanelPath();
    for (const std::string &program : programs) {
        measure(program, false);
        measure(program, true);
    }
    return 0;
}
