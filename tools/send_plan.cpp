// marvalo-send --plan: a test plan's steps against one unit.
#include <iostream>

#include "core/plans/test_plan.h"
#include "core/text/byte_text.h"
#include "files/atomic_save.h"
#include "files/bounded_read.h"
#include "link/termios_port.h"
#include "tools/plan_runner.h"
#include "tools/send_json.h"
#include "tools/send_modes.h"
#include "tools/send_tap.h"
#include "tools/send_text.h"
#include "tools/stop_signal.h"

namespace marvalo {
namespace {

constexpr std::size_t kMaxPlanBytes = 1024 * 1024;

}  // namespace

// --plan FILE: check it whole, then (without --check) run it, print a line
// per case (or TAP, or JSON per exchange) and write the JUnit report.
int runPlanFile(const SendOptions &options, BenchPorts &benchPorts) {
    const std::string file = *options.plan;
    auto text = readBoundedFile(file, kMaxPlanBytes);
    if (!text) {
        std::cerr << "El plan \"" << safeText(file) << "\" " << text.error().reason
                  << ". Nada se envió.\n";
        return kExitRejected;
    }
    auto plan = parseTestPlan(text.value(), file);
    if (!plan) {
        for (const std::string &error : plan.error())
            std::cerr << safeText(error) << "\n";
        std::cerr << "El plan tiene " << plan.error().size()
                  << (plan.error().size() == 1 ? " error" : " errores") << "; nada se envió.\n";
        return kExitRejected;
    }
    if (options.check) {
        std::cout << "plan " << plan.value().name << ": " << plan.value().steps.size()
                  << " steps, every request builds; nothing was sent\n";
        return kExitAllGood;
    }
    const SendLine line =
        planLine(plan.value().line, lineFrom(options, std::nullopt), options.port || options.device,
                 options.baudIndex.has_value(), options.linkType.has_value(),
                 options.continuous || options.untilComplete || options.waitMs.has_value());
    TermiosPort port;
    port.setPortMap(benchPorts);
    ThreadSleeper sleeper;
    catchStopSignals();
    PlanRunSettings settings;
    settings.line = line;
    settings.suiteName = options.suiteName.value_or("");
    settings.properties = options.properties;
    settings.stopRequested = stopRequested;
    settings.onTry = [&](const StepTry &done) {
        if (options.json)
            printPlanTryJson(done, options.registers);
    };
    settings.onCase = [&](const CaseResult &result) {
        if (!options.json && !options.tap)
            printCaseLine(result);
    };
    const PlanRun run = runPlan(plan.value(), port, sleeper, settings);
    if (options.tap)
        printTap(run.report);
    int status = run.portFailed ? kExitPortFailed : run.anyFailed ? kExitBadReply : kExitAllGood;
    if (options.junit) {
        if (auto saved = saveAtomically(*options.junit, junitXml(run.report)); !saved) {
            std::cerr << "No se pudo guardar el informe JUnit \"" << safeText(*options.junit)
                      << "\": " << saved.error() << "\n";
            status = kExitPortFailed;
        }
    }
    if (!options.json && !options.tap)
        printPlanSummary(run.report);
    return status;
}

}  // namespace marvalo
