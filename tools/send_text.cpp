// marvalo-send's lines for a person: one per exchange or per plan case.
#include "tools/send_text.h"

#include <bitset>
#include <cstdio>
#include <iostream>

#include "core/frames/request.h"
#include "core/modbus/reply_values.h"
#include "core/records/influx_line.h"
#include "core/text/byte_text.h"
#include "tools/send_line.h"

namespace marvalo {

std::string shownReply(const ExchangeOutcome &outcome) {
    if (outcome.record.protocol == static_cast<std::uint8_t>(Protocol::Modbus))
        return renderModbusReply(outcome.record.reply);
    return namedText(outcome.record.reply);
}

// What a Modbus reply says, for --registers: the values of a read, or what
// a write confirms.
std::optional<std::vector<RegisterValue>> valuesOf(const ExchangeRecord &record,
                                                   const std::optional<RegisterView> &view) {
    if (!view || record.protocol != static_cast<std::uint8_t>(Protocol::Modbus))
        return std::nullopt;
    return decodeRegisters(record.request, record.judgedBytes(), *view);
}

// Every text that reaches the terminal or a JSON reader passes the one rule
// for outside text: reply bytes are named already, paths and messages may
// hold anything a file name can.
void printText(const ExchangeOutcome &outcome, const std::optional<RegisterView> &view) {
    const ExchangeRecord &record = outcome.record;
    auto sayWarning = [&] {
        if (record.warning)
            std::cerr << "#" << record.sequence << "  aviso: " << safeText(*record.warning) << "\n";
    };
    if (record.failure) {
        // A notice (a reconnect) came before the failure, and may explain it.
        sayWarning();
        // On stderr too, where a script's operator looks for what went wrong.
        std::cout << "#" << record.sequence << "  fallo: " << safeText(*record.failure)
                  << std::endl;
        std::cerr << safeText(*record.failure) << "\n";
        return;
    }
    std::cout << "#" << record.sequence << "  " << shownReply(outcome) << "  ["
              << toHex(record.reply) << "]  " << millisecondsText(record.firstByteMs()) << "  "
              << (outcome.interrupted ? kInterruptedText
                                      : verdictKey(record.verdict->kind) + std::string(": ") +
                                            safeText(record.verdict->text))
              << std::endl;
    sayWarning();
    const bool modbus = record.protocol == static_cast<std::uint8_t>(Protocol::Modbus);
    const Bytes frame = record.judgedBytes();
    if (const auto bits = modbus ? readBits(record.request, frame) : std::nullopt) {
        std::cout << "    bits desde " << ((record.request[2] << 8) | record.request[3]) << ":";
        for (const bool bit : *bits)
            std::cout << (bit ? " 1" : " 0");
        std::cout << std::endl;
    } else if (const auto objects = modbus ? deviceObjects(frame) : std::nullopt) {
        for (const DeviceObject &object : *objects)
            std::cout << "    "
                      << (object.name.empty() ? "objeto " + std::to_string(object.id) : object.name)
                      << " = \"" << object.text << "\"" << std::endl;
    } else if (const auto server = modbus ? serverId(frame) : std::nullopt) {
        std::cout << "    servidor: " << serverIdText(*server)
                  << (server->rest.empty() ? "" : " [" + toHex(server->rest) + "]") << std::endl;
    } else if (const auto status = modbus ? exceptionStatus(frame) : std::nullopt) {
        std::cout << "    estado de excepción: " << toHex(Bytes{*status})
                  << " (bits 7..0: " << std::bitset<8>(*status) << ")" << std::endl;
    }
    if (auto values = valuesOf(record, view)) {
        std::cout << "    " << registersLine(*values) << std::endl;
    } else if (auto confirmed =
                   view ? writeConfirmation(record.request, frame, *view) : std::nullopt) {
        std::cout << "    " << *confirmed << std::endl;
    }
}

void printInfluxLine(const ExchangeOutcome &outcome, const RequestInputs &inputs,
                     const std::optional<RegisterView> &view) {
    const ExchangeRecord &record = outcome.record;
    std::cout << influxLine(record, inputs, valuesOf(record, view.value_or(RegisterView{})),
                            outcome.interrupted)
              << std::endl;  // Telegraf reads each as it comes
}

void printTextSummary(const ExchangeStats &stats) {
    const LatencyHistogram &latency = stats.firstByte;
    std::cerr << "marvalo-send: " << stats.exchanges
              << (stats.exchanges == 1 ? " intercambio:" : " intercambios:");
    for (std::size_t kind = 0; kind < kVerdictKindCount; ++kind) {
        if (stats.byVerdict[kind] > 0)
            std::cerr << " " << verdictKey(static_cast<VerdictKind>(kind)) << " "
                      << stats.byVerdict[kind];
    }
    if (stats.failures > 0)
        std::cerr << " fallidos " << stats.failures;
    if (stats.interrupted > 0)
        std::cerr << " interrumpidos " << stats.interrupted;
    if (latency.count() > 0) {
        char figures[160];
        std::snprintf(figures, sizeof figures,
                      "; primer byte mín %.1f / mediana %.1f / p95 %.1f / máx %.1f ms",
                      *latency.min(), *latency.percentile(0.5), *latency.percentile(0.95),
                      *latency.max());
        std::cerr << figures;
    }
    std::cerr << std::endl;
}

void printCaseLine(const CaseResult &result, std::ostream &out) {
    using Outcome = CaseResult::Outcome;
    const char *word = result.outcome == Outcome::Passed        ? "PASS"
                       : result.outcome == Outcome::Failed      ? "FAIL"
                       : result.outcome == Outcome::Error       ? "ERROR"
                       : result.outcome == Outcome::Interrupted ? "INTERRUMPIDO"
                                                                : "SKIP";
    out << word << "  " << safeText(result.name);
    if (result.outcome != Outcome::Skipped) {
        out << "  " << result.verdict << "  "
            << (result.timingUnknown ? "tiempo desconocido (proceso detenido)"
                                     : millisecondsText(result.firstByteMs));
        if (result.tries > 1)
            out << "  (" << result.tries << " intentos)";
    }
    if (result.outcome == Outcome::Failed || result.outcome == Outcome::Error)
        out << "  -- " << safeText(result.failureMessage);
    out << std::endl;
    for (const std::string &warning : result.warnings)
        std::cerr << "    aviso: " << safeText(warning) << "\n";
}

void printPlanSummary(const SuiteReport &report) {
    using Outcome = CaseResult::Outcome;
    std::cerr << "marvalo-send: plan " << safeText(report.name) << ": "
              << countOf(report, Outcome::Passed) << " pasaron, "
              << countOf(report, Outcome::Failed) << " fallaron, "
              << countOf(report, Outcome::Error) << " con error de la línea, "
              << countOf(report, Outcome::Interrupted) << " interrumpidos, "
              << countOf(report, Outcome::Skipped) << " omitidos\n";
}

}  // namespace marvalo
