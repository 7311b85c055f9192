#pragma once

#include "link/exchange.h"

namespace marvalo::testing {

// *01D CR, the simulator's reading: the exchange tests through servers run.
inline ExchangeSetup korvelReading(int waitMs, bool endWhenComplete) {
    ExchangeSetup setup;
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    setup.inputs.instructionText = "D";
    setup.waitMs = waitMs;
    setup.endWhenComplete = endWhenComplete;
    return setup;
}

}  // namespace marvalo::testing
