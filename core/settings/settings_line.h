#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.h"

namespace marvalo {

// The five remembered choices, in the order of the settings line.
struct SettingsValues {
    std::uint8_t linkType = 0;
    std::uint8_t portIndex = 0;
    std::uint8_t addressIndex = 1;
    std::uint8_t baudIndex = 3;
    std::uint8_t protocol = 1;

    bool operator==(const SettingsValues &) const = default;
};

// What the panel shows before any file exists: RS232, COM 1, address 01,
// 9600 baud, ISO 1745 (the line "000131").
inline constexpr SettingsValues kDefaultSettings{};

// The last item of the file: items end at a comma or a line end, a quoted
// item loses its quotes, blank lines are skipped.
std::string lastSettingsItem(std::string_view content);

// Positions 1 to 6 of the item as the five values; characters after the
// sixth are ignored. On failure, why (Spanish, for the operator).
Result<SettingsValues, std::string> parseSettingsLine(std::string_view item);

// "011732": address always two digits. A list without a selection (-1)
// writes the default for its position, so the file always reads back.
std::string formatSettingsLine(std::uint8_t linkType, int portSelection, int addressSelection,
                               int baudSelection, std::uint8_t protocol);

}  // namespace marvalo
