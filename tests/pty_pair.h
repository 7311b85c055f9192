#pragma once

#include <string>

namespace marvalo::testing {

// A pseudo-terminal pair in raw mode: the device end has a path the port
// layer can open, the controller end plays the instrument's side.
class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    int controller() const { return controller_; }
    int device() const { return device_; }
    const std::string &devicePath() const { return devicePath_; }
    // Let go of our own device end, so that only the port under test holds it.
    void releaseDevice();
    // Hang up: the device end's next read sees the other side gone.
    void closeController();

  private:
    int controller_ = -1;
    int device_ = -1;
    std::string devicePath_;
};

}  // namespace marvalo::testing
