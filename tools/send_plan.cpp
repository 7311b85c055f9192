// marvalo-send --plan: a test plan's steps against one unit.
#include <cerrno>
#include <iostream>

#include "core/plans/test_plan.h"
#include "core/text/byte_text.h"
#include "core/text/system_error_text.h"
#include "files/bounded_read.h"
#include "link/port_line.h"
#include "tools/plan_runner.h"
#include "tools/send_json.h"
#include "tools/send_modes.h"
#include "tools/send_outputs.h"
#include "tools/send_tap.h"
#include "tools/send_text.h"
#include "tools/stdout_writer.h"
#include "tools/stop_signal.h"

namespace marvalo {
namespace {

constexpr std::size_t kMaxPlanBytes = 1024 * 1024;

// Checked whole, or nullopt once its errors are on stderr.
std::optional<TestPlan> readPlan(const std::string &file) {
    auto text = readBoundedFile(file, kMaxPlanBytes);
    if (!text) {
        std::cerr << "El plan \"" << safeText(file) << "\" " << text.error().reason
                  << ". Nada se envió.\n";
        return std::nullopt;
    }
    auto plan = parseTestPlan(text.value(), file);
    if (!plan) {
        for (const std::string &error : plan.error())
            std::cerr << safeText(error) << "\n";
        std::cerr << "El plan tiene " << plan.error().size()
                  << (plan.error().size() == 1 ? " error" : " errores") << "; nada se envió.\n";
        return std::nullopt;
    }
    return std::move(plan).value();
}

// What the unit did, apart from the rig and the reports: the sentence a
// failed report save must not hide.
const char *unitResult(const PlanRun &run) {
    if (run.anyFailed)
        return "la unidad falló algún paso";
    if (run.portFailed || run.interrupted)
        return "la unidad no llegó a probarse entera";
    return "la unidad pasó todos los pasos";
}

std::size_t caseCount(const TestPlan &plan) {
    std::size_t count = 0;
    for (const PlanStep &step : plan.steps)
        count += static_cast<std::size_t>(step.repeat);
    return count;
}

}  // namespace

// --plan FILE: check it whole and check every output as the run would,
// then (without --check) run it, print a line per case (or TAP, or JSON
// per exchange) as it ends and write the reports.
int runPlanFile(const SendOptions &options, BenchPorts &benchPorts, StdoutWriter &out) {
    // Before the plan is read: a stop while a large plan loads still gets
    // its report, and nohup's ignored SIGHUP stays ignored.
    catchStopSignals();
    const auto plan = readPlan(*options.plan);
    if (!plan)
        return kExitRejected;
    PortLine port;
    port.setPortMap(benchPorts);
    PlanRunSettings settings;
    settings.line =
        planLine(plan->line, lineFrom(options, std::nullopt), options.port || options.device,
                 !options.bauds.empty(), options.linkType.has_value(),
                 options.continuous || options.untilComplete || options.waitMs.has_value());
    configurePort(port, settings.line);
    const auto outputs = checkSendOutputs(
        options, port.devicePath(),
        {{*options.plan, "el plan"}, {benchPorts.tableFile(), "la tabla de puertos"}});
    if (!outputs)
        return kExitRejected;
    if (auto clash = outputClash(options, *outputs))
        return usage(*clash);
    if (options.check) {
        std::cout << "plan " << safeText(plan->name) << ": " << plan->steps.size()
                  << (plan->steps.size() == 1 ? " paso" : " pasos")
                  << "; todas las peticiones se construyen y las salidas se pueden escribir; no "
                     "se envió nada\n";
        return kExitAllGood;
    }
    ThreadSleeper sleeper;
    // The JUnit report alone on stdout: the person's lines go beside the
    // summary, on stderr.
    std::ostream &lines = junitOnStdout(*outputs) ? std::cerr : std::cout;
    settings.suiteName = options.suiteName.value_or("");
    settings.properties = options.properties;
    settings.processStops = processContinues;
    settings.lastAwakeSinceUs = lastAwakeSinceUs;
    // A closed or failing stdout ends the run as a stop does: nothing more
    // goes to the line, and what was lost is said on stderr.
    auto outputLost = [&] { return out.error() != 0 || out.readerGone(); };
    settings.stopRequested = [&] { return stopRequested() || outputLost(); };
    // Streamed as the run goes, so a run that is killed keeps its capture.
    std::optional<CaptureFile> capture;
    if (outputs->pcap && !(capture = openCapture(*outputs->pcap)))
        return kExitRejected;
    bool captureLost = false;
    settings.onTry = [&](const StepTry &done) {
        if (options.json && !outputLost())
            printPlanTryJson(done, options.registers);
        const bool influx = options.influx && !options.json;
        for (const ExchangeOutcome &part : done.earlierParts) {
            if (influx && !outputLost())
                printInfluxLine(part, done.step.inputs, options.registers);
            if (capture && !captureLost)
                captureLost = captureFailed(*capture, capture->append(part.record));
        }
        if (influx && !outputLost())
            printInfluxLine(done.outcome, done.step.inputs, options.registers);
        if (capture && !captureLost)
            captureLost = captureFailed(*capture, capture->append(done.outcome.record));
    };
    std::size_t caseNumber = 0;
    settings.onCase = [&](const CaseResult &result) {
        ++caseNumber;
        if (outputLost())
            return;
        if (options.json)
            printPlanCaseJson(result);
        else if (options.tap)
            printTapCase(caseNumber, result);
        else if (!options.influx)
            printCaseLine(result, lines);
    };
    if (options.tap)
        printTapHeader(caseCount(*plan));
    const PlanRun run = runPlan(*plan, port, sleeper, settings);
    if (capture && !captureLost)
        captureLost = captureFailed(*capture, capture->close());
    bool saved = !captureLost;
    bool reportCut = false;
    std::cout.flush();  // the report may follow on the same descriptor
    if (outputs->junit) {
        if (auto written =
                writeOutputFile(*outputs->junit, junitXml(run.report), stopWriteTimeIsUp);
            !written) {
            std::cerr << "No se pudo guardar el informe JUnit \""
                      << safeText(outputs->junit->path.string()) << "\": " << written.error()
                      << "; " << unitResult(run) << ".\n";
            saved = false;
            reportCut = stopRequested();
        }
    }
    // A stop that cut nothing (it came once every step had ended and every
    // report was out) leaves the unit's own status.
    auto statusNow = [&] {
        const int lost = out.error();
        return stopRequested() && (run.interrupted || reportCut || captureLost || lost == ECANCELED)
                   ? stoppedExitStatus()
               : lost != 0 || run.portFailed || !saved ? kExitPortFailed
               : run.anyFailed                         ? kExitBadReply
                                                       : kExitAllGood;
    };
    const int status = statusNow();
    if (options.json && !outputLost())
        printPlanSummaryJson(run.report, saved, status);
    else if (!options.tap)
        printPlanSummary(run.report);
    std::cout.flush();
    if (const int lost = out.error(); lost == ECANCELED) {
        std::cerr << kStdoutCutText << "; " << unitResult(run) << ".\n";
    } else if (lost != 0) {
        std::cerr << "marvalo-send: la salida estándar se cerró o no admite más ("
                  << systemErrorText(lost) << "): no se envió nada más a la línea; "
                  << unitResult(run) << ".\n";
    }
    return statusNow();
}

}  // namespace marvalo
