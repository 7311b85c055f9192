#pragma once

#include <string>

#include "core/frames/bytes.h"
#include "core/net/telnet_codec.h"

namespace marvalo::net {

// A COM-PORT-OPTION value as the operator reads it: "19200", "par",
// "8 bits", "1,5", "RTS activado"; a value no command defines shows as its
// code, so a refusal still says what the server sent.
std::string comPortValueText(ComPortCommand command, const Bytes &value);

}  // namespace marvalo::net
