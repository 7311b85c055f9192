#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/plans/test_plan.h"
#include "core/records/exchange_record.h"

namespace marvalo {

// How one try of a step went against its expectations.
struct StepCheck {
    bool passed = false;
    bool portFailed = false;  // no verdict at all: the line failed
    std::string type;         // a failure's kind: the verdict key that came, or "expectation"
    std::string message;      // the operator's sentence: what was expected and what came
    // The process was stopped before the first-byte deadline and before a
    // byte came: whether the unit kept it is not known (neither pass nor fail).
    bool timingUndecided = false;
};

// With `stoppedAtUs` (the process was stopped during the try; the moment,
// on the record's clock, it was last seen running before that) the times
// are the unit's only up to then: a deadline that had passed with no byte
// is a failure, a byte before it is judged, anything else is undecided. An
// identification in parts is judged on its last, `earlierParts` holding
// the replies before it, whose objects count too.
StepCheck judgeStep(const PlanStep &step, const ExchangeRecord &record,
                    std::optional<std::int64_t> stoppedAtUs = std::nullopt,
                    const std::vector<Bytes> &earlierParts = {});

// A right 43/14 answer whose identification cannot end (see
// identificationStuck) gets a bad verdict naming why, so that neither a
// plan nor a run counts it a pass.
void markStuckIdentification(ExchangeRecord &record, std::size_t part);

// The text a step's `text` pattern meets: the reply without its framing (a
// Korvel line without its trailing CR and LF, an ISO 1745 block's text
// between STX and ETX), as the operator sees it: valid UTF-8 kept, any
// other byte read as Latin-1, control characters named ("<1B>").
std::string replyText(std::uint8_t protocol, const Bytes &reply);

}  // namespace marvalo
