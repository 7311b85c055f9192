#include "core/text/number_text.h"

#include <charconv>

namespace marvalo {
namespace {

constexpr long kClamp = 1'000'000'000;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::optional<long> parseDecimal(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        if (value < kClamp) {
            value = value * 10 + (c - '0');
        }
    }
    if (value > kClamp) {
        value = kClamp;
    }
    return negative ? -value : value;
}

std::string fixedDecimal(double value, int decimals) {
    char text[64];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("-");
}

std::string generalDecimal(double value, int digits) {
    char text[64];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, digits);
    return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("-");
}

}  // namespace marvalo
