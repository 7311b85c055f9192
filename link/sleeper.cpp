#include "link/sleeper.h"

#include <chrono>
#include <thread>

namespace marvalo {

void ThreadSleeper::sleepMs(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace marvalo
