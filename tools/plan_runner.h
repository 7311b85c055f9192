#pragma once

#include <functional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/plans/plan_judge.h"
#include "core/plans/plan_report.h"
#include "core/plans/test_plan.h"
#include "link/serial_port.h"
#include "link/sleeper.h"
#include "tools/send_line.h"

namespace marvalo {

// One try of one step, as it happened, for the command line's output.
struct StepTry {
    const PlanStep &step;
    int repetition;  // from 1
    int tryNumber;   // from 1
    const ExchangeOutcome &outcome;
    const StepCheck &check;
    // The process was stopped during the try (Ctrl-Z, SIGSTOP): its times
    // are ours, not the unit's.
    bool timingUnknown = false;
    // 43/14 fetched in parts: the parts before `outcome`, the last.
    std::span<const ExchangeOutcome> earlierParts{};
};

struct PlanRunSettings {
    SendLine line;  // merged already: the command line over the plan's [line]
    std::string suiteName;
    std::vector<std::pair<std::string, std::string>> properties;
    std::function<bool()> stopRequested;     // Ctrl-C: nothing more is sent
    std::function<unsigned()> processStops;  // how often the process was continued
    // When the process, stopped since a moment, was last seen running
    std::function<std::int64_t(std::int64_t)> lastAwakeSinceUs;
    std::function<void(const StepTry &)> onTry;  // every exchange
    std::function<void(const CaseResult &)> onCase;
};

struct PlanRun {
    SuiteReport report;
    bool anyFailed = false;    // the unit failed a step
    bool portFailed = false;   // the rig failed
    bool interrupted = false;  // a stop request ended the run
};

// Runs every step (each repetition a case, each failure tried again up to
// its retries), pausing delay_ms after each; a failing step that stops the
// plan, a failed port or a stop request leaves the rest skipped. After a
// stop request nothing more reaches the line: the case it cut short is
// interrupted, a case whose request never left is skipped. Every case
// has its result on every way out.
// The port comes configured (configurePort): any backend will do.
PlanRun runPlan(const TestPlan &plan, SerialPort &port, Sleeper &sleeper,
                const PlanRunSettings &settings);

// The line of a plan: the command line's choices over its [line] table.
SendLine planLine(const PlanLine &plan, SendLine commandLine, bool portGiven, bool baudGiven,
                  bool linkGiven, bool waitGiven);

}  // namespace marvalo
