#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace marvalo {

// What a line speaks and how it is wired, for every program: the panel, the
// command line, plans, captures. The panel's remembered state stores these
// as the digits its settings file holds.

// The protocol button steps through them in this order; any other stored
// value is a damaged settings line.
enum class Protocol : std::uint8_t { Korvel = 0, Iso1745 = 1, Modbus = 2 };
inline constexpr std::size_t kProtocolCount = 3;
inline constexpr bool isProtocol(std::uint8_t value) {
    return value < kProtocolCount;
}
// "korvel", "iso1745", "modbus": for command lines and files.
inline constexpr std::array<std::string_view, kProtocolCount> kProtocolKeys{"korvel", "iso1745",
                                                                            "modbus"};

enum class LinkType : std::uint8_t { Rs232 = 0, Rs485 = 1 };
inline constexpr std::array<std::string_view, 2> kLinkTypeNames{"RS232", "RS485"};

// A character's parity bit, as a settings string's letter ('n', 'e', 'o')
// and as command lines and plans name it ("none", "even", "odd").
enum class Parity : std::uint8_t { None = 0, Even = 1, Odd = 2 };
inline constexpr std::array<std::string_view, 3> kParityKeys{"none", "even", "odd"};
inline constexpr char parityLetter(Parity parity) {
    return std::array{'n', 'e', 'o'}[static_cast<std::size_t>(parity)];
}
inline constexpr std::optional<Parity> parityFromKey(std::string_view key) {
    for (std::size_t i = 0; i < kParityKeys.size(); ++i) {
        if (kParityKeys[i] == key)
            return static_cast<Parity>(i);
    }
    return std::nullopt;
}

}  // namespace marvalo
