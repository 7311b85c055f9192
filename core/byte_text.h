#pragma once

#include <string>

#include "core/bytes.h"

namespace marvalo {

// Bytes as people read them on a line monitor: printable characters as they
// are (Latin-1, returned as UTF-8), control characters by name ("<STX>",
// "<CR>") and the rest of 0..31 and 127 as hex in brackets ("<1F>"), so a
// frame's structure shows at a glance and nothing is invisible.
std::string namedText(const Bytes &bytes);

}  // namespace marvalo
