#pragma once

namespace marvalo {

// The exchange's waits. The real one blocks the calling thread, which is the
// point: the panel does nothing else while a request is on the line.
class Sleeper {
  public:
    virtual ~Sleeper() = default;
    virtual void sleepMs(int milliseconds) = 0;
};

class ThreadSleeper final : public Sleeper {
  public:
    void sleepMs(int milliseconds) override;
};

}  // namespace marvalo
