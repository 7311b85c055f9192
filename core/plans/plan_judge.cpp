#include "core/plans/plan_judge.h"

#include <algorithm>
#include <cstdio>
#include <regex>

#include "core/frames/frame_chars.h"
#include "core/text/byte_text.h"
#include "core/text/latin1.h"

namespace marvalo {
namespace {

StepCheck failed(std::string type, std::string message) {
    return StepCheck{false, false, std::move(type), std::move(message)};
}

std::string shortNumber(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

bool matchesPattern(const Bytes &reply, const std::vector<std::optional<std::uint8_t>> &pattern) {
    if (reply.size() != pattern.size())
        return false;
    for (std::size_t i = 0; i < reply.size(); ++i) {
        if (pattern[i] && *pattern[i] != reply[i])
            return false;
    }
    return true;
}

std::optional<std::string> registerProblem(const PlanStep &step, const ExchangeRecord &record) {
    for (const RegisterExpectation &check : step.expect.registers) {
        const auto values = decodeRegisters(record.request, record.reply, check.view);
        const std::string name = "reg " + std::to_string(check.number);
        const auto found =
            values ? std::find_if(values->begin(), values->end(),
                                  [&](const RegisterValue &v) { return v.number == check.number; })
                   : std::vector<RegisterValue>::const_iterator{};
        const auto number = values && found != values->end() ? found->asDouble() : std::nullopt;
        if (!number)
            return "la respuesta no trae " + name;
        const double value = *number;
        if (check.equals && value != *check.equals)
            return name + " = " + found->text + "; se esperaba " + shortNumber(*check.equals);
        if ((check.min && value < *check.min) || (check.max && value > *check.max)) {
            return name + " = " + found->text + "; se esperaba entre " +
                   (check.min ? shortNumber(*check.min) : std::string("-∞")) + " y " +
                   (check.max ? shortNumber(*check.max) : std::string("∞"));
        }
    }
    return std::nullopt;
}

}  // namespace

std::string replyText(std::uint8_t protocol, const Bytes &reply) {
    auto begin = reply.begin();
    auto end = reply.end();
    if (protocol == static_cast<std::uint8_t>(Protocol::Iso1745)) {
        begin = std::find(reply.begin(), reply.end(), kStx);
        if (begin != reply.end())
            ++begin;
        end = std::find(begin, reply.end(), kEtx);
    } else {
        while (end != begin && (*(end - 1) == kCr || *(end - 1) == kLf))
            --end;
    }
    return utf8FromLatin1(Bytes(begin, end));
}

StepCheck judgeStep(const PlanStep &step, const ExchangeRecord &record) {
    if (!record.verdict) {
        StepCheck check = failed("port", record.failure.value_or(""));
        check.portFailed = true;
        return check;
    }
    const StepExpectation &expect = step.expect;
    const Verdict &verdict = *record.verdict;
    // Silence expected is silence heard, also where nobody may answer (a
    // broadcast is judged ok for it).
    const bool silent = expect.verdict == VerdictKind::Silence && record.reply.empty();
    if (verdict.kind != expect.verdict && !silent) {
        return failed(verdictKey(verdict.kind),
                      std::string("se esperaba ") + verdictKey(expect.verdict) + "; llegó " +
                          verdictKey(verdict.kind) + ": " + safeText(verdict.text));
    }
    if (expect.replyBytes && !matchesPattern(record.reply, *expect.replyBytes)) {
        return failed("expectation", "la respuesta es " + toHex(record.reply) + "; se esperaba " +
                                         expect.replyHexText);
    }
    if (expect.textPattern) {
        const std::string text = replyText(step.protocol, record.reply);
        if (!std::regex_search(text, std::regex(*expect.textPattern, std::regex::ECMAScript))) {
            return failed("expectation", "el texto \"" + safeText(text) + "\" no casa con /" +
                                             *expect.textPattern + "/");
        }
    }
    if (auto problem = registerProblem(step, record))
        return failed("expectation", *problem);
    if (expect.maxFirstByteMs) {
        const auto firstByte = record.firstByteMs();
        if (!firstByte || *firstByte > *expect.maxFirstByteMs) {
            char text[120];
            std::snprintf(
                text, sizeof text, "el primer byte %s; se esperaba en %.1f ms como mucho",
                firstByte ? ("llegó a los " + shortNumber(*firstByte) + " ms").c_str() : "no llegó",
                *expect.maxFirstByteMs);
            return failed("expectation", text);
        }
    }
    return StepCheck{true, false, "", ""};
}

}  // namespace marvalo
