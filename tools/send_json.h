#pragma once

#include <optional>

#include <nlohmann/json.hpp>

#include "core/records/register_values.h"
#include "core/verdicts/exchange_stats.h"
#include "link/exchange.h"
#include "tools/plan_runner.h"

namespace marvalo {

// One exchange as an object: its bytes in hex, its texts safe, its times.
// A write's values in `written`, the view they were given in (a plan
// step's format and order), else in `view`.
nlohmann::ordered_json exchangeJson(const ExchangeOutcome &outcome,
                                    const std::optional<RegisterView> &view,
                                    const std::optional<RegisterView> &written = std::nullopt);

// An object on a line of its own, invalid UTF-8 replaced.
void printJsonLine(const nlohmann::ordered_json &object);

// A plan's try: the exchange's object with the step, its repetition, the
// try and whether the expectations held.
void printPlanTryJson(const StepTry &done, const std::optional<RegisterView> &view);

// A plan's case that no exchange line told in full: skipped or interrupted.
void printPlanCaseJson(const CaseResult &result);

// A plan's counts, whether its reports were written, and the exit status.
void printPlanSummaryJson(const SuiteReport &report, bool reportsSaved, int exitStatus);

// The run's counts, first-byte figures and exit status.
void printJsonSummary(const ExchangeStats &stats, int exitStatus);

}  // namespace marvalo
