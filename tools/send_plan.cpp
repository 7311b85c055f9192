// marvalo-send --plan: a test plan's steps against one unit.
#include <cerrno>
#include <iostream>

#include "core/plans/test_plan.h"
#include "core/text/byte_text.h"
#include "core/text/system_error_text.h"
#include "files/bounded_read.h"
#include "link/termios_port.h"
#include "tools/plan_runner.h"
#include "tools/send_json.h"
#include "tools/send_modes.h"
#include "tools/send_outputs.h"
#include "tools/send_tap.h"
#include "tools/send_text.h"
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

}  // namespace

// --plan FILE: check it whole, then (without --check) check every output,
// run it, print a line per case (or TAP, or JSON per exchange) and write
// the reports.
int runPlanFile(const SendOptions &options, BenchPorts &benchPorts) {
    const auto plan = readPlan(*options.plan);
    if (!plan)
        return kExitRejected;
    if (options.check) {
        std::cout << "plan " << safeText(plan->name) << ": " << plan->steps.size()
                  << (plan->steps.size() == 1 ? " paso" : " pasos")
                  << "; todas las peticiones se construyen; no se envió nada\n";
        return kExitAllGood;
    }
    TermiosPort port;
    port.setPortMap(benchPorts);
    ThreadSleeper sleeper;
    catchStopSignals();
    PlanRunSettings settings;
    settings.line =
        planLine(plan->line, lineFrom(options, std::nullopt), options.port || options.device,
                 !options.bauds.empty(), options.linkType.has_value(),
                 options.continuous || options.untilComplete || options.waitMs.has_value());
    configurePort(port, settings.line);
    const auto outputs = checkSendOutputs(options, port.devicePath());
    if (!outputs)
        return kExitRejected;
    if (auto clash = stdoutClash(options, *outputs))
        return usage(*clash);
    // The JUnit report alone on stdout: the person's lines go beside the
    // summary, on stderr.
    std::ostream &lines = junitOnStdout(*outputs) ? std::cerr : std::cout;
    settings.suiteName = options.suiteName.value_or("");
    settings.properties = options.properties;
    // A closed or failing stdout ends the run as a stop does: nothing more
    // goes to the line, and what was lost is said on stderr.
    std::optional<int> outputError;
    auto outputLost = [&] {
        if (!outputError && !std::cout)
            outputError = errno;
        return outputError.has_value();
    };
    settings.stopRequested = [&] { return stopRequested() || outputLost(); };
    // Streamed as the run goes, so a run that is killed keeps its capture.
    std::optional<CaptureFile> capture;
    if (outputs->pcap && !(capture = openCapture(*outputs->pcap)))
        return kExitRejected;
    bool captureLost = false;
    settings.onTry = [&](const StepTry &done) {
        if (options.json && !outputLost())
            printPlanTryJson(done, options.registers);
        else if (options.influx && !outputLost())
            printInfluxLine(done.outcome.record, done.step.inputs, options.registers);
        if (capture && !captureLost)
            captureLost = captureFailed(*capture, capture->append(done.outcome.record));
    };
    settings.onCase = [&](const CaseResult &result) {
        if (outputLost())
            return;
        if (options.json)
            printPlanCaseJson(result);
        else if (!options.tap && !options.influx)
            printCaseLine(result, lines);
        (void)outputLost();
    };
    const PlanRun run = runPlan(*plan, port, sleeper, settings);
    if (options.tap && !outputLost())
        printTap(run.report);
    (void)outputLost();
    if (capture && !captureLost)
        captureLost = captureFailed(*capture, capture->close());
    bool saved = !captureLost;
    std::cout.flush();  // the report may follow on the same descriptor
    if (outputs->junit) {
        if (auto written = writeOutputFile(*outputs->junit, junitXml(run.report), stopRequested);
            !written) {
            std::cerr << "No se pudo guardar el informe JUnit \""
                      << safeText(outputs->junit->path.string()) << "\": " << written.error()
                      << "; " << unitResult(run) << ".\n";
            saved = false;
        }
    }
    if (outputLost()) {
        std::cerr << "marvalo-send: la salida estándar se cerró o no admite más ("
                  << systemErrorText(*outputError) << "): no se envió nada más a la línea; "
                  << unitResult(run) << ".\n";
    }
    const int status = stopRequested()            ? stoppedExitStatus()
                       : outputLost()             ? kExitPortFailed
                       : run.interrupted          ? stoppedExitStatus()
                       : run.portFailed || !saved ? kExitPortFailed
                       : run.anyFailed            ? kExitBadReply
                                                  : kExitAllGood;
    if (options.json && !outputLost())
        printPlanSummaryJson(run.report, saved, status);
    else if (!options.tap)
        printPlanSummary(run.report);
    return status;
}

}  // namespace marvalo
