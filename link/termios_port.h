#pragma once

#include "link/port_line.h"

namespace marvalo {

// The port the panel's and the tools' tests have always made: today the
// line above the termios and network backends.
using TermiosPort = PortLine;

}  // namespace marvalo
