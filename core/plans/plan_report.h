#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace marvalo {

// One test case: a step, or one repetition of it.
struct CaseResult {
    std::string name;
    // Failed: the unit did not do what the step expects. Error: the rig
    // failed (the port), so nothing is known about the unit. Interrupted: a
    // stop came while it ran. Skipped: it never ran.
    enum class Outcome { Passed, Failed, Error, Interrupted, Skipped } outcome = Outcome::Passed;
    int tries = 1;
    std::vector<std::string> earlierTries;  // a retried step's tries before its last
    std::string failureType;                // a verdict key, or "expectation"
    std::string failureMessage;             // the operator's sentence
    double seconds = 0;
    // The last try's verdict key; "sin veredicto" when the line failed,
    // "interrumpido" when a stop cut it short.
    std::string verdict;
    std::optional<double> firstByteMs;
    std::string details;         // request and reply in hex, the named text, the timing
    bool timingUnknown = false;  // the process was stopped during the try
    // What the line said of itself during the tries (a server connection
    // opened again), beside the verdict.
    std::vector<std::string> warnings{};
};

// When a run started (ISO 8601) and on which host.
struct ReportStamp {
    std::string timestamp;
    std::string hostname;
};

// A plan's run, as CI servers read it.
struct SuiteReport {
    std::string name;       // the plan's, or --name
    std::string classname;  // the plan's
    ReportStamp stamp;
    double seconds = 0;
    std::vector<std::pair<std::string, std::string>> properties;
    std::vector<CaseResult> cases;
};

// How many of the report's cases ended that way.
std::size_t countOf(const SuiteReport &report, CaseResult::Outcome outcome);

// The outcome's word in the command line's output and JSON: "passed",
// "failed", "error", "interrupted", "skipped".
const char *outcomeKey(CaseResult::Outcome outcome);

// JUnit XML (the schema Jenkins' xUnit reads): one testsuite, a testcase
// per case, a unit's fault as <failure>, the rig's as <error>, an
// interrupted case as <skipped message="interrumpido">, the details and
// earlier tries in system-out. Only characters XML 1.0 allows are written:
// the rest are named ("<1B>", "<FFFE>").
std::string junitXml(const SuiteReport &report);

// TAP version 14: a line per case ("\#" and "\\" escaped in names), an
// interrupted case "not ok ... # SKIP interrumpido", failures and retried
// cases with YAML diagnostics.
std::string tapText(const SuiteReport &report);
// The same in pieces, to stream a run: the version and plan lines (the
// count of cases is known before the first runs), then each case as it ends.
std::string tapHeader(std::size_t cases);
std::string tapCase(std::size_t number, const CaseResult &result);

}  // namespace marvalo
