#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace marvalo {

// One test case: a step, or one repetition of it.
struct CaseResult {
    std::string name;
    enum class Outcome { Passed, Failed, Skipped } outcome = Outcome::Passed;
    int tries = 1;
    std::string failureType;     // a verdict key, or "expectation"
    std::string failureMessage;  // the operator's sentence
    double seconds = 0;
    std::string verdict;  // the last try's verdict key, "failure" when the line failed
    std::optional<double> firstByteMs;
    std::string details;  // request and reply in hex, the named text, the timing
};

// A plan's run, as CI servers read it.
struct SuiteReport {
    std::string name;       // the plan's, or --name
    std::string classname;  // the plan's
    std::string timestamp;  // ISO 8601, when it started
    std::string hostname;
    double seconds = 0;
    std::vector<std::pair<std::string, std::string>> properties;
    std::vector<CaseResult> cases;
};

// JUnit XML (the schema Jenkins' xUnit reads): one testsuite, a testcase
// per case, failure and skipped as they happened, the details in
// system-out. Every text is escaped and made valid UTF-8 first.
std::string junitXml(const SuiteReport &report);

// TAP version 14: a line per case, failures with YAML diagnostics.
std::string tapText(const SuiteReport &report);

}  // namespace marvalo
