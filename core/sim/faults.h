#pragma once

#include <cstdint>
#include <optional>

#include "core/frames/bytes.h"
#include "core/settings/panel_state.h"

namespace marvalo {

// Ways the simulated instrument can misbehave, one per verdict the panel
// gives, so each can be seen end to end. They combine: the answer is
// replaced by an exception, then addressed elsewhere, then its check code
// damaged, then cut short, then preceded by stray bytes. The echo is the
// line's: the request comes back at once, before any delay.
struct Faults {
    bool echo = false;  // the request sent back before the answer, as a 2-wire RS485 adapter does
    std::optional<std::uint8_t> exception{};  // Modbus: this exception; ISO 1745: NAK
    bool wrongAddress = false;                // answer as another address
    bool badCheck = false;                    // Modbus CRC or ISO 1745 BCC off by one bit
    std::optional<std::size_t> shortTo{};     // only the first N bytes
    Bytes stray{};                            // sent before the answer
    std::optional<int> as{};                  // the other address; else the next one up
    long every = 1;                           // only every Nth request earns them

    // The faults request number `request` (from 1) earns: all of them on
    // every `every`th request, none on the others. Requests are counted,
    // answered or not, so that a silent or dropping unit keeps the schedule.
    Faults dueFor(long request) const;

    // The answer the instrument sends for `request` instead of `answer`.
    Bytes apply(const Bytes &request, Bytes answer) const;
    Bytes apply(Protocol protocol, const Bytes &request, Bytes answer) const;
};

}  // namespace marvalo
