#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace marvalo::testing {

// marvalo-sim running in the background for one test; stopped when this
// goes out of scope.
class SimProcess {
  public:
    explicit SimProcess(const std::vector<std::string> &options = {});
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // The pty path the simulator printed first.
    const std::string &devicePath() const { return devicePath_; }

  private:
    pid_t pid_ = -1;
    std::string devicePath_;
};

}  // namespace marvalo::testing
