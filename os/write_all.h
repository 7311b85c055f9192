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
    bool stopped = false;   // `stopAsked` said so while the descriptor had no room
};

// How often a write held by a slow reader asks whether to stop.
inline constexpr int kWriteLookMs = 10;

// The one write loop: every byte of `data` to `fd`, a write interrupted by
// a signal tried again. Anything but a regular file (a pipe, a FIFO, a
// terminal, a socket) is written in PIPE_BUF pieces, each only once poll
// says there is room for it, so no write blocks on a slow or stalled
// reader: while it waits, `stopAsked` is asked at least every kWriteLookMs
// and the wait never passes `deadline` (none: as long as it takes). A
// descriptor with room is written whatever `stopAsked` says: what is owed
// after a stop still goes out where nothing holds it. A regular file takes
// the whole in one write(2), so a run killed mid-way never leaves half of
// it. A socket is written with MSG_NOSIGNAL, so a peer gone away is an
// EPIPE, not a signal.
WriteProgress writeAll(int fd, const void *data, std::size_t size,
                       std::optional<std::chrono::steady_clock::time_point> deadline = std::nullopt,
                       const std::function<bool()> &stopAsked = {});

}  // namespace marvalo::os
