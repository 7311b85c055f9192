#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include <optional>

#include "core/frames/reply.h"
#include "core/records/exchange_record.h"
#include "core/settings/panel_state.h"
#include "link/serial_port.h"
#include "link/sleeper.h"

namespace marvalo {

inline constexpr int kRtsLeadMs = 50;  // RS485 transceivers need time to turn around
inline constexpr std::int32_t kMaxNoReplyCount = std::numeric_limits<std::int32_t>::max();

// What one exchange reads from the panel, gathered at the moment it runs.
struct ExchangeSetup {
    ExchangeMode mode = ExchangeMode::Single;
    std::uint8_t protocol = 0;
    std::uint8_t linkType = 0;
    std::uint8_t baudIndex = 0;  // loaded at start-up: sets the reply wait
    int baudSelection = 0;       // the baud list's live selection: sets the RS485 hold
    std::array<std::int16_t, kBaudCount> rs485Hold{};
    RequestInputs inputs;
    // Beyond the panel: a request already built (a function beyond the
    // panel's, a bus scan's probe), sent instead of the one the inputs
    // would build.
    std::optional<Bytes> request;
    std::uint64_t sequence = 0;  // numbers the record
    // Beyond the panel, for scripts: another reply wait, and ending the wait
    // as soon as the reply is a complete frame.
    std::optional<int> waitMs;
    bool endWhenComplete = false;
    // Beyond the panel's list of rates: the RS485 hold for the line's own
    // rate, in place of rs485Hold[baudSelection].
    std::optional<int> rs485HoldMs;
    // Beyond the panel, for runs of exchanges on one line (a Modbus RTU
    // unit reads a request begun inside the silent interval as the tail of
    // the last frame): the interval, and when the line last carried a byte.
    // The write waits until both have passed; a stop ends the wait.
    std::optional<std::int64_t> frameGapUs;
    std::optional<std::int64_t> lineLastByteUs;
    // Asked right before RTS goes up and right before the write (true: the
    // line is left alone, the outcome Failed with nothing written) and
    // between looks at the line during the reply wait (true ends the wait
    // within kStopCheckMs: a signal to stop must not wait an hour). Either
    // way the outcome says it was interrupted.
    std::function<bool()> stopRequested;
};
inline constexpr int kStopCheckMs = 20;

// What the panel is to do with the result: show a reply, show a new
// no-reply count, or report a failure. The exchange touches no widget.
struct ExchangeOutcome {
    enum class Kind { Shown, NoReply, Failed };
    Kind kind = Kind::Failed;
    std::string display;            // Shown: Latin-1 text, one character per reply byte
    std::int32_t noReplyCount = 0;  // NoReply: the count to show
    bool counterAtMaximum = false;  // NoReply: the count could not grow any further
    std::string failure;            // Failed: the sentence for the operator
    bool nothingWritten = false;    // Failed: the line never saw the request
    bool interrupted = false;       // a stop request cut it short (see stopRequested)
    // The stop ended a wait on the line or its server (a name lookup, a
    // connect): the exchange was under way, not merely about to start.
    bool stoppedUnderWay = false;
    ExchangeRecord record;  // always, whatever the kind
};

// The last byte an exchange put on or took off the line, if any.
std::optional<std::int64_t> lastByteOnLineUs(const ExchangeRecord &record);

// One exchange: build, resolve the line once and open it (the line held
// from the last exchange goes on only if it is the same), clear, (RS485:
// RTS up, lead time), write, (RS485: hold, drain, RTS down, clear), wait,
// read once, show, close.
// A continuous exchange that reads nothing counts it and keeps the port
// open. Any failure drops RTS and closes the port before it is reported.
// The reply wait is watched rather than slept: what arrives is read at once
// and timed, and the reply is still everything received by the wait's end.
ExchangeOutcome runExchange(SerialPort &port, Sleeper &sleeper, const ExchangeSetup &setup,
                            std::int32_t &noReplyCount);

}  // namespace marvalo
