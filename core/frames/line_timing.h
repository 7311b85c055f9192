#pragma once

#include <cstddef>
#include <cstdint>

#include "core/frames/reply.h"

namespace marvalo {

// How the waits of an exchange follow the line's rate, for any rate
// (the panel's five and every other).

// The rates a line may be asked for: the termios ones (300 .. 921600) and
// any other a driver may take as a custom rate.
inline constexpr int kMinBaud = 50;
inline constexpr int kMaxBaud = 12'000'000;

// Bits a character takes on the wire: start, data, parity if any, stop.
int bitsPerCharacter(int dataBits, bool parity, int stopBits);

// The reply wait at `baud`, by the panel's own rule (see replyWaitMs): at
// the panel's rates the same milliseconds it waits.
int replyWaitMsAt(int baud, ExchangeMode mode);

// marvalo-send's and a plan's reply wait: the panel's rule, stretched to
// what `frameBytes` (the request and the longest answer it can get) take on
// the wire at this rate and framing, since a write returns before the UART
// has sent the request. The panel keeps its own.
int replyWaitMsFor(int baud, int bitsPerChar, ExchangeMode mode, std::size_t frameBytes);

// How long RTS stays up after an RS485 write returns: the panel's own
// hold at its rates, else the Modbus silent interval (3.5 characters),
// rounded up to whole milliseconds; the drain after it waits out the rest.
int rs485HoldMsAt(int baud, int bitsPerChar);

// The Modbus RTU silent interval that ends a frame: 3.5 characters, and
// above 19200 baud a fixed 1750 us (the serial line guide's rule, so fast
// lines are not held to microseconds no UART timer keeps).
std::int64_t frameGapUs(int baud, int bitsPerChar);

// What a bus scan leaves a unit to turn a request round: most answer
// within 5 to 20 ms; a slower one is found with --wait.
inline constexpr int kScanTurnaroundMs = 20;

// How long a reply of `replyBytes` can take to come back once a request of
// `requestBytes` is written: the request and the reply on the wire, the
// silent interval and the unit's turnaround. What a bus scan waits per
// address.
std::int64_t replyWithinUs(int baud, int bitsPerChar, std::size_t requestBytes,
                           std::size_t replyBytes);

}  // namespace marvalo
