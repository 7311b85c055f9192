#include "panel/protocol_view.h"

namespace marvalo {

std::optional<ProtocolView> viewFor(std::uint8_t protocol) {
    if (!isProtocol(protocol))
        return std::nullopt;
    return kProtocolViews[protocol];
}

std::string baudHandlerSettings(std::string_view baudItem, std::uint8_t protocol) {
    const std::string_view suffix = protocol == static_cast<std::uint8_t>(Protocol::Iso1745)
                                        ? kProtocolViews[protocol].settingsSuffix
                                        : kBaudHandlerPlainSuffix;
    return std::string(baudItem) + std::string(suffix);
}

std::optional<std::uint8_t> nextProtocol(std::uint8_t protocol) {
    if (!isProtocol(protocol))
        return std::nullopt;
    return static_cast<std::uint8_t>((protocol + 1) % kProtocolCount);
}

}  // namespace marvalo
