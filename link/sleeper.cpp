#include "link/sleeper.h"

#include <chrono>
#include <thread>

namespace marvalo {

void ThreadSleeper::sleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::int64_t ThreadSleeper::steadyUs() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace marvalo
