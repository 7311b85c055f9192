#pragma once

#include <nlohmann/json.hpp>
#include <vector>

#include "core/records/register_values.h"

namespace marvalo {

// A read's registers for JSON readers, one object each:
//   {"number": 10, "format": "u32", "value": 4294967295, "raw": "FF FF FF FF"}
// An integer is a JSON integer; a finite f32 a number with the float's own
// shortest digits; NaN, +Inf and -Inf the strings "NaN", "Infinity" and
// "-Infinity" (the big serialisers' convention: JSON has no such numbers);
// text a string. "raw" is always there, the register's bytes as they came,
// and a lone last register under a 32-bit format carries "lone": true.
nlohmann::ordered_json registersJson(const std::vector<RegisterValue> &values);

// One JSON line, as `dump` writes it but with each f32 in its own shortest
// digits: nlohmann writes a double by Grisu2, which now and then gives 17
// digits ("3.0544497999999997e-07") where the float has 8.
std::string jsonLine(const nlohmann::ordered_json &object);

}  // namespace marvalo
