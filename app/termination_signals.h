#pragma once

class QWidget;

namespace marvalo {

// SIGTERM (logout, systemctl, kill), SIGHUP (the terminal went away),
// SIGINT (Ctrl-C), SIGQUIT (Ctrl-\) and every other signal that would end
// the program (os/stop_signals.h) close `window` as a close request would, so the same
// shutdown runs and the operator's choices are saved; the program then ends
// with status 0. The handler only writes to a pipe: Qt is called from the
// event loop, never from the signal.
void closeOnTerminationSignals(QWidget &window);

// True once one of those signals has come: an exchange waiting for its
// reply asks, and ends its wait so the close is not held up.
bool terminationRequested();

}  // namespace marvalo
