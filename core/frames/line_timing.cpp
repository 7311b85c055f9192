#include "core/frames/line_timing.h"

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

}  // namespace

int bitsPerCharacter(int dataBits, bool parity, int stopBits) {
    return 1 + dataBits + (parity ? 1 : 0) + stopBits;
}

int replyWaitMsAt(int baud, ExchangeMode mode) {
    constexpr double kBitsPerReply = 200.0;
    constexpr double kMargin = 150.0;
    constexpr double kSingleExtra = 1000.0;
    double wait = kBitsPerReply / baud * 1000.0 + kMargin;
    if (mode == ExchangeMode::Single) {
        wait += kSingleExtra;
    }
    // nearbyint follows the default rounding mode: to nearest, ties to even.
    return static_cast<int>(std::nearbyint(wait));
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

std::int64_t replyWithinUs(int baud, int bitsPerChar, int replyBytes) {
    constexpr std::int64_t kThinkUs = 4000;
    constexpr int kMarginCharacters = 4;
    return frameGapUs(baud, bitsPerChar) +
           charactersUs(replyBytes + kMarginCharacters, baud, bitsPerChar) + kThinkUs;
}

}  // namespace marvalo
