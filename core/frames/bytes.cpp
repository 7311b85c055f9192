#include "core/frames/bytes.h"

namespace marvalo {

std::string toHex(const Bytes &bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 3);
    for (std::uint8_t byte : bytes) {
        if (!hex.empty()) {
            hex.push_back(' ');
        }
        hex.push_back(kDigits[byte >> 4]);
        hex.push_back(kDigits[byte & 0x0F]);
    }
    return hex;
}

std::optional<Bytes> bytesFromHexText(std::string_view hex) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    Bytes bytes;
    int high = -1;
    for (char c : hex) {
        if (c == ' ' && high < 0)
            continue;
        const int value = digit(c);
        if (value < 0)
            return std::nullopt;
        if (high < 0) {
            high = value;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return bytes;
}

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string textOf(const Bytes &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace marvalo
