#pragma once

#include "core/frames/bytes.h"

namespace marvalo {

// The byte shown in place of a byte received with a parity error.
inline constexpr std::uint8_t kParityErrorByte = '?';

// With PARMRK the tty delivers a bad byte as FF 00 x and a real FF as FF FF.
// Turns that stream back into plain bytes, each bad one replaced by "?". A
// mark cut off by the end of `raw` waits in `pending` for the next call.
Bytes unmarkParityErrors(Bytes &pending, const Bytes &raw);

}  // namespace marvalo
