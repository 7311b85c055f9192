// The --until-complete polling rate through ser2net on loopback against the
// same simulator on its pty directly: what a serial server costs an exchange.
#include <chrono>
#include <cstdio>

#include "bench/target.h"
#include "link/exchange.h"
#include "link/termios_port.h"
#include "tests/ser2net_process.h"
#include "tests/sim_process.h"

namespace {

using namespace marvalo;

// Exchanges per second, each ending as soon as the reply is whole.
double rate(const std::string &device, int exchanges) {
    TermiosPort port;
    port.setDevicePath(device);
    if (!port.setSettings("19200,n,8,1"))
        return 0;
    ThreadSleeper sleeper;
    std::int32_t noReply = 0;
    ExchangeSetup setup;
    setup.protocol = 0;
    setup.baudIndex = 4;
    setup.baudSelection = 4;
    setup.endWhenComplete = true;
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    setup.inputs.instructionText = "D";
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < exchanges; ++i) {
        const ExchangeOutcome outcome = runExchange(port, sleeper, setup, noReply);
        if (outcome.kind != ExchangeOutcome::Kind::Shown) {
            std::fprintf(stderr, "%s, exchange %d: %s\n", device.c_str(), i,
                         outcome.failure.c_str());
            return 0;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return exchanges / seconds;
}

}  // namespace

int main() {
    constexpr int kExchanges = 200;
    testing::SimProcess sim;
    testing::SimProcess other;
    const double direct = rate(sim.devicePath(), kExchanges);
    double held = 0;
    {
        testing::Ser2netProcess server(sim.devicePath(), other.devicePath());
        held = rate(server.rfc2217Url(), kExchanges);
    }
    // ser2net holds what the line sends for up to 20 character times,
    // hoping for more, unless told not to.
    const std::vector<std::string> options = {"chardelay: false"};
    testing::Ser2netProcess server(sim.devicePath(), other.devicePath(), options);
    const double rfc2217 = rate(server.rfc2217Url(), kExchanges);
    testing::Ser2netProcess rawServer(other.devicePath(), sim.devicePath(), options);
    const double raw = rate(rawServer.socketUrl(), kExchanges);
    std::printf(
        "network_rate: Korvel at 19200 baud, --until-complete, %d exchanges each\n"
        "  pty directly:        %7.1f exchanges/s\n"
        "  rfc2217:// ser2net:  %7.1f exchanges/s\n"
        "  socket:// ser2net:   %7.1f exchanges/s\n"
        "  rfc2217:// ser2net with its default chardelay: %.1f exchanges/s, ratio %.2f\n",
        kExchanges, direct, rfc2217, raw, held, held / direct);
    // Through ser2net with chardelay: false, the line's own rate nearly.
    bench::figure("rfc2217:// ser2net, of the direct rate", rfc2217 / direct, "",
                  bench::Bound::AtLeast, 0.9);
    bench::figure("socket:// ser2net, of the direct rate", raw / direct, "", bench::Bound::AtLeast,
                  0.9);
    return 0;
}
