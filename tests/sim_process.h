#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace marvalo::testing {

// marvalo-sim running in the background for one test; stopped when this
// goes out of scope.
class SimProcess {
  public:
    // With keepLog, its --log lines stay readable through log().
    explicit SimProcess(const std::vector<std::string> &options = {}, bool keepLog = false);
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // The pty path the simulator printed first.
    const std::string &devicePath() const { return devicePath_; }

    // What it printed since it started (keepLog only), without waiting.
    std::string log();

  private:
    pid_t pid_ = -1;
    std::string devicePath_;
    int logFd_ = -1;
    std::string log_;
};

}  // namespace marvalo::testing
