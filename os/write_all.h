#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>

namespace marvalo::os {

// How far a writeAll got, and why it stopped short.
struct WriteProgress {
    std::size_t written = 0;
    int error = 0;          // errno of the failure (ENOSPC for a write that took nothing)
    bool timedOut = false;  // the descriptor took no more before the deadline
    bool stopped = false;   // `stopAsked` said so after a signal interrupted the write
};

// The one write loop: every byte of `data` to `fd`, a write interrupted by
// a signal tried again, a full non-blocking descriptor waited on (poll)
// but never past `deadline` (none: as long as it takes). A socket is
// written with MSG_NOSIGNAL, so a peer gone away is an EPIPE, not a
// signal.
WriteProgress writeAll(int fd, const void *data, std::size_t size,
                       std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt,
                       const std::function<bool()> &stopAsked = {});

}  // namespace marvalo::os
