// marvalo-send's output for programs: one JSON object per line.
#include "tools/send_json.h"

#include <cmath>
#include <iostream>

#include "core/text/byte_text.h"
#include "core/text/time_text.h"
#include "tools/register_json.h"
#include "tools/request_args.h"
#include "tools/send_text.h"

namespace marvalo {
namespace {

nlohmann::ordered_json milliseconds(std::optional<double> ms) {
    if (!ms)
        return nullptr;
    // Microsecond digits, no float noise.
    return std::round(*ms * 1000.0) / 1000.0;
}

}  // namespace

nlohmann::ordered_json exchangeJson(const ExchangeOutcome &outcome,
                                    const std::optional<RegisterView> &view) {
    const ExchangeRecord &record = outcome.record;
    nlohmann::ordered_json line = {
        {"sequence", record.sequence},
        {"time", iso8601(record.wallStartUs)},
        {"mode", record.mode == ExchangeMode::Single ? "single" : "continuous"},
        {"protocol", protocolName(static_cast<Protocol>(record.protocol))},
        {"link", kLinkTypeNames[record.linkType == 1 ? 1 : 0]},
        {"port", safeText(record.port)},
        {"port_kind", safeText(record.portKind)},
        {"settings", safeText(record.settings)},
        {"request", toHex(record.request)},
        {"reply", toHex(record.reply)},
        {"reply_text", shownReply(outcome)},
        {"dropped_bytes", record.droppedBytes},
        {"first_byte_ms", milliseconds(record.firstByteMs())},
        {"last_byte_ms", milliseconds(record.lastByteMs())},
        {"duration_ms", milliseconds(record.durationMs())},
    };
    if (record.verdict) {
        line["verdict"] = verdictKey(record.verdict->kind);
        line["verdict_text"] = safeText(record.verdict->text);
        if (auto values = valuesOf(record, view)) {
            line["registers"] = registersJson(*values);
        } else if (auto confirmed =
                       view ? writeConfirmation(record.request, record.reply) : std::nullopt) {
            line["confirms"] = *confirmed;
        }
    } else {
        line["verdict"] = nullptr;
        line["failure"] = safeText(*record.failure);
        line["line_saw_request"] = record.lineSawRequest;
    }
    return line;
}

void printJsonLine(const nlohmann::ordered_json &object) {
    std::cout << jsonLine(object) << std::endl;
}

void printPlanTryJson(const StepTry &done, const std::optional<RegisterView> &view) {
    nlohmann::ordered_json object = exchangeJson(done.outcome, view);
    object["step"] = safeText(done.step.name);
    object["repetition"] = done.repetition;
    object["try"] = done.tryNumber;
    // Cut short by a stop: the unit was not let finish, so neither.
    if (done.outcome.interrupted) {
        object["passed"] = nullptr;
        object["interrupted"] = true;
        printJsonLine(object);
        return;
    }
    object["passed"] = done.check.passed;
    if (!done.check.passed)
        object["expectation"] = safeText(done.check.message);
    printJsonLine(object);
}

void printPlanCaseJson(const CaseResult &result) {
    if (result.outcome != CaseResult::Outcome::Skipped &&
        result.outcome != CaseResult::Outcome::Interrupted)
        return;
    printJsonLine({{"step", safeText(result.name)}, {"outcome", outcomeKey(result.outcome)}});
}

void printPlanSummaryJson(const SuiteReport &report, bool reportsSaved, int exitStatus) {
    nlohmann::ordered_json counts = nlohmann::ordered_json::object();
    using Outcome = CaseResult::Outcome;
    for (Outcome outcome :
         {Outcome::Passed, Outcome::Failed, Outcome::Error, Outcome::Interrupted, Outcome::Skipped})
        counts[outcomeKey(outcome)] = countOf(report, outcome);
    printJsonLine({{"summary",
                    {{"plan", safeText(report.name)},
                     {"cases", report.cases.size()},
                     {"outcomes", counts},
                     {"unit_passed", countOf(report, Outcome::Passed) == report.cases.size()},
                     {"reports_saved", reportsSaved},
                     {"exit", exitStatus}}}});
}

void printJsonSummary(const ExchangeStats &stats, int exitStatus) {
    const LatencyHistogram &latency = stats.firstByte;
    nlohmann::ordered_json verdicts = nlohmann::ordered_json::object();
    for (std::size_t kind = 0; kind < kVerdictKindCount; ++kind) {
        if (stats.byVerdict[kind] > 0)
            verdicts[verdictKey(static_cast<VerdictKind>(kind))] = stats.byVerdict[kind];
    }
    const nlohmann::ordered_json summary = {{"summary",
                                             {{"exchanges", stats.exchanges},
                                              {"failures", stats.failures},
                                              {"verdicts", verdicts},
                                              {"first_byte_ms",
                                               {{"min", milliseconds(latency.min())},
                                                {"median", milliseconds(latency.percentile(0.5))},
                                                {"p95", milliseconds(latency.percentile(0.95))},
                                                {"max", milliseconds(latency.max())}}},
                                              {"exit", exitStatus}}}};
    printJsonLine(summary);
}

}  // namespace marvalo
