#pragma once

#include <cstdint>
#include <optional>

#include "core/frames/bytes.h"
#include "core/settings/panel_state.h"

namespace marvalo {

// Ways the simulated instrument can misbehave, one per verdict the panel
// gives, so each can be seen end to end. They combine: the answer is
// replaced by an exception, then addressed elsewhere, then its check code
// damaged, then cut short, then preceded by stray bytes.
struct Faults {
    std::optional<std::uint8_t> exception{};  // Modbus: this exception; ISO 1745: NAK
    bool wrongAddress = false;                // answer as another address
    bool badCheck = false;                    // Modbus CRC or ISO 1745 BCC off by one bit
    std::optional<std::size_t> shortTo{};     // only the first N bytes
    Bytes stray{};                            // sent before the answer
    std::optional<int> as{};                  // the other address; else the next one up

    // The answer the instrument sends for `request` instead of `answer`.
    Bytes apply(const Bytes &request, Bytes answer) const;
    Bytes apply(Protocol protocol, const Bytes &request, Bytes answer) const;
};

}  // namespace marvalo
