#include "core/plans/plan_judge.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/frames/frame_chars.h"
#include "core/modbus/function_table.h"
#include "core/modbus/modbus_request.h"
#include "core/modbus/reply_values.h"
#include "core/plans/reply_pattern.h"
#include "core/text/byte_text.h"

namespace marvalo {
namespace {

StepCheck failed(std::string type, std::string message) {
    return StepCheck{false, false, std::move(type), std::move(message)};
}

// The plan's number as written: the shortest text that reads back to it,
// so 4294967295 stays whole and 0.1 stays 0.1.
std::string shortNumber(double value) {
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
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
        const std::string name = "reg " + std::to_string(check.number);
        const auto found =
            decodeRegisterAt(record.request, record.judgedBytes(), check.view, check.number);
        if (!found || (!found->integer() && !found->real()))
            return "la respuesta no trae " + name;
        const float *real = found->real();
        // A failed sensor's NaN is no reading: it meets no expectation.
        if (real && std::isnan(*real))
            return name + " = NaN; se esperaba un número";
        // Integers as integers (every one here is exact in a double, and the
        // plan's equals is an integer in the format's range); an f32 equals
        // at single precision, the plan's value rounded to the nearest float.
        const double exact = real ? double{*real} : static_cast<double>(*found->integer());
        const bool equal = !check.equals ? true
                           : real        ? *real == static_cast<float>(*check.equals)
                                  : *found->integer() == static_cast<std::int64_t>(*check.equals);
        if (!equal)
            return name + " = " + found->text + "; se esperaba " + shortNumber(*check.equals);
        // Bounds compare exactly: max = 0.1 is 0.1, which the float nearest
        // it (0.100000001) is over.
        if ((check.min && exact < *check.min) || (check.max && exact > *check.max)) {
            return name + " = " + found->text + "; se esperaba entre " +
                   (check.min ? shortNumber(*check.min) : std::string("-∞")) + " y " +
                   (check.max ? shortNumber(*check.max) : std::string("∞"));
        }
    }
    return std::nullopt;
}

// The bits, objects and exception a Modbus step expects, from a reply the
// verdict already found whole and checked.
std::optional<std::string> modbusProblem(const StepExpectation &expect, const Bytes &request,
                                         const Bytes &reply,
                                         const std::vector<Bytes> &earlierParts) {
    if (const auto code = exceptionCode(reply); expect.exception && code != expect.exception) {
        const ModbusExceptionInfo *wanted = findModbusException(*expect.exception);
        return "llegó " +
               (code ? exceptionText(*code) : std::string("una respuesta sin excepción")) +
               "; se esperaba " + std::string(wanted ? wanted->key : "");
    }
    if (expect.bits) {
        const auto bits = readBits(request, reply);
        if (!bits || *bits != *expect.bits) {
            std::string got, wanted;
            for (const bool bit : bits.value_or(std::vector<bool>{}))
                got += bit ? "1" : "0";
            for (const bool bit : *expect.bits)
                wanted += bit ? "1" : "0";
            return (bits ? "los bits son " + got : std::string("la respuesta no trae bits")) +
                   "; se esperaba " + wanted;
        }
    }
    std::vector<DeviceObject> objects;
    const auto take = [&](const Bytes &part) {
        for (const DeviceObject &object : deviceObjects(part).value_or(std::vector<DeviceObject>{}))
            objects.push_back(object);
    };
    std::for_each(earlierParts.begin(), earlierParts.end(), take);
    take(reply);
    for (const auto &[id, text] : expect.identity) {
        const DeviceObject *found = nullptr;
        for (const DeviceObject &object : objects)
            found = object.id == id ? &object : found;
        const std::string name(deviceObjectName(id));
        if (!found)
            return "la identificación no trae " + name;
        if (found->text != text)
            return name + " es \"" + found->text + "\"; se esperaba \"" + text + "\"";
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
    // As the operator sees it everywhere else.
    return namedText(Bytes(begin, end));
}

StepCheck judgeStep(const PlanStep &step, const ExchangeRecord &record,
                    std::optional<std::int64_t> stoppedAtUs,
                    const std::vector<Bytes> &earlierParts) {
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
        if (!patternFinds(*expect.textPattern, text)) {
            return failed("expectation", "el texto \"" + safeText(text) + "\" no casa con /" +
                                             *expect.textPattern + "/");
        }
    }
    if (auto problem = registerProblem(step, record))
        return failed("expectation", *problem);
    if (auto problem = modbusProblem(expect, record.request, record.judgedBytes(), earlierParts))
        return failed("expectation", *problem);
    const bool byteBeforeStop =
        !stoppedAtUs || (record.firstByteUs && *record.firstByteUs <= *stoppedAtUs);
    if (expect.maxFirstByteMs && !byteBeforeStop) {
        const double seenMs = record.sentUs && *record.sentUs <= *stoppedAtUs
                                  ? static_cast<double>(*stoppedAtUs - *record.sentUs) / 1000.0
                                  : 0;
        char measured[96];
        if (seenMs <= *expect.maxFirstByteMs) {
            std::snprintf(measured, sizeof measured,
                          "el proceso se detuvo a los %.1f ms, antes del plazo de ", seenMs);
            StepCheck check =
                failed("timing_unknown", "tiempo desconocido: " + std::string(measured) +
                                             shortNumber(*expect.maxFirstByteMs) +
                                             " ms, sin primer byte: repita el paso");
            check.timingUndecided = true;
            return check;
        }
        std::snprintf(measured, sizeof measured, "no había llegado a los %.1f ms", seenMs);
        return failed("expectation", std::string("el primer byte ") + measured +
                                         " (luego el proceso se detuvo); se esperaba en " +
                                         shortNumber(*expect.maxFirstByteMs) + " ms como mucho");
    }
    if (expect.maxFirstByteMs) {
        const auto firstByte = record.firstByteMs();
        if (!firstByte || *firstByte > *expect.maxFirstByteMs) {
            char measured[40] = "no llegó";
            if (firstByte)
                std::snprintf(measured, sizeof measured, "llegó a los %.1f ms", *firstByte);
            return failed("expectation",
                          std::string("el primer byte ") + measured + "; se esperaba en " +
                              shortNumber(*expect.maxFirstByteMs) + " ms como mucho");
        }
    }
    return StepCheck{true, false, "", ""};
}

void markStuckIdentification(ExchangeRecord &record, std::size_t part) {
    if (!record.verdict || record.verdict->kind != VerdictKind::Ok)
        return;
    if (auto stuck = identificationStuck(record.request, record.judgedBytes(), part))
        record.verdict = Verdict{VerdictKind::Unrecognised, *stuck};
}

}  // namespace marvalo
