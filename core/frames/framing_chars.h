#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace marvalo {

// A character a text may not hold where it goes: where it is (from 0) and
// its name as the line monitor writes it ("<CR>", "<00>").
struct ForbiddenChar {
    std::size_t offset = 0;
    std::string name;
};

// The first control character (C0 or DEL) in a device, a path or a server
// address: a NUL would cut the name short and open another device, a line
// break would make one name two.
std::optional<ForbiddenChar> controlCharIn(std::string_view text);

// The first character of an instruction that ends or starts a frame of its
// protocol on the line: CR ends a Korvel request, so "D\r*02W" would reach
// address 02 as a second one; SOH, STX and ETX frame an ISO 1745 block.
// The panel's box keeps what the operator typed; a plan and the command
// line refuse them.
std::optional<ForbiddenChar> framingCharIn(std::uint8_t protocol, std::string_view instruction);

}  // namespace marvalo
