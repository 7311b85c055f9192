#pragma once

#include <string>

#include "core/frames/bytes.h"

namespace marvalo {

enum class ExchangeMode { Single, Continuous };

// Milliseconds to wait for the reply: 200/rate s plus 150 ms, one more second
// for a single exchange, rounded half to even. Follows the baud index loaded
// at start-up, not the list's current selection. baudIndex must be 0..4.
int replyWaitMs(int baudIndex, ExchangeMode mode);

// Modbus replies are binary: each byte as a decimal number followed by ".",
// the last one included ("1.3.2.0.10."). Every byte is rendered, however long
// the reply (125 words read back are 255 bytes).
std::string renderModbusReply(const Bytes &reply);

}  // namespace marvalo
