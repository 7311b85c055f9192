// How much longer than its own waits one continuous exchange takes, and the
// CPU it costs, through the real termios layer against marvalo-sim.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/target.h"
#include "core/frames/check_codes.h"
#include "core/frames/request.h"
#include "core/verdicts/verdict.h"
#include "link/exchange.h"
#include "link/termios_port.h"
#include "tests/sim_process.h"

namespace {

using namespace marvalo;
using Clock = std::chrono::steady_clock;

// Precise to the nanosecond, unlike getrusage's tick-sampled figures.
double cpuSeconds() {
    struct timespec used {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
    return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) / 1e9;
}

void measure(const std::string &device, int baudIndex, int exchanges) {
    TermiosPort port;
    port.setDevicePath(device);
    const std::string settings =
        std::string(kBaudRates[static_cast<std::size_t>(baudIndex)].itemText) + ",n,8,1";
    if (!port.setSettings(settings)) {
        std::fprintf(stderr, "settings refused\n");
        return;
    }
    ThreadSleeper sleeper;
    std::int32_t noReply = 0;
    ExchangeSetup setup;
    setup.mode = ExchangeMode::Continuous;
    setup.protocol = 0;
    setup.baudIndex = static_cast<std::uint8_t>(baudIndex);
    setup.baudSelection = baudIndex;
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    setup.inputs.instructionText = "D";
    const double waitMs = replyWaitMs(baudIndex, ExchangeMode::Continuous);

    std::vector<double> overheadMs;
    const double cpuBefore = cpuSeconds();
    for (int i = 0; i < exchanges; ++i) {
        const auto start = Clock::now();
        const ExchangeOutcome outcome = runExchange(port, sleeper, setup, noReply);
        const double elapsed =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (outcome.kind != ExchangeOutcome::Kind::Shown) {
            std::fprintf(stderr, "exchange %d: no reply shown (%s)\n", i, outcome.failure.c_str());
        }
        overheadMs.push_back(elapsed - waitMs);
    }
    const double cpuMs = (cpuSeconds() - cpuBefore) * 1000.0 / exchanges;

    // On a virtual machine the wake-up from a long idle sleep is itself
    // charged as CPU time; measure it alone so the exchange's own share shows.
    const double idleBefore = cpuSeconds();
    for (int i = 0; i < exchanges; ++i) {
        sleeper.sleepMs(static_cast<int>(waitMs));
    }
    const double idleMs = (cpuSeconds() - idleBefore) * 1000.0 / exchanges;
    double sum = 0;
    for (double v : overheadMs)
        sum += v;
    std::printf(
        "%6d baud: %3d exchanges, wait %4.0f ms; an idle %.0f ms sleep alone costs %.3f ms "
        "of CPU here\n",
        kBaudRates[static_cast<std::size_t>(baudIndex)].bitsPerSecond, exchanges, waitMs, waitMs,
        idleMs);
    using bench::Bound;
    bench::figure("beyond the wait, mean", sum / exchanges, "ms", Bound::AtMost, 2);
    bench::figure("beyond the wait, max", *std::max_element(overheadMs.begin(), overheadMs.end()),
                  "ms", Bound::AtMost, 5);
    bench::figure("CPU per exchange, less the idle sleep's", cpuMs - idleMs, "ms", Bound::AtMost,
                  1);
}

// Judging must cost nothing next to the wait: the longest reply the panel
// asks for is 125 words, 255 bytes.
void measureJudging() {
    const Bytes request = BuildRequest(2,
                                       [] {
                                           RequestInputs inputs;
                                           inputs.addressNumber = 1;
                                           inputs.instructionText = "0";
                                           inputs.wordCountText = "125";
                                           inputs.functionIndex = 0;
                                           return inputs;
                                       }())
                              .value();
    Bytes reply = {1, 3, 250};
    reply.resize(253, 0x42);
    const Bytes crc = CalcCRC(reply);
    reply.insert(reply.end(), crc.begin(), crc.end());
    constexpr int kRounds = 100000;
    std::size_t good = 0;
    const auto start = Clock::now();
    for (int i = 0; i < kRounds; ++i) {
        good += judgeReply(2, request, reply).kind == VerdictKind::Ok;
    }
    const double us =
        std::chrono::duration<double, std::micro>(Clock::now() - start).count() / kRounds;
    std::printf("judging: %zu of %d replies ok\n", good, kRounds);
    bench::figure("judging a 255-byte Modbus reply", us, "us", bench::Bound::AtMost, 5);
}

}  // namespace

int main() {
    measureJudging();
    marvalo::testing::SimProcess sim;
    std::printf("exchange_timing: continuous Korvel exchanges on a pty against marvalo-sim\n");
    measure(sim.devicePath(), 0, 20);
    measure(sim.devicePath(), 4, 40);
    return 0;
}
