#include "tests/pty_pair.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace marvalo::testing {

PtyPair::PtyPair() {
    char name[256] = {};
    if (::openpty(&controller_, &device_, name, nullptr, nullptr) != 0) {
        throw std::runtime_error("openpty failed");
    }
    devicePath_ = name;
    // The controlling side stays in this process: a program the test starts
    // that held it too would count as the line's far end, not as a rival.
    ::fcntl(controller_, F_SETFD, FD_CLOEXEC);
    for (int fd : {controller_, device_}) {
        struct termios raw {};
        ::tcgetattr(fd, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(fd, TCSANOW, &raw);
    }
    ::fcntl(controller_, F_SETFL, ::fcntl(controller_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
    releaseDevice();
    closeController();
}

void PtyPair::releaseDevice() {
    if (device_ >= 0)
        ::close(device_);
    device_ = -1;
}

void PtyPair::closeController() {
    if (controller_ >= 0)
        ::close(controller_);
    controller_ = -1;
}

}  // namespace marvalo::testing
