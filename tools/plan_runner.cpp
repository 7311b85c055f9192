#include "tools/plan_runner.h"

#include <algorithm>
#include <chrono>

#include "core/frames/reply.h"
#include "core/modbus/modbus_request.h"
#include "core/modbus/reply_values.h"
#include "core/text/byte_text.h"
#include "core/text/time_text.h"
#include "tools/report_stamp.h"

namespace marvalo {
namespace {

// 43/14's objects, by name: a part's share of the identity.
std::string identityOf(const ExchangeRecord &record) {
    const auto objects = record.protocol == static_cast<std::uint8_t>(Protocol::Modbus)
                             ? deviceObjects(record.judgedBytes())
                             : std::nullopt;
    if (!objects)
        return {};
    std::string text = "\nidentidad:";
    for (const DeviceObject &object : *objects)
        text += " " + (object.name.empty() ? "objeto " + std::to_string(object.id) : object.name) +
                " = \"" + object.text + "\";";
    return text;
}

std::string detailsOf(const ExchangeRecord &record) {
    const std::string timing = "1er byte: " + millisecondsText(record.firstByteMs()) +
                               "; último byte: " + millisecondsText(record.lastByteMs()) +
                               "; duración: " + millisecondsText(record.durationMs());
    return "puerto: " + safeText(record.port) + " " + safeText(record.settings) +
           "\npetición: " + toHex(record.request) + "\nrespuesta: " + toHex(record.reply) +
           (record.protocol == static_cast<std::uint8_t>(Protocol::Modbus)
                ? "\nmostrada: " + renderModbusReply(record.reply)
                : "\ntexto: " + namedText(record.reply)) +
           identityOf(record) + "\n" + timing;
}

}  // namespace

SendLine planLine(const PlanLine &plan, SendLine line, bool portGiven, bool baudGiven,
                  bool linkGiven, bool waitGiven) {
    if (!portGiven) {
        line.device = plan.device;
        line.port = plan.port.value_or(line.port);
    }
    if (!baudGiven)
        line.baud = plan.baud.value_or(line.baud);
    if (!linkGiven)
        line.linkType = plan.linkType.value_or(line.linkType);
    if (!line.parity)
        line.parity = plan.parity;
    if (!line.dataBits)
        line.dataBits = plan.dataBits;
    if (!line.stopBits)
        line.stopBits = plan.stopBits;
    if (!waitGiven) {
        line.waitMs = plan.waitMs;
        line.mode = plan.waitMode == "continuous" ? ExchangeMode::Continuous : ExchangeMode::Single;
        line.untilComplete = plan.waitMode == "until-complete";
    }
    return line;
}

PlanRun runPlan(const TestPlan &plan, SerialPort &port, Sleeper &sleeper,
                const PlanRunSettings &settings) {
    PlanRun run;
    SuiteReport &report = run.report;
    report.name = settings.suiteName.empty() ? plan.name : settings.suiteName;
    report.classname = plan.name;
    report.stamp = stampNow();
    report.properties = settings.properties;
    const std::int64_t runStart = sleeper.steadyUs();

    bool stopped = false;
    auto stopAsked = [&] { return settings.stopRequested && settings.stopRequested(); };
    std::uint64_t sequence = 0;
    std::int32_t noReplyCount = 0;
    std::optional<std::int64_t> lastByteUs;  // on the line, from the last exchange
    for (const PlanStep &step : plan.steps) {
        for (int repetition = 1; repetition <= step.repeat; ++repetition) {
            CaseResult result;
            result.name =
                step.repeat > 1 ? step.name + " #" + std::to_string(repetition) : step.name;
            stopped = stopped || stopAsked();
            if (stopped) {
                run.interrupted = run.interrupted || stopAsked();
                result.outcome = CaseResult::Outcome::Skipped;
                result.tries = 0;
                report.cases.push_back(result);
                if (settings.onCase)
                    settings.onCase(result);
                continue;
            }
            const std::int64_t caseStart = sleeper.steadyUs();
            const auto protocol = static_cast<Protocol>(step.protocol);
            (void)port.setSettings(settingsTextFor(settings.line, protocol));
            ExchangeSetup setup = setupFor(settings.line, protocol, step.inputs, step.request);
            setup.stopRequested = settings.stopRequested;
            StepCheck check;
            bool cutShort = false;
            for (int attempt = 1; attempt <= step.retries + 1; ++attempt) {
                setup.sequence = ++sequence;
                const unsigned stopsBefore = settings.processStops ? settings.processStops() : 0;
                setup.lineLastByteUs = lastByteUs;
                ExchangeOutcome outcome = runExchange(port, sleeper, setup, noReplyCount);
                if (auto last = lastByteOnLineUs(outcome.record))
                    lastByteUs = last;
                // 43/14 in parts, fetched as marvalo-send fetches them: the
                // step is judged on the last, with every part's objects.
                std::vector<Bytes> earlierParts;
                std::vector<ExchangeOutcome> earlierOutcomes;
                markStuckIdentification(outcome.record, 1);
                for (ExchangeSetup part = setup;
                     !outcome.interrupted && outcome.kind != ExchangeOutcome::Kind::Failed;) {
                    auto next = nextIdentificationRequest(outcome.record.request,
                                                          outcome.record.judgedBytes());
                    if (!next || earlierParts.size() + 1 >= kMostIdentificationParts)
                        break;
                    earlierParts.push_back(outcome.record.judgedBytes());
                    earlierOutcomes.push_back(outcome);
                    part.request = *next;
                    part.sequence = ++sequence;
                    part.lineLastByteUs = lastByteUs;
                    outcome = runExchange(port, sleeper, part, noReplyCount);
                    if (auto last = lastByteOnLineUs(outcome.record))
                        lastByteUs = last;
                    markStuckIdentification(outcome.record, earlierParts.size() + 1);
                }
                const bool timingUnknown =
                    settings.processStops && settings.processStops() != stopsBefore;
                cutShort = outcome.interrupted;
                // Stopped before it began, the line never saw this step:
                // skipped, not interrupted.
                if (cutShort && outcome.nothingWritten && !outcome.stoppedUnderWay && attempt == 1)
                    break;
                if (attempt > 1)
                    result.earlierTries.push_back(result.verdict +
                                                  (check.passed ? "" : ": " + check.message));
                std::optional<std::int64_t> stoppedAtUs;
                if (timingUnknown)
                    stoppedAtUs = settings.lastAwakeSinceUs
                                      ? settings.lastAwakeSinceUs(outcome.record.startUs)
                                      : outcome.record.startUs;
                check = judgeStep(step, outcome.record, stoppedAtUs, earlierParts);
                if (outcome.record.warning)
                    result.warnings.push_back(*outcome.record.warning);
                result.tries = attempt;
                // Every part's exchange, as marvalo-send shows them.
                result.details.clear();
                for (const ExchangeOutcome &part : earlierOutcomes)
                    result.details += detailsOf(part.record) + "\n";
                result.details += detailsOf(outcome.record) +
                                  (timingUnknown ? "\ntiempos desconocidos: el proceso estuvo "
                                                   "detenido durante el intento"
                                                 : "");
                // A try a stop cut short, or one the line failed, has no
                // verdict of the unit's.
                result.verdict = cutShort                 ? "interrumpido"
                                 : outcome.record.verdict ? verdictKey(outcome.record.verdict->kind)
                                                          : "sin veredicto";
                result.timingUnknown = timingUnknown;
                result.firstByteMs = timingUnknown ? std::nullopt : outcome.record.firstByteMs();
                if (settings.onTry)
                    settings.onTry(StepTry{step, repetition, attempt, outcome, check, timingUnknown,
                                           earlierOutcomes});
                if (check.passed || check.portFailed || cutShort)
                    break;
            }
            result.seconds = static_cast<double>(sleeper.steadyUs() - caseStart) / 1e6;
            if (cutShort) {
                // Neither the unit's pass nor its fault: it was not let finish.
                stopped = true;
                run.interrupted = true;
                const bool started = result.tries > 0 && !result.details.empty();
                result.outcome =
                    started ? CaseResult::Outcome::Interrupted : CaseResult::Outcome::Skipped;
                if (!started)
                    result.tries = 0;
            } else if (!check.passed) {
                result.outcome =
                    check.portFailed ? CaseResult::Outcome::Error : CaseResult::Outcome::Failed;
                result.failureType = check.type;
                result.failureMessage = check.message;
                // Undecided is the rig's: the bench paused, the unit is untold.
                if (check.timingUndecided)
                    result.outcome = CaseResult::Outcome::Error;
                run.anyFailed = run.anyFailed || !(check.portFailed || check.timingUndecided);
                run.portFailed = run.portFailed || check.portFailed || check.timingUndecided;
                stopped = check.portFailed || step.stopOnFailure.value_or(plan.line.stopOnFailure);
            }
            report.cases.push_back(result);
            if (settings.onCase)
                settings.onCase(result);
            // The pause after a step; a stop ends it and the run. After the
            // last case nothing follows: a stop then cuts nothing short.
            const bool last = &step == &plan.steps.back() && repetition == step.repeat;
            for (int waited = 0; !stopped && !last && waited < step.delayMs;
                 waited += kStopCheckMs) {
                if (stopAsked()) {
                    stopped = true;
                    run.interrupted = true;
                    break;
                }
                sleeper.sleepMs(std::min(kStopCheckMs, step.delayMs - waited));
            }
        }
    }
    port.close();
    report.seconds = static_cast<double>(sleeper.steadyUs() - runStart) / 1e6;
    return run;
}

}  // namespace marvalo
