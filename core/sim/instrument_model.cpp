#include "core/sim/instrument_model.h"

#include <algorithm>

namespace marvalo::sim {

bool isBitTable(Table table) {
    return table == Table::Coils || table == Table::DiscreteInputs;
}

bool Instrument::speaks(Protocol protocol) const {
    return std::find(protocols.begin(), protocols.end(), protocol) != protocols.end();
}

}  // namespace marvalo::sim
