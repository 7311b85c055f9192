#include "core/frames/reply.h"

#include <cmath>

#include "core/settings/panel_state.h"

namespace marvalo {

int replyWaitMs(int baudIndex, ExchangeMode mode) {
    constexpr double kBitsPerReply = 200.0;
    constexpr double kMargin = 150.0;
    constexpr double kSingleExtra = 1000.0;
    const double rate = kBaudRates.at(static_cast<std::size_t>(baudIndex)).bitsPerSecond;
    double wait = kBitsPerReply / rate * 1000.0 + kMargin;
    if (mode == ExchangeMode::Single) {
        wait += kSingleExtra;
    }
    // nearbyint follows the default rounding mode: to nearest, ties to even.
    return static_cast<int>(std::nearbyint(wait));
}

std::string renderModbusReply(const Bytes &reply) {
    std::string text;
    text.reserve(reply.size() * 4);
    for (std::uint8_t byte : reply) {
        text += std::to_string(byte);
        text.push_back('.');
    }
    return text;
}

}  // namespace marvalo
