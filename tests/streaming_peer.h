#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "tests/pty_pair.h"

namespace marvalo::testing {

// A hostile peer: it writes to a pty without a pause, as fast as the pty
// takes bytes (a USB CDC device that ignores the baud rate does much the
// same), until it goes out of scope.
class StreamingPeer {
  public:
    StreamingPeer();
    ~StreamingPeer();
    StreamingPeer(const StreamingPeer &) = delete;
    StreamingPeer &operator=(const StreamingPeer &) = delete;

    const std::string &devicePath() const { return pty_.devicePath(); }

  private:
    PtyPair pty_;
    std::atomic<bool> stop_{false};
    std::thread writer_;
};

}  // namespace marvalo::testing
