#pragma once

#include <cstdint>
#include <span>

#include "core/frames/bytes.h"

namespace marvalo {

// CRC-16/MODBUS: poly 0x8005 (reflected 0xA001), init 0xFFFF, reflected in
// and out, no final XOR; check value 0x4B37 over "123456789". Returns the two
// check bytes low byte first, the order they take on the wire.
Bytes CalcCRC(std::span<const std::uint8_t> data);

// Whether a whole Modbus frame ends in the CRC of the bytes before it.
bool crcHolds(std::span<const std::uint8_t> frame);

// ISO 1745 block check character over a frame body (address, STX, text,
// ETX): the XOR from the fourth character on, raised by 32 when below 32 so
// it can never be taken for SOH, STX, ETX or CR. Bodies shorter than four
// characters never occur; for them the XOR is empty and 32 comes back.
std::uint8_t CalcBCC(std::span<const std::uint8_t> body);

// The same check over the checked part alone (text and ETX), for judging a
// reply block whose heading may be missing.
std::uint8_t bccOfCheckedPart(std::span<const std::uint8_t> checked);

}  // namespace marvalo
