#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.h"
#include "core/sim/instrument_model.h"

namespace marvalo::sim {

// The largest instrument file read: 10 addresses of 10,000 registers each
// fit several times over.
inline constexpr std::size_t kMostInstrumentFileBytes = 1024 * 1024;

// The instruments of one line from a file's text (TOML). Every error found,
// each at file:line:column with what was found and what is allowed; a file
// with any of them is refused whole, before anything is served.
Result<InstrumentFile, std::vector<std::string>> parseInstrumentFile(std::string_view text,
                                                                     const std::string &fileName);

// The instrument marvalo-sim plays without a file, at `address`, as a file:
// what --print-instrument writes and the simulator reads back.
std::string builtInInstrumentText(int address);

}  // namespace marvalo::sim
