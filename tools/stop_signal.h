#pragma once

namespace marvalo {

// SIGINT, SIGTERM and SIGHUP ask the run to stop; SIGPIPE is ignored, so a
// reader that goes away shows as a failed write instead of killing us with
// the port still set our way.
void catchStopSignals();

// Whether a stop signal came.
bool stopRequested();

// Waits, but answers a stop at once.
void pauseUnlessStopped(int milliseconds);

}  // namespace marvalo
