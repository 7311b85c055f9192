#include "tools/stop_signal.h"

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <thread>

#include "os/stop_signals.h"

namespace marvalo {
namespace {

volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStop(int number) {
    stopSignal = number;
}

}  // namespace

void catchStopSignals() {
    struct sigaction stop {};
    stop.sa_handler = onStop;
    sigemptyset(&stop.sa_mask);
    for (int number : kStopSignals)
        ::sigaction(number, &stop, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

bool stopRequested() {
    return stopSignal != 0;
}

int stoppedExitStatus() {
    return 128 + static_cast<int>(stopSignal);
}

void pauseUnlessStopped(int milliseconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    constexpr auto kStep = std::chrono::milliseconds(20);
    while (!stopRequested() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            kStep, until - std::chrono::steady_clock::now()));
    }
}

}  // namespace marvalo
