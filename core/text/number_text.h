#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marvalo {

// A whole number as an operator types it: blanks around it, an optional sign
// and decimal digits. Nothing else ("1.5", "12abc", "&H10", "") is a number.
// Values too large for any field come back clamped to +/- 1e9, which every
// range check then refuses with the right message.
std::optional<long> parseDecimal(std::string_view text);

// The same, and only when it lies in min..max (command-line options).
inline std::optional<long> parseDecimalIn(std::string_view text, long min, long max) {
    const auto value = parseDecimal(text);
    if (!value || *value < min || *value > max)
        return std::nullopt;
    return value;
}

// A measured value with a fixed count of decimals and always a point: the
// C library's printf follows the process's LC_NUMERIC, which the panel's
// toolkit sets from the desktop, and a Spanish desktop would write commas
// into files whose readers expect points.
std::string fixedDecimal(double value, int decimals);
// The same with `digits` significant digits, as "%g" writes them ("2e-44",
// "-4e+38", "17.5"), and always a point.
std::string generalDecimal(double value, int digits);

}  // namespace marvalo
