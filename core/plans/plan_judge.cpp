#include "core/plans/plan_judge.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdio>

#include "core/frames/frame_chars.h"
#include "core/plans/reply_pattern.h"
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

// A register's value straight from the reply's words, so that no integer
// passes through a float and an f32 stays one: an integer format's value
// (exact in a double), or an f32.
struct ExactValue {
    bool isFloat = false;
    std::int64_t integer = 0;
    float real = 0;
};

std::optional<ExactValue> exactValue(const Bytes &request, const Bytes &reply,
                                     const RegisterExpectation &check) {
    constexpr std::size_t kDataAt = 3;  // address, function, byte count
    if (request.size() < 4 || reply.size() < kDataAt)
        return std::nullopt;
    const long start = (long{request[2]} << 8) | request[3];
    const long index = check.number - start;
    const std::size_t width = isWideFormat(check.view.format) ? 4 : 2;
    const std::size_t count = reply[2];
    if (index < 0 || static_cast<std::size_t>(index) * 2 + width > count ||
        reply.size() < kDataAt + count)
        return std::nullopt;
    const std::uint8_t *wire = reply.data() + kDataAt + static_cast<std::size_t>(index) * 2;
    ExactValue value;
    if (width == 2) {
        const std::uint16_t word = static_cast<std::uint16_t>((wire[0] << 8) | wire[1]);
        value.integer = check.view.format == RegisterFormat::S16
                            ? std::int64_t{static_cast<std::int16_t>(word)}
                            : std::int64_t{word};
        return value;
    }
    // Where A, B, C, D (A the most significant) sit on the wire.
    static constexpr std::array<std::array<int, 4>, 4> kPlaces{{
        {0, 1, 2, 3},  // ABCD
        {2, 3, 0, 1},  // CDAB
        {1, 0, 3, 2},  // BADC
        {3, 2, 1, 0},  // DCBA
    }};
    const auto &places = kPlaces[static_cast<std::size_t>(check.view.order)];
    std::uint32_t bits = 0;
    for (int place : places)
        bits = (bits << 8) | wire[place];
    if (check.view.format == RegisterFormat::F32) {
        value.isFloat = true;
        value.real = std::bit_cast<float>(bits);
    } else {
        value.integer = check.view.format == RegisterFormat::S32
                            ? std::int64_t{static_cast<std::int32_t>(bits)}
                            : std::int64_t{bits};
    }
    return value;
}

std::string valueText(const ExactValue &value) {
    return value.isFloat ? shortNumber(value.real) : std::to_string(value.integer);
}

std::optional<std::string> registerProblem(const PlanStep &step, const ExchangeRecord &record) {
    for (const RegisterExpectation &check : step.expect.registers) {
        const std::string name = "reg " + std::to_string(check.number);
        const auto value = exactValue(record.request, record.reply, check);
        if (!value)
            return "la respuesta no trae " + name;
        // A failed sensor's NaN is no reading: it meets no expectation.
        if (value->isFloat && std::isnan(value->real))
            return name + " = NaN; se esperaba un número";
        const double exact = value->isFloat ? double{value->real} : double(value->integer);
        const bool equal = !check.equals ? true
                           : value->isFloat
                               ? value->real == static_cast<float>(*check.equals)
                               : value->integer == static_cast<std::int64_t>(*check.equals);
        if (!equal)
            return name + " = " + valueText(*value) + "; se esperaba " + shortNumber(*check.equals);
        if ((check.min && exact < *check.min) || (check.max && exact > *check.max)) {
            return name + " = " + valueText(*value) + "; se esperaba entre " +
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
    // As the operator sees it: UTF-8 kept, any other byte its Latin-1
    // character, control characters named.
    const auto *first = reinterpret_cast<const char *>(reply.data()) + (begin - reply.begin());
    return safeText(std::string_view(first, static_cast<std::size_t>(end - begin)));
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
        if (!patternFinds(*expect.textPattern, text)) {
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
