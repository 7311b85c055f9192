#pragma once

#include <string>

#include "core/plans/test_plan.h"
#include "core/records/exchange_record.h"

namespace marvalo {

// How one try of a step went against its expectations.
struct StepCheck {
    bool passed = false;
    bool portFailed = false;  // no verdict at all: the line failed
    std::string type;         // a failure's kind: the verdict key that came, or "expectation"
    std::string message;      // the operator's sentence: what was expected and what came
};

StepCheck judgeStep(const PlanStep &step, const ExchangeRecord &record);

// The text a reply carries without its framing: a Korvel line without its
// CR (LF), an ISO 1745 block's text between STX and ETX. UTF-8.
std::string replyText(std::uint8_t protocol, const Bytes &reply);

}  // namespace marvalo
