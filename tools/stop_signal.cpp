#include "tools/stop_signal.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <thread>

#include "os/stop_signals.h"

namespace marvalo {
namespace {

volatile std::sig_atomic_t stopSignal = 0;
volatile std::sig_atomic_t continues = 0;
// When the first stop came, in CLOCK_MONOTONIC milliseconds (lock-free, so
// a handler may set it).
std::atomic<std::int64_t> stopAtMs{0};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

std::int64_t monotonicMs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

extern "C" void onStop(int number) {
    if (stopSignal == 0)
        stopAtMs = monotonicMs();
    stopSignal = number;
}

// The stopped process says nothing of when it stopped, and its threads
// may run again before the SIGCONT handler does: a thread notes the time
// every 2 ms and keeps the start of every gap of 10 ms or more between its
// notes, the moment it was last seen running before a stop (or a busy
// machine's long wait: earlier, so still a moment the process ran).
constexpr std::size_t kGapMarks = 16;
std::atomic<std::int64_t> gapStartUs[kGapMarks];
std::atomic<std::size_t> gaps{0};
static_assert(std::atomic<std::int64_t>::is_always_lock_free);

std::int64_t steadyNowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

extern "C" void onContinue(int) {
    continues = continues + 1;
}

// Started with every signal blocked, so the signals still interrupt the
// main thread's waits.
void startAwakeNotes() {
    sigset_t all, before;
    sigfillset(&all);
    ::pthread_sigmask(SIG_BLOCK, &all, &before);
    std::thread([] {
        constexpr std::int64_t kGapUs = 10'000;
        for (std::int64_t last = steadyNowUs();;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            const std::int64_t now = steadyNowUs();
            if (now - last >= kGapUs)
                gapStartUs[gaps.fetch_add(1) % kGapMarks] = last;
            last = now;
        }
    }).detach();
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

void catchStopSignals() {
    struct sigaction stop {};
    stop.sa_handler = onStop;
    sigemptyset(&stop.sa_mask);
    for (int number : kStopSignals) {
        struct sigaction inherited {};
        if (::sigaction(number, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        ::sigaction(number, &stop, nullptr);
    }
    struct sigaction resumed {};
    resumed.sa_handler = onContinue;
    resumed.sa_flags = SA_RESTART;
    sigemptyset(&resumed.sa_mask);
    startAwakeNotes();
    ::sigaction(SIGCONT, &resumed, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

bool stopRequested() {
    return stopSignal != 0;
}

bool stopWriteTimeIsUp() {
    return stopRequested() && monotonicMs() - stopAtMs.load() >= kStopWriteMs;
}

unsigned processContinues() {
    return static_cast<unsigned>(continues);
}

std::int64_t lastAwakeSinceUs(std::int64_t sinceUs) {
    std::int64_t earliest = 0;
    for (const auto &start : gapStartUs) {
        const std::int64_t at = start.load();
        if (at >= sinceUs && (earliest == 0 || at < earliest))
            earliest = at;
    }
    return earliest == 0 ? sinceUs : earliest;
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
