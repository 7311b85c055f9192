#pragma once

namespace marvalo {

// SIGINT, SIGTERM, SIGHUP, SIGQUIT and every other signal that would end
// the run (os/stop_signals.h) ask it to stop; SIGPIPE is ignored, so a
// reader that goes away shows as a failed write instead of killing us with
// the port still set our way.
void catchStopSignals();

// Whether a stop signal came.
bool stopRequested();

// The exit status of a run a stop signal ended, as a shell reports a
// program that signal killed: 128 + its number (SIGINT 130, SIGTERM 143,
// SIGHUP 129).
int stoppedExitStatus();

// Waits, but answers a stop at once.
void pauseUnlessStopped(int milliseconds);

}  // namespace marvalo
