#include "core/frames/line_timing.h"

#include <algorithm>
#include <cmath>

#include "core/settings/panel_state.h"

namespace marvalo {
namespace {

constexpr std::int64_t kUsPerSecond = 1'000'000;

// Microseconds for `count` characters, rounded up: a wait never ends early.
std::int64_t charactersUs(double count, int baud, int bitsPerChar) {
    return static_cast<std::int64_t>(
        std::ceil(count * bitsPerChar * static_cast<double>(kUsPerSecond) / baud));
}

// The panel's reply wait: 200 bits at the rate and a margin, and a second
// more for a single exchange.
constexpr double kPanelBitsPerReply = 200.0;
int waitMsForBits(double bits, int baud, ExchangeMode mode) {
    constexpr double kMargin = 150.0;
    constexpr double kSingleExtra = 1000.0;
    double wait = bits / baud * 1000.0 + kMargin;
    if (mode == ExchangeMode::Single) {
        wait += kSingleExtra;
    }
    // nearbyint follows the default rounding mode: to nearest, ties to even.
    return static_cast<int>(std::nearbyint(wait));
}

}  // namespace

int bitsPerCharacter(int dataBits, bool parity, int stopBits) {
    return 1 + dataBits + (parity ? 1 : 0) + stopBits;
}

int replyWaitMsAt(int baud, ExchangeMode mode) {
    return waitMsForBits(kPanelBitsPerReply, baud, mode);
}

int replyWaitMsFor(int baud, int bitsPerChar, ExchangeMode mode, std::size_t frameBytes) {
    return waitMsForBits(
        std::max(kPanelBitsPerReply, static_cast<double>(frameBytes) * bitsPerChar), baud, mode);
}

int rs485HoldMsAt(int baud, int bitsPerChar) {
    for (const BaudRate &rate : kBaudRates) {
        if (rate.bitsPerSecond == baud)
            return rate.rs485HoldMs;
    }
    return static_cast<int>((frameGapUs(baud, bitsPerChar) + 999) / 1000);
}

std::int64_t frameGapUs(int baud, int bitsPerChar) {
    constexpr int kFixedAbove = 19200;
    constexpr std::int64_t kFixedGapUs = 1750;
    return baud > kFixedAbove ? kFixedGapUs : charactersUs(3.5, baud, bitsPerChar);
}

std::int64_t replyWithinUs(int baud, int bitsPerChar, std::size_t requestBytes,
                           std::size_t replyBytes) {
    return charactersUs(static_cast<double>(requestBytes + replyBytes), baud, bitsPerChar) +
           frameGapUs(baud, bitsPerChar) + std::int64_t{kScanTurnaroundMs} * 1000;
}

}  // namespace marvalo
