// A bus scan of 1-247 against one simulated unit on a pty at 19200 and at
// 115200 baud, and --until-complete polling at 115200 against the same
// simulator, then mbpoll polling it as fast as it lets itself.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench/target.h"
#include "tests/run_program.h"
#include "tests/sim_process.h"

namespace {

using namespace marvalo::testing;

constexpr const char *kMbpoll = "/usr/bin/mbpoll";

double secondsOf(const std::vector<std::string> &argv, ProgramRun &run) {
    const auto start = std::chrono::steady_clock::now();
    run = runProgram(argv);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void scan(const char *baud, double aimSeconds) {
    SimProcess sim({"--address", "17", "--settings", std::string(baud) + ",n,8,1"});
    ProgramRun run;
    const double seconds = secondsOf({MARVALO_SEND_PATH, "--device", sim.devicePath(), "--baud",
                                      baud, "--scan", "1-247", "--json"},
                                     run);
    const bool found = run.out.find("\"address\":17") != std::string::npos;
    std::printf("scan 1-247 at %s baud: %.1f ms a probe, unit 17 %s\n", baud, seconds * 1000 / 247,
                found ? "found" : "NOT FOUND");
    marvalo::bench::figure("the whole scan", seconds, "s", marvalo::bench::Bound::AtMost,
                           aimSeconds);
}

}  // namespace

int main() {
    scan("19200", 4);
    scan("115200", 2);

    SimProcess sim({"--settings", "115200,n,8,1"});
    constexpr int kExchanges = 500;
    ProgramRun run;
    const double seconds =
        secondsOf({MARVALO_SEND_PATH, "--device", sim.devicePath(), "--baud", "115200", "modbus",
                   "--address", "1", "--function", "3", "--start", "0", "--words", "10", "--count",
                   std::to_string(kExchanges), "--until-complete"},
                  run);
    const double ours = kExchanges / seconds;
    std::printf("polling 10 registers at 115200 baud, --until-complete: %.0f exchanges/s\n", ours);
    if (!std::filesystem::exists(kMbpoll)) {
        std::printf("mbpoll: absent (Debian mbpoll), no comparison\n");
        return 0;
    }
    // mbpoll polls on a timer of at least 11 ms; its fastest is what a
    // bench engineer gets from it.
    constexpr int kMbpollMs = 5000;
    const ProgramRun theirs = runProgram(
        {kMbpoll, "-m", "rtu", "-a", "1",  "-b", "115200", "-P", "none", "-t",
         "4",     "-r", "1",   "-c", "10", "-l", "11",     "-o", "0.5",  sim.devicePath()},
        {false, kMbpollMs, SIGINT});
    long polls = 0;
    for (std::size_t at = theirs.out.find("\n[1]:"); at != std::string::npos;
         at = theirs.out.find("\n[1]:", at + 1))
        ++polls;
    const double mbpoll = polls * 1000.0 / kMbpollMs;
    std::printf("mbpoll -l 11 on the same pty and simulator: %.0f polls/s; ratio %.2f\n", mbpoll,
                mbpoll > 0 ? ours / mbpoll : 0.0);
}
