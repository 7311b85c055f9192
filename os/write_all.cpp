#include "os/write_all.h"

#include <limits.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace marvalo::os {
namespace {

using Clock = std::chrono::steady_clock;

// How long one wait for room may last: a look's length while a stop may
// come, never past the deadline, else as long as it takes.
int waitMsFor(const std::optional<Clock::time_point> &deadline, bool looking) {
    int waitMs = looking ? kWriteLookMs : -1;
    if (deadline) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        const int leftMs = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 60'000));
        waitMs = waitMs < 0 ? leftMs : std::min(waitMs, leftMs);
    }
    return waitMs;
}

}  // namespace

WriteProgress writeAll(int fd, const void *data, std::size_t size,
                       std::optional<Clock::time_point> deadline,
                       const std::function<bool()> &stopAsked) {
    struct stat info {};
    const bool known = ::fstat(fd, &info) == 0;
    const bool socket = known && S_ISSOCK(info.st_mode);
    const bool regular = known && S_ISREG(info.st_mode);
    const auto *bytes = static_cast<const unsigned char *>(data);
    WriteProgress progress;
    bool hungUp = false;
    while (progress.written < size) {
        const std::size_t left = size - progress.written;
        if (!regular) {
            // Room for PIPE_BUF bytes is what poll calls ready: the piece
            // below then never blocks, however the descriptor was opened.
            struct pollfd ready {
                fd, POLLOUT, 0
            };
            const int polled = ::poll(&ready, 1, waitMsFor(deadline, bool(stopAsked)));
            if (polled < 0 && errno != EINTR) {
                progress.error = errno;
                return progress;
            }
            if (polled <= 0) {
                if (stopAsked && stopAsked()) {
                    progress.stopped = true;
                    return progress;
                }
                if (polled == 0 && deadline && Clock::now() >= *deadline) {
                    progress.timedOut = true;
                    return progress;
                }
                continue;
            }
            hungUp = (ready.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        }
        const std::size_t piece = regular ? left : std::min<std::size_t>(left, PIPE_BUF);
        const ssize_t n = socket ? ::send(fd, bytes + progress.written, piece, MSG_NOSIGNAL)
                                 : ::write(fd, bytes + progress.written, piece);
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
        if (err != EAGAIN || hungUp || regular) {
            progress.error = err == EAGAIN ? EIO : err;
            return progress;
        }
    }
    return progress;
}

}  // namespace marvalo::os
