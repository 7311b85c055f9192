#pragma once

#include <functional>
#include <memory>

#include "link/fake_line_io.h"
#include "link/line_io.h"
#include "link/line_target.h"
#include "link/network_port.h"
#include "link/termios_line.h"

namespace marvalo {

// What the port above the backends asks of whichever it makes.
struct LineOptions {
    TermiosOptions termios;
    int connectTimeoutMs = kDefaultConnectTimeoutMs;
    std::function<bool()> stopQuery;  // a server's waits end on a stop
    FakeLineScript *fake = nullptr;   // a test's script: the recording backend, whatever the target
};

// The one place that decides which backend carries a line: a serial
// server's address (parsed before, with the target) makes a network
// backend, anything else a termios one; a test's script makes the
// recording fake. The backend comes closed.
Result<std::unique_ptr<LineIo>, LinkError> makeLineIo(const LineTarget &target,
                                                      const LineSettings &line,
                                                      const LineOptions &options);

}  // namespace marvalo
