#include "tools/instrument.h"

#include <stdexcept>

#include "core/sim/instrument_file.h"

namespace marvalo {
namespace {

sim::InstrumentFile builtIn(int address) {
    auto file = sim::parseInstrumentFile(sim::builtInInstrumentText(address), "(incorporado)");
    if (!file)
        throw std::logic_error("the built-in instrument does not read: " + file.error().front());
    return std::move(file).value();
}

}  // namespace

Instrument::Instrument(int address) : engine_(builtIn(address)) {}

std::optional<Bytes> Instrument::answer(const Bytes &request) {
    return engine_.answer(request, 0).reply;
}

}  // namespace marvalo
