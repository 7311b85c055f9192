#pragma once

#include <cstdint>

namespace marvalo {

// Control characters of the text protocols' frames.
inline constexpr std::uint8_t kSoh = 0x01;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kCr = 0x0D;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kKorvelStart = '*';

}  // namespace marvalo
