#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/frames/bytes.h"
#include "core/frames/reply.h"
#include "core/verdicts/verdict.h"

namespace marvalo {

// The most of one reply that is kept. A real frame is far shorter (the
// longest single wait at 19200 baud carries about 2.2 kB), but a peer that
// streams without pause, or a USB device that ignores the baud rate, can
// send megabytes in one wait; the surplus is read, counted and dropped.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;

// Everything known about one exchange, for the monitor, the command line and
// files: what was asked, what came back and when, and what that means.
// Instants are steady-clock microseconds, comparable only with each other.
struct ExchangeRecord {
    std::uint64_t sequence = 0;  // from 1 in each run of a program
    ExchangeMode mode = ExchangeMode::Single;
    std::uint8_t protocol = 0;
    std::uint8_t linkType = 0;
    std::string port;                // "COM 1 (/dev/ttyUSB0)", "rfc2217://bench-3:4001"
    std::string portKind = "local";  // "local", "rfc2217" or "socket"
    std::string settings;  // the port's settings string, " 9600,n,8,1", or "ajustes del servidor"

    std::int64_t wallStartUs = 0;  // since the Unix epoch, for people
    std::int64_t startUs = 0;
    std::optional<std::int64_t> sentUs;  // the request finished leaving
    std::optional<std::int64_t> firstByteUs;
    std::optional<std::int64_t> lastByteUs;
    std::int64_t endUs = 0;

    Bytes request;
    Bytes reply;                     // the bytes the display is built from, at most kMaxReplyBytes
    std::uint64_t droppedBytes = 0;  // read beyond kMaxReplyBytes and thrown away
    std::optional<Verdict> verdict;

    // A failed exchange has no verdict but a reason, and may or may not have
    // put its request on the line.
    std::optional<std::string> failure;
    bool lineSawRequest = false;
    // Said beside the verdict, never instead of it: another program holds
    // the port and may have eaten the reply.
    std::optional<std::string> warning;

    std::optional<double> firstByteMs() const {
        if (!sentUs || !firstByteUs)
            return std::nullopt;
        return static_cast<double>(*firstByteUs - *sentUs) / 1000.0;
    }
    std::optional<double> lastByteMs() const {
        if (!sentUs || !lastByteUs)
            return std::nullopt;
        return static_cast<double>(*lastByteUs - *sentUs) / 1000.0;
    }
    // The frame the verdict judged; all of the reply when there is none.
    // Every reader of values (registers, bits, objects, a server id, an
    // exception code, a write's confirmation) takes them from here and only
    // here, so that an echo or stray bytes in front are never read as values
    // and the monitor, the command line, JSON and a plan read the same frame.
    std::span<const std::uint8_t> judgedReply() const {
        return verdict ? judgedFrame(*verdict, reply) : std::span<const std::uint8_t>(reply);
    }
    // The same frame, for the decoders that take whole bytes.
    Bytes judgedBytes() const {
        const std::span<const std::uint8_t> judged = judgedReply();
        return Bytes(judged.begin(), judged.end());
    }
    double durationMs() const { return static_cast<double>(endUs - startUs) / 1000.0; }
};

}  // namespace marvalo
