#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marvalo {

// Requests and replies: one 8-bit character per byte, any value 0..255.
using Bytes = std::vector<std::uint8_t>;

// "2A 30 31 0D": the form bench engineers paste into terminals.
std::string toHex(const Bytes &bytes);

// The other way: "2A30310D" or "2A 30 31 0D"; nothing for odd or non-hex text.
std::optional<Bytes> bytesFromHexText(std::string_view hex);

Bytes bytesOf(std::string_view text);
std::string textOf(const Bytes &bytes);

}  // namespace marvalo
