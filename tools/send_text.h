#pragma once

#include <ostream>

#include <optional>

#include "core/plans/plan_report.h"
#include "core/records/register_values.h"
#include "core/verdicts/exchange_stats.h"
#include "link/exchange.h"

namespace marvalo {

// An exchange whose reply wait a stop cut short: the unit was not let
// finish, so it has no verdict.
inline constexpr const char *kInterruptedText = "interrumpido: una señal de parada cortó la espera";

// The reply as the panel shows it: Modbus decoded, other protocols' bytes
// with control characters named.
std::string shownReply(const ExchangeOutcome &outcome);

// What a Modbus reply says, for --registers: the values of a read.
std::optional<std::vector<RegisterValue>> valuesOf(const ExchangeRecord &record,
                                                   const std::optional<RegisterView> &view);

// --format influx: the exchange's line, every register a field (u16
// unless the view says otherwise).
void printInfluxLine(const ExchangeOutcome &outcome, const RequestInputs &inputs,
                     const std::optional<RegisterView> &view);

// One line per exchange on stdout (a failure on stderr too).
void printText(const ExchangeOutcome &outcome, const std::optional<RegisterView> &view);

// The run's counts and first-byte figures, on stderr.
void printTextSummary(const ExchangeStats &stats);

// A plan's case: PASS, FAIL or SKIP, the name, the verdict, the time.
void printCaseLine(const CaseResult &result, std::ostream &out);

// A plan's counts, on stderr.
void printPlanSummary(const SuiteReport &report);

}  // namespace marvalo
