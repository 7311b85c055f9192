#include "core/frames/check_codes.h"

namespace marvalo {

Bytes CalcCRC(std::span<const std::uint8_t> data) {
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t byte : data) {
        crc ^= byte;
        // Bitwise on purpose: eight shifts per byte, as the instruments'
        // firmware computes it, so there is no table to get wrong.
        for (int bit = 0; bit < 8; ++bit) {
            const bool carry = (crc & 1U) != 0;
            crc >>= 1;
            if (carry) {
                crc ^= 0xA001;
            }
        }
    }
    return {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)};
}

bool crcHolds(std::span<const std::uint8_t> frame) {
    constexpr std::size_t kCrcLength = 2;
    if (frame.size() <= kCrcLength)
        return false;
    const Bytes crc = CalcCRC(frame.first(frame.size() - kCrcLength));
    return frame[frame.size() - 2] == crc[0] && frame.back() == crc[1];
}

std::uint8_t CalcBCC(std::span<const std::uint8_t> body) {
    // The address digits and STX (positions 1 to 3) stay out of the check.
    constexpr std::size_t kFirstChecked = 3;
    return bccOfCheckedPart(body.size() > kFirstChecked ? body.subspan(kFirstChecked)
                                                        : std::span<const std::uint8_t>{});
}

std::uint8_t bccOfCheckedPart(std::span<const std::uint8_t> checked) {
    std::uint8_t bcc = 0;
    for (std::uint8_t byte : checked) {
        bcc ^= byte;
    }
    if (bcc < 32) {
        bcc += 32;
    }
    return bcc;
}

}  // namespace marvalo
