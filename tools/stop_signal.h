#pragma once

#include <cstdint>

namespace marvalo {

// SIGINT, SIGTERM, SIGHUP, SIGQUIT and every other signal that would end
// the run (os/stop_signals.h) ask it to stop, unless they were ignored when
// we started (nohup, a background job): those stay ignored. SIGPIPE is
// ignored, so a reader that goes away shows as a failed write instead of
// killing us with the port still set our way. SIGCONT is counted: the
// process was stopped (Ctrl-Z, SIGSTOP, a paused machine) and any time
// measured across it is not the unit's.
void catchStopSignals();

// Whether a stop signal came.
bool stopRequested();

// Whether the writes still owed after a stop (the lines, the summary, a
// report) have had their time: kStopWriteMs after the signal. A reader too
// slow for it gets an incomplete output, said so, and the signal's status.
inline constexpr int kStopWriteMs = 50;
bool stopWriteTimeIsUp();

// How many times the process was continued after a stop.
unsigned processContinues();

// The first moment since `sinceUs` the process was last seen running
// before a stop (`sinceUs` itself when none was seen), in steady_clock
// microseconds.
std::int64_t lastAwakeSinceUs(std::int64_t sinceUs);

// The exit status of a run a stop signal ended, as a shell reports a
// program that signal killed: 128 + its number (SIGINT 130, SIGTERM 143,
// SIGHUP 129).
int stoppedExitStatus();

// Waits, but answers a stop at once.
void pauseUnlessStopped(int milliseconds);

}  // namespace marvalo
