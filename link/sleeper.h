#pragma once

#include <cstdint>

namespace marvalo {

// The exchange's waits. The real one blocks the calling thread, which is the
// point: the panel does nothing else while a request is on the line.
class Sleeper {
  public:
    virtual ~Sleeper() = default;
    virtual void sleepMs(int milliseconds) = 0;
    // Steady-clock microseconds: when bytes left and arrived, and how long
    // the reply wait has still to run.
    virtual std::int64_t steadyUs() const = 0;
};

class ThreadSleeper final : public Sleeper {
  public:
    void sleepMs(int milliseconds) override;
    std::int64_t steadyUs() const override;
};

}  // namespace marvalo
