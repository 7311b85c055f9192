#include "core/frames/reply.h"

#include "core/frames/line_timing.h"
#include "core/settings/panel_state.h"

namespace marvalo {

int replyWaitMs(int baudIndex, ExchangeMode mode) {
    return replyWaitMsAt(kBaudRates.at(static_cast<std::size_t>(baudIndex)).bitsPerSecond, mode);
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
