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
    {"malformed", "mal formadas"},
};
static_assert(std::size(kFaultNames) == static_cast<int>(MasterFault::Malformed) + 1);

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

// Probing an address nobody has is how a master finds its units.
bool failed(MasterFault fault) {
    return fault != MasterFault::None && fault != MasterFault::UnknownAddress;
}

}  // namespace

const char *masterFaultKey(MasterFault fault) {
    return kFaultNames[static_cast<int>(fault)].key;
}

void MasterJudge::add(SeenRequest seen) {
    // A request cut in two by a pause longer than 3.5 characters reaches us
    // as two frames, neither of them whole: joined, they are the request.
    // Whatever came before the first fragment: only one left unanswered
    // can be the start of a request.
    if (!verdicts_.empty()) {
        MasterVerdict &last = verdicts_.back();
        Bytes joined = last.seen.bytes;
        joined.insert(joined.end(), seen.bytes.begin(), seen.bytes.end());
        if (!crcHolds(last.seen.bytes) && !crcHolds(seen.bytes) && joined.size() >= 4 &&
            crcHolds(joined) && !last.seen.answer.reply && last.fault != MasterFault::GapInside) {
            const double gap = seen.startUs - last.seen.endUs;
            count(last.fault, -1);
            count(MasterFault::GapInside, 1);
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
    if (seen.previousWasOurs && seen.afterPreviousUs) {
        const double us = *seen.afterPreviousUs;
        turnaroundMinUs_ = turnarounds_ == 0 ? us : std::min(turnaroundMinUs_, us);
        turnaroundMaxUs_ = turnarounds_ == 0 ? us : std::max(turnaroundMaxUs_, us);
        turnaroundSumUs_ += us;
        ++turnarounds_;
    }
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
    } else if (answer.malformed) {
        verdict.fault = MasterFault::Malformed;
        verdict.message = seen.bytes.size() < 4
                              ? "una trama de " + std::to_string(seen.bytes.size()) +
                                    " bytes no es ninguna petición; el instrumento no contesta"
                              : "la petición no tiene la longitud que pide su función " +
                                    std::to_string(answer.function) +
                                    "; el instrumento no contesta";
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
    verdict.number = ++requests_;
    count(verdict.fault, 1);
    if (verdicts_.size() == kKept) {
        // The oldest pass goes first (never the last, a fragment's start).
        auto gone = std::find_if(verdicts_.begin(), verdicts_.end() - 1,
                                 [](const auto &one) { return !failed(one.fault); });
        if (gone == verdicts_.end() - 1)
            gone = verdicts_.begin();
        unlistedFaults_ += failed(gone->fault) ? 1 : 0;
        verdicts_.erase(gone);
    }
    verdicts_.push_back(std::move(verdict));
}

SuiteReport MasterJudge::report(const std::string &name, const ReportStamp &stamp) const {
    SuiteReport report;
    report.name = name;
    report.stamp = stamp;
    report.classname = "marvalo-sim";
    for (const MasterVerdict &verdict : verdicts_) {
        CaseResult result;
        result.name = "petición " + std::to_string(verdict.number) + ": " + describe(verdict.seen);
        result.verdict = masterFaultKey(verdict.fault);
        if (failed(verdict.fault)) {
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
    if (verdicts_.size() < requests_) {
        CaseResult rest;
        rest.name = std::to_string(requests_ - verdicts_.size()) + " peticiones más, no listadas";
        rest.verdict = unlistedFaults_ == 0 ? "ok" : "unlisted-faults";
        rest.details = summary();
        if (unlistedFaults_ != 0) {
            rest.outcome = CaseResult::Outcome::Failed;
            rest.failureType = "unlisted-faults";
            rest.failureMessage = std::to_string(unlistedFaults_) +
                                  " de ellas con faltas del maestro; el resumen las cuenta todas";
        }
        report.cases.push_back(std::move(rest));
    }
    return report;
}

std::string MasterJudge::json(const ReportStamp &stamp) const {
    nlohmann::ordered_json out;
    out["timestamp"] = stamp.timestamp;
    out["hostname"] = stamp.hostname;
    out["requests"] = requests_;
    nlohmann::ordered_json counts = nlohmann::ordered_json::object();
    for (std::size_t i = 0; i < std::size(kFaultNames); ++i) {
        if (counts_[i] != 0)
            counts[kFaultNames[i].key] = counts_[i];
    }
    out["counts"] = counts;
    out["listed"] = verdicts_.size();
    nlohmann::ordered_json list = nlohmann::json::array();
    for (const MasterVerdict &verdict : verdicts_) {
        nlohmann::ordered_json one;
        one["number"] = verdict.number;
        one["request"] = toHex(verdict.seen.bytes);
        one["protocol"] = describe(verdict.seen);
        one["verdict"] = masterFaultKey(verdict.fault);
        if (!verdict.message.empty())
            one["message"] = verdict.message;
        one["start_ms"] = verdict.seen.startUs / 1000;
        list.push_back(one);
    }
    out["verdicts"] = list;
    if (turnarounds_ != 0) {
        out["turnaround_ms"] = {
            {"count", turnarounds_},
            {"min", turnaroundMinUs_ / 1000},
            {"max", turnaroundMaxUs_ / 1000},
            {"mean", turnaroundSumUs_ / 1000 / static_cast<double>(turnarounds_)}};
    }
    return out.dump(2) + "\n";
}

std::string MasterJudge::summary() const {
    std::string text = std::to_string(requests_) + " peticiones";
    for (std::size_t i = 0; i < std::size(kFaultNames); ++i) {
        if (counts_[i] != 0)
            text += ", " + std::to_string(counts_[i]) + " " + kFaultNames[i].words;
    }
    if (turnarounds_ != 0)
        text += "; el maestro vuelve tras la respuesta en " + ms(turnaroundMinUs_) + " a " +
                ms(turnaroundMaxUs_) + " ms";
    return text;
}

}  // namespace marvalo::sim
