#pragma once

#include <cstdint>

namespace marvalo {

// Control characters of the text protocols' frames.
inline constexpr std::uint8_t kSoh = 0x01;
inline constexpr std::uint8_t kStx = 0x02;
inline constexpr std::uint8_t kEtx = 0x03;
inline constexpr std::uint8_t kEot = 0x04;
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kCr = 0x0D;
inline constexpr std::uint8_t kLf = 0x0A;
inline constexpr std::uint8_t kNak = 0x15;
inline constexpr std::uint8_t kKorvelStart = '*';

// Modbus RTU: nobody answers address 0, and an exception answer carries the
// request's function code with its top bit set.
inline constexpr std::uint8_t kModbusBroadcast = 0;
inline constexpr std::uint8_t kModbusExceptionBit = 0x80;

}  // namespace marvalo
