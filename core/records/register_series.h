#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/frames/bytes.h"
#include "core/records/register_values.h"

namespace marvalo {

// One register's value in each of many read replies, for a chart. A reply
// is checked once, when it arrives (`readSpan`, its CRC included); then any
// register in any view is taken from it with no text and no allocation, so
// that another register or format over 100,000 replies of 125 registers
// costs milliseconds, not the seconds that decoding every register took.

// The registers a good reply to a read (function 3 or 4) holds: the first
// one's number, from the request, and how many.
struct ReadSpan {
    int start = 0;
    int registers = 0;

    bool operator==(const ReadSpan &) const = default;
};

// The registers the read `request` asks for, as its right reply numbers
// them: what a plan's register checks are held to before anything is sent.
std::optional<ReadSpan> askedSpan(const Bytes &request);

// None when `reply` is no good reply to the read `request` asks (the same
// replies whose values "Valores" shows).
std::optional<ReadSpan> readSpan(const Bytes &request, std::span<const std::uint8_t> reply);

// Register `number` of a reply `readSpan` accepted, as `view` reads it: a
// 32-bit view from the pair numbered by its first register, and a last
// register left without its pair as the u16 it is. None for text, for a
// register not read and for the second register of a pair.
std::optional<double> registerValueIn(std::span<const std::uint8_t> reply, ReadSpan span,
                                      RegisterView view, int number);

// The registers worth offering for a chart over reads of `spans` in `view`:
// every register read, or the first of each pair (and an odd last one).
std::vector<int> chartableRegisters(const std::vector<ReadSpan> &spans, RegisterView view);

}  // namespace marvalo
