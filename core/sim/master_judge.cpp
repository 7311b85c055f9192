#include "core/sim/master_judge.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>

#include "core/frames/check_codes.h"

namespace marvalo::sim {
namespace {

struct FaultName {
    const char *key;
    const char *words;  // Spanish, for the summary
};
constexpr FaultName kFaultNames[] = {
    {"ok", "correctas"},
    {"bad-check", "con la comprobación errónea"},
    {"unknown-address", "a direcciones que nadie tiene"},
    {"gap-inside", "con una pausa dentro"},
    {"early-start", "empezadas antes de 3,5 caracteres"},
    {"unsupported-function", "con una función que el instrumento no tiene"},
    {"refused-quantity", "con una cantidad rechazada"},
    {"refused-range", "con direcciones fuera de los bloques"},
    {"read-only-write", "que escriben en un bloque de solo lectura"},
};

std::string chars(double us, const CharTiming &timing) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", us / timing.charUs);
    return text;
}

std::string ms(double us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", us / 1000);
    return text;
}

std::string describe(const SeenRequest &seen) {
    const char *names[] = {"korvel", "iso1745", "modbus"};
    std::string text = names[static_cast<int>(seen.answer.protocol)];
    if (seen.answer.address >= 0)
        text += " dirección " + std::to_string(seen.answer.address);
    if (seen.answer.protocol == Protocol::Modbus && seen.bytes.size() >= 2)
        text += " función " + std::to_string(seen.bytes[1]);
    return text;
}

}  // namespace

const char *masterFaultKey(MasterFault fault) {
    return kFaultNames[static_cast<int>(fault)].key;
}

void MasterJudge::add(SeenRequest seen) {
    // A request cut in two by a pause longer than 3.5 characters reaches us
    // as two frames, neither of them whole: joined, they are the request.
    if (!verdicts_.empty()) {
        MasterVerdict &last = verdicts_.back();
        Bytes joined = last.seen.bytes;
        joined.insert(joined.end(), seen.bytes.begin(), seen.bytes.end());
        if (!crcHolds(last.seen.bytes) && !crcHolds(seen.bytes) && joined.size() >= 4 &&
            crcHolds(joined) && !last.seen.previousWasOurs &&
            last.fault != MasterFault::GapInside) {
            const double gap = seen.startUs - last.seen.endUs;
            last.seen.bytes = joined;
            last.seen.endUs = seen.endUs;
            last.seen.longestGapUs = std::max(last.seen.longestGapUs, gap);
            last.seen.answer = seen.answer;
            last.seen.answer.protocol = Protocol::Modbus;
            last.seen.answer.address = joined[0];
            last.fault = MasterFault::GapInside;
            last.message = "una pausa de " + chars(gap, timing_) +
                           " caracteres dentro de la petición (se admite hasta 1,5): el "
                           "instrumento la toma por dos tramas y no contesta";
            return;
        }
    }
    MasterVerdict verdict;
    const LineAnswer &answer = seen.answer;
    if (seen.previousWasOurs && seen.afterPreviousUs)
        turnaroundsUs_.push_back(*seen.afterPreviousUs);
    if (answer.badCheck) {
        verdict.fault = MasterFault::BadCheck;
        verdict.message = answer.protocol == Protocol::Modbus
                              ? "el CRC de la petición no es el de sus bytes"
                              : "el BCC de la petición no es el de sus bytes";
    } else if (seen.longestGapUs > timing_.t15Us) {
        verdict.fault = MasterFault::GapInside;
        verdict.message = "una pausa de " + chars(seen.longestGapUs, timing_) +
                          " caracteres dentro de la petición; se admite hasta 1,5";
    } else if (seen.previousWasOurs && seen.afterPreviousUs &&
               *seen.afterPreviousUs < timing_.t35Us) {
        verdict.fault = MasterFault::EarlyStart;
        verdict.message = "empezó " + chars(*seen.afterPreviousUs, timing_) +
                          " caracteres después de la respuesta; se piden al menos 3,5";
    } else if (!answer.known) {
        verdict.fault = MasterFault::UnknownAddress;
        verdict.message = answer.address >= 0
                              ? "nadie tiene la dirección " + std::to_string(answer.address) +
                                    " en esta línea (el maestro sondea)"
                              : "bytes que no son ninguna petición";
    } else if (answer.modbus.exception == 1) {
        verdict.fault = MasterFault::UnsupportedFunction;
        verdict.message = "el instrumento no tiene la función " + std::to_string(answer.function) +
                          " (excepción 01)";
    } else if (answer.modbus.exception == 3) {
        verdict.fault = MasterFault::RefusedQuantity;
        verdict.message = "la cantidad o la cuenta de bytes no valen (excepción 03)";
    } else if (answer.modbus.exception == 2) {
        verdict.fault =
            answer.modbus.readOnly ? MasterFault::ReadOnlyWrite : MasterFault::RefusedRange;
        verdict.message = answer.modbus.readOnly
                              ? "escribe en un bloque de solo lectura (excepción 02)"
                              : "pide direcciones fuera de los bloques del instrumento "
                                "(excepción 02)";
    }
    verdict.seen = std::move(seen);
    verdicts_.push_back(std::move(verdict));
}

SuiteReport MasterJudge::report(const std::string &name) const {
    SuiteReport report;
    report.name = name;
    report.classname = "marvalo-sim";
    std::size_t number = 0;
    for (const MasterVerdict &verdict : verdicts_) {
        CaseResult result;
        result.name = "petición " + std::to_string(++number) + ": " + describe(verdict.seen);
        result.verdict = masterFaultKey(verdict.fault);
        // Probing an address nobody has is how a master finds its units.
        if (verdict.fault != MasterFault::None && verdict.fault != MasterFault::UnknownAddress) {
            result.outcome = CaseResult::Outcome::Failed;
            result.failureType = masterFaultKey(verdict.fault);
            result.failureMessage = verdict.message;
        }
        result.details =
            "petición: " + toHex(verdict.seen.bytes) +
            (verdict.seen.answer.reply ? "\nrespuesta: " + toHex(*verdict.seen.answer.reply)
                                       : "\nsin respuesta") +
            (verdict.message.empty() || result.outcome != CaseResult::Outcome::Passed
                 ? ""
                 : "\n" + verdict.message);
        report.cases.push_back(std::move(result));
    }
    return report;
}

std::string MasterJudge::json() const {
    nlohmann::ordered_json out;
    out["requests"] = verdicts_.size();
    nlohmann::ordered_json list = nlohmann::json::array();
    for (const MasterVerdict &verdict : verdicts_) {
        nlohmann::ordered_json one;
        one["request"] = toHex(verdict.seen.bytes);
        one["protocol"] = describe(verdict.seen);
        one["verdict"] = masterFaultKey(verdict.fault);
        if (!verdict.message.empty())
            one["message"] = verdict.message;
        one["start_ms"] = verdict.seen.startUs / 1000;
        list.push_back(one);
    }
    out["verdicts"] = list;
    if (!turnaroundsUs_.empty()) {
        const auto [low, high] = std::minmax_element(turnaroundsUs_.begin(), turnaroundsUs_.end());
        double sum = 0;
        for (double us : turnaroundsUs_)
            sum += us;
        out["turnaround_ms"] = {{"count", turnaroundsUs_.size()},
                                {"min", *low / 1000},
                                {"max", *high / 1000},
                                {"mean", sum / 1000 / static_cast<double>(turnaroundsUs_.size())}};
    }
    return out.dump(2) + "\n";
}

std::string MasterJudge::summary() const {
    std::size_t counts[std::size(kFaultNames)] = {};
    for (const MasterVerdict &verdict : verdicts_)
        ++counts[static_cast<int>(verdict.fault)];
    std::string text = std::to_string(verdicts_.size()) + " peticiones";
    for (std::size_t i = 0; i < std::size(kFaultNames); ++i) {
        if (counts[i] != 0)
            text += ", " + std::to_string(counts[i]) + " " + kFaultNames[i].words;
    }
    if (!turnaroundsUs_.empty()) {
        const auto [low, high] = std::minmax_element(turnaroundsUs_.begin(), turnaroundsUs_.end());
        text += "; el maestro vuelve tras la respuesta en " + ms(*low) + " a " + ms(*high) + " ms";
    }
    return text;
}

}  // namespace marvalo::sim
