#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/records/register_values.h"
#include "core/sim/instrument_model.h"

namespace marvalo::sim {

// Why a value cannot be held exactly by a register format (an integer
// format's value is an integer in its range); none when it can.
std::optional<std::string> valueProblem(double value, RegisterFormat format);

// The register words that carry `value` in `view`, in address order: one
// for 16-bit formats, two for 32-bit ones in the view's word order.
// Integers wrap at the format's width, as a counter on a device does.
std::vector<std::uint16_t> wordsOf(double value, RegisterView view);

// A number in [0, 1) drawn for the n-th event from a seed: the same seed
// draws the same numbers on every run (random values, a rule's probability).
double drawnFraction(std::uint64_t seed, std::uint64_t n);

// What a live value holds at the `requests`-th Modbus request it sees
// (the first is 0), `seconds` after the simulator started.
double valueAt(const LiveValue &live, std::uint64_t requests, double seconds);

}  // namespace marvalo::sim
