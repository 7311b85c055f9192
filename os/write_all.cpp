#include "os/write_all.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace marvalo::os {

WriteProgress writeAll(int fd, const void *data, std::size_t size,
                       std::optional<std::chrono::steady_clock::time_point> deadline,
                       const std::function<bool()> &stopAsked) {
    using Clock = std::chrono::steady_clock;
    struct stat info {};
    const bool socket = ::fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode);
    const auto *bytes = static_cast<const unsigned char *>(data);
    WriteProgress progress;
    bool hungUp = false;
    while (progress.written < size) {
        const std::size_t left = size - progress.written;
        const ssize_t n = socket ? ::send(fd, bytes + progress.written, left, MSG_NOSIGNAL)
                                 : ::write(fd, bytes + progress.written, left);
        if (n > 0) {
            progress.written += static_cast<std::size_t>(n);
            continue;
        }
        const int err = n < 0 ? errno : ENOSPC;
        if (err == EINTR) {
            if (stopAsked && stopAsked()) {
                progress.stopped = true;
                return progress;
            }
            continue;
        }
        // A hung-up tty may still say EAGAIN; poll said it is gone.
        if (err != EAGAIN || hungUp) {
            progress.error = err == EAGAIN ? EIO : err;
            return progress;
        }
        int waitMs = -1;
        if (deadline) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            if (left.count() <= 0) {
                progress.timedOut = true;
                return progress;
            }
            waitMs = static_cast<int>(std::min<std::int64_t>(left.count(), 60'000));
        }
        struct pollfd ready {
            fd, POLLOUT, 0
        };
        const int polled = ::poll(&ready, 1, waitMs);
        if (polled < 0 && errno != EINTR) {
            progress.error = errno;
            return progress;
        }
        hungUp = polled > 0 && (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    }
    return progress;
}

}  // namespace marvalo::os
