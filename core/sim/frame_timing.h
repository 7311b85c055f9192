#pragma once

namespace marvalo::sim {

// A line's character times, the yardstick of Modbus RTU framing: a frame
// ends after 3.5 quiet characters, and a pause of more than 1.5 inside one
// breaks it. Above 19200 baud the times are fixed at 750 and 1750 us, as
// the Modbus serial line guide gives them.
struct CharTiming {
    double charUs = 0;
    double t15Us = 0;
    double t35Us = 0;
};

// A character: start bit, 8 data bits, the parity bit if any, stop bits.
CharTiming charTiming(int baud, bool parity, int stopBits);

}  // namespace marvalo::sim
