#include "app/termination_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "core/text/system_error_text.h"
#include "os/stop_signals.h"

namespace marvalo {
namespace {

int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t terminating = 0;

extern "C" void onTerminationSignal(int number) {
    const int saved = errno;
    terminating = 1;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe means a close is already on its way.
    (void)!::write(signalPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

bool terminationRequested() {
    return terminating != 0;
}

void closeOnTerminationSignals(QWidget &window) {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "marvalo: los ajustes no se guardarán con SIGTERM: %s\n",
                     systemErrorText(errno).c_str());
        return;
    }
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        unsigned char drained[16];
        while (::read(signalPipe[0], drained, sizeof drained) > 0) {
        }
        window.close();
        QCoreApplication::exit(0);
    });
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : kStopSignals) {
        ::sigaction(number, &action, nullptr);
    }
}

}  // namespace marvalo
