#include "core/sim/frame_timing.h"

namespace marvalo::sim {

CharTiming charTiming(int baud, bool parity, int stopBits) {
    const double bits = 1 + 8 + (parity ? 1 : 0) + stopBits;
    const double charUs = bits * 1e6 / baud;
    if (baud > 19200)
        return {charUs, 750, 1750};
    return {charUs, 1.5 * charUs, 3.5 * charUs};
}

}  // namespace marvalo::sim
