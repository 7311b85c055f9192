// marvalo-send's output for programs: one JSON object per line.
#include "tools/send_json.h"

#include <cmath>
#include <iostream>

#include "core/frames/check_codes.h"
#include "core/modbus/function_table.h"
#include "core/modbus/reply_values.h"
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

// What a write request carries, as numbers: registers in the view the
// values were given in, coils as 0 and 1, a mask write's two masks.
std::optional<nlohmann::ordered_json> writtenJson(const Bytes &request, RegisterView view) {
    if (auto registers = writtenRegisters(request, view))
        return registersJson(*registers);
    if (request.size() < 8 || !crcHolds(request))
        return std::nullopt;
    const int start = (request[2] << 8) | request[3];
    switch (request[1]) {
        case 5:
            return nlohmann::ordered_json{{"start", start},
                                          {"coils", {request[4] == 0xFF ? 1 : 0}}};
        case 15: {
            const int count = (request[4] << 8) | request[5];
            nlohmann::ordered_json coils = nlohmann::ordered_json::array();
            for (int bit = 0;
                 bit < count && 7 + static_cast<std::size_t>(bit / 8) < request.size() - 2; ++bit)
                coils.push_back((request[7 + bit / 8] >> (bit % 8)) & 1);
            return nlohmann::ordered_json{{"start", start}, {"coils", coils}};
        }
        case 22:
            if (request.size() != 10)
                return std::nullopt;
            return nlohmann::ordered_json{{"register", start},
                                          {"and_mask", (request[4] << 8) | request[5]},
                                          {"or_mask", (request[6] << 8) | request[7]}};
        default:
            return std::nullopt;
    }
}

}  // namespace

nlohmann::ordered_json exchangeJson(const ExchangeOutcome &outcome,
                                    const std::optional<RegisterView> &view,
                                    const std::optional<RegisterView> &written) {
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
    if (record.protocol == static_cast<std::uint8_t>(Protocol::Modbus)) {
        if (auto values =
                writtenJson(record.request, written.value_or(view.value_or(RegisterView{}))))
            line["written"] = *values;
    }
    const Bytes frame = record.judgedBytes();
    if (record.protocol == static_cast<std::uint8_t>(Protocol::Modbus)) {
        if (const auto bits = readBits(record.request, frame)) {
            line["bits"] = nlohmann::ordered_json::array();
            for (const bool bit : *bits)
                line["bits"].push_back(bit ? 1 : 0);
        } else if (const auto objects = deviceObjects(frame)) {
            line["identity"] = nlohmann::ordered_json::array();
            for (const DeviceObject &object : *objects)
                line["identity"].push_back(
                    {{"id", object.id}, {"name", object.name}, {"text", object.text}});
        } else if (const auto server = serverId(frame)) {
            line["server_id"] = {
                {"id", toHex(server->id)},
                {"id_text", server->idText},
                {"running", server->running ? nlohmann::ordered_json(*server->running)
                                            : nlohmann::ordered_json(nullptr)},
                {"run_indicator", server->run},
                {"text", server->text},
                {"data", toHex(server->rest)}};
        } else if (const auto status = exceptionStatus(frame)) {
            line["exception_status"] = *status;
        }
        // Named as a plan's `exception =` names it.
        if (const auto code = record.verdict && record.verdict->kind == VerdictKind::Exception
                                  ? exceptionCode(frame)
                                  : std::nullopt) {
            const ModbusExceptionInfo *known = findModbusException(*code);
            line["exception"] = {{"code", *code},
                                 {"name", known ? nlohmann::ordered_json(known->key)
                                                : nlohmann::ordered_json(nullptr)}};
        }
    }
    if (outcome.interrupted && record.verdict) {
        // Cut short by a stop: the unit was not let finish, so no verdict.
        line["verdict"] = nullptr;
        line["reason"] = kInterruptedText;
        line["interrupted"] = true;
    } else if (record.verdict) {
        line["verdict"] = verdictKey(record.verdict->kind);
        line["verdict_text"] = safeText(record.verdict->text);
        if (auto values = valuesOf(record, view)) {
            line["registers"] = registersJson(*values);
        } else if (auto confirmed =
                       view ? writeConfirmation(record.request, frame, *view) : std::nullopt) {
            line["confirms"] = *confirmed;
        }
    } else {
        line["verdict"] = nullptr;
        line["failure"] = safeText(*record.failure);
        line["line_saw_request"] = record.lineSawRequest;
    }
    if (record.warning)
        line["warning"] = safeText(*record.warning);
    return line;
}

void printJsonLine(const nlohmann::ordered_json &object) {
    std::cout << jsonLine(object) << std::endl;
}

void printPlanTryJson(const StepTry &done, const std::optional<RegisterView> &view) {
    // A 43/14 step's earlier parts, each its own exchange as marvalo-send
    // prints them; the step is judged on the last, with all their objects.
    std::size_t partNumber = 0;
    for (const ExchangeOutcome &part : done.earlierParts) {
        nlohmann::ordered_json object = exchangeJson(part, view, done.step.writtenView);
        object["step"] = safeText(done.step.name);
        object["repetition"] = done.repetition;
        object["try"] = done.tryNumber;
        object["part"] = ++partNumber;
        printJsonLine(object);
    }
    nlohmann::ordered_json object = exchangeJson(done.outcome, view, done.step.writtenView);
    object["step"] = safeText(done.step.name);
    object["repetition"] = done.repetition;
    object["try"] = done.tryNumber;
    if (!done.earlierParts.empty())
        object["part"] = done.earlierParts.size() + 1;
    // Times across a process stop are ours, not the unit's.
    if (done.timingUnknown) {
        for (const char *time : {"first_byte_ms", "last_byte_ms", "duration_ms"})
            object[time] = nullptr;
        object["timing_unknown"] = true;
    }
    // Cut short by a stop (exchangeJson says so): neither is the step judged.
    if (done.outcome.interrupted) {
        object["passed"] = nullptr;
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
                                              {"interrupted", stats.interrupted},
                                              {"first_byte_ms",
                                               {{"min", milliseconds(latency.min())},
                                                {"median", milliseconds(latency.percentile(0.5))},
                                                {"p95", milliseconds(latency.percentile(0.95))},
                                                {"max", milliseconds(latency.max())}}},
                                              {"exit", exitStatus}}}};
    printJsonLine(summary);
}

}  // namespace marvalo
