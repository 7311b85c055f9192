#pragma once

#include <string>

namespace marvalo {

class BenchPorts;

// `marvalo-send --list-ports`: the COM numbers and what each stands for,
// then the adapters without a number. As text, a table for people; as
// JSON, one object per port.
std::string portListingText(const BenchPorts &ports);
std::string portListingJson(const BenchPorts &ports);

}  // namespace marvalo
