#include "core/bytes.h"

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

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string textOf(const Bytes &bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace marvalo
