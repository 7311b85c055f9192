#pragma once

class QWidget;

namespace marvalo {

// SIGTERM (logout, systemctl, kill), SIGHUP (the terminal went away) and
// SIGINT (Ctrl-C) close `window` as a close request would, so the same
// shutdown runs and the operator's choices are saved; the program then ends
// with status 0. The handler only writes to a pipe: Qt is called from the
// event loop, never from the signal.
void closeOnTerminationSignals(QWidget &window);

}  // namespace marvalo
