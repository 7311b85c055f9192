#pragma once

#include <csignal>

namespace marvalo {

// Every signal whose default ends the program and that it may catch: each
// must end it as a close does, so the port gets its line settings and a
// driver's RS485 mode back. SIGPIPE and SIGXFSZ are ignored where they
// matter; SIGKILL and SIGSTOP cannot be caught at all.
inline constexpr int kStopSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGTERM, SIGALRM, SIGUSR1,
                                       SIGUSR2, SIGPROF, SIGVTALRM, SIGXCPU, SIGPOLL, SIGPWR};

}  // namespace marvalo
