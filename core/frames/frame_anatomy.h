#pragma once

#include <string>
#include <vector>

#include "core/frames/bytes.h"
#include "core/records/register_values.h"

namespace marvalo {

// One named part of a frame: where it stands and what it says.
struct FrameField {
    std::string name;  // "Dirección", "CRC", "Texto"
    std::size_t offset = 0;
    std::size_t length = 0;
    std::string value;     // "17", "reg 10 = 42", "CRC 2A 31 recibido, 32 42 esperado"
    bool problem = false;  // a check code that does not hold, bytes left over
};

// A request or a reply taken apart, field by field: for Modbus the address,
// function, counts, registers (in `view`) and CRC; for ISO 1745 the SOH,
// address, STX, text, ETX and BCC; for Korvel the text and the CR. A check
// code names both the value received and the one expected. Bytes the
// protocol cannot place are one field of their own.
std::vector<FrameField> requestAnatomy(std::uint8_t protocol, const Bytes &request);
std::vector<FrameField> replyAnatomy(std::uint8_t protocol, const Bytes &request,
                                     const Bytes &reply, RegisterView view);

// Offset, hex and text, 16 bytes a line: "0000  01 03 04 …  ...".
std::string hexDump(const Bytes &bytes);

}  // namespace marvalo
