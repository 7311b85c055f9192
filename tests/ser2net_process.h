#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/temp_folder.h"

namespace marvalo::testing {

// ser2net in the foreground on 127.0.0.1, from a YAML of our own: an RFC
// 2217 accepter in front of one device and a raw TCP one in front of
// another, on ports the system found free; one device both ways is served
// by examples/ser2net.yaml itself. Stopped when this goes.
class Ser2netProcess {
  public:
    // `options`: YAML option lines for both, "kickolduser: true".
    Ser2netProcess(const std::string &rfc2217Device, const std::string &rawDevice,
                   const std::vector<std::string> &options = {});
    ~Ser2netProcess();
    Ser2netProcess(const Ser2netProcess &) = delete;
    Ser2netProcess &operator=(const Ser2netProcess &) = delete;

    std::string rfc2217Url() const;
    std::string socketUrl() const;
    void kill();

  private:
    TempFolder folder_;
    pid_t pid_ = -1;
    int rfc2217Port_ = 0;
    int rawPort_ = 0;
};

// A loopback port nothing listens on at the moment of asking.
int freeLoopbackPort();

}  // namespace marvalo::testing
