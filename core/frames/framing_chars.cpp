#include "core/frames/framing_chars.h"

#include <algorithm>

#include "core/frames/frame_chars.h"
#include "core/settings/panel_state.h"
#include "core/text/byte_text.h"

namespace marvalo {
namespace {

template <typename Forbidden>
std::optional<ForbiddenChar> firstOf(std::string_view text, Forbidden forbidden) {
    const auto found = std::find_if(
        text.begin(), text.end(), [&](char c) { return forbidden(static_cast<std::uint8_t>(c)); });
    if (found == text.end())
        return std::nullopt;
    return ForbiddenChar{static_cast<std::size_t>(found - text.begin()),
                         namedText(Bytes{static_cast<std::uint8_t>(*found)})};
}

}  // namespace

std::optional<ForbiddenChar> controlCharIn(std::string_view text) {
    return firstOf(text, [](std::uint8_t c) { return c < 0x20 || c == 0x7F; });
}

std::optional<ForbiddenChar> framingCharIn(std::uint8_t protocol, std::string_view instruction) {
    if (protocol == static_cast<std::uint8_t>(Protocol::Korvel))
        return firstOf(instruction, [](std::uint8_t c) { return c == kCr; });
    if (protocol == static_cast<std::uint8_t>(Protocol::Iso1745))
        return firstOf(instruction,
                       [](std::uint8_t c) { return c == kSoh || c == kStx || c == kEtx; });
    return std::nullopt;
}

}  // namespace marvalo
