#include "core/plans/plan_report.h"

#include <cstdio>

#include "core/text/byte_text.h"
#include "core/text/number_text.h"

namespace marvalo {
namespace {

// XML 1.0 admits no control characters but tab and line breaks: the rest
// come named, as everywhere else.
std::string xmlText(const std::string &raw) {
    std::string out;
    std::string lines;
    for (std::size_t from = 0; from <= raw.size();) {
        const std::size_t end = raw.find('\n', from);
        lines += (from == 0 ? "" : "\n") + reportText(raw.substr(from, end - from));
        if (end == std::string::npos)
            break;
        from = end + 1;
    }
    for (char c : lines) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

std::string attribute(const char *name, const std::string &value) {
    std::string escaped = xmlText(value);
    // A line break in an attribute would be read back as a blank.
    for (std::size_t at; (at = escaped.find('\n')) != std::string::npos;)
        escaped.replace(at, 1, "&#10;");
    return std::string(" ") + name + "=\"" + escaped + "\"";
}

std::string seconds(double value) {
    return fixedDecimal(value, 3);
}

std::string yamlQuoted(const std::string &text) {
    std::string quoted = "\"";
    for (char c : reportText(text)) {
        if (c == '"' || c == '\\')
            quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

// What system-out carries: the last try's details, then the tries before it.
std::string systemOut(const CaseResult &result) {
    std::string text = result.details;
    for (std::size_t n = 0; n < result.earlierTries.size(); ++n) {
        text += (text.empty() ? "" : "\n") + std::string("intento ") + std::to_string(n + 1) +
                " de " + std::to_string(result.tries) + ": " + result.earlierTries[n];
    }
    for (const std::string &warning : result.warnings)
        text += (text.empty() ? "" : "\n") + std::string("aviso: ") + warning;
    return text;
}

std::string tapName(const std::string &raw) {
    std::string name;
    for (char c : reportText(raw)) {
        if (c == '#' || c == '\\')
            name.push_back('\\');
        name.push_back(c);
    }
    return name;
}

}  // namespace

std::size_t countOf(const SuiteReport &report, CaseResult::Outcome outcome) {
    std::size_t count = 0;
    for (const CaseResult &result : report.cases)
        count += result.outcome == outcome ? 1 : 0;
    return count;
}

const char *outcomeKey(CaseResult::Outcome outcome) {
    switch (outcome) {
        case CaseResult::Outcome::Passed:
            return "passed";
        case CaseResult::Outcome::Failed:
            return "failed";
        case CaseResult::Outcome::Error:
            return "error";
        case CaseResult::Outcome::Interrupted:
            return "interrupted";
        case CaseResult::Outcome::Skipped:
            break;
    }
    return "skipped";
}

std::string junitXml(const SuiteReport &report) {
    using Outcome = CaseResult::Outcome;
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite" +
                      attribute("name", report.name) +
                      attribute("tests", std::to_string(report.cases.size())) +
                      attribute("failures", std::to_string(countOf(report, Outcome::Failed))) +
                      attribute("errors", std::to_string(countOf(report, Outcome::Error))) +
                      attribute("skipped", std::to_string(countOf(report, Outcome::Skipped) +
                                                          countOf(report, Outcome::Interrupted))) +
                      attribute("time", seconds(report.seconds)) +
                      attribute("timestamp", report.stamp.timestamp) +
                      attribute("hostname", report.stamp.hostname) + ">\n";
    xml += "  <properties>\n";
    for (const auto &[name, value] : report.properties)
        xml += "    <property" + attribute("name", name) + attribute("value", value) + "/>\n";
    xml += "  </properties>\n";
    for (const CaseResult &result : report.cases) {
        xml += "  <testcase" + attribute("name", result.name) +
               attribute("classname", report.classname) +
               attribute("time", seconds(result.seconds)) + ">\n";
        if (result.outcome == Outcome::Failed || result.outcome == Outcome::Error) {
            const char *element = result.outcome == Outcome::Failed ? "failure" : "error";
            xml += std::string("    <") + element + attribute("type", result.failureType) +
                   attribute("message", result.failureMessage) + ">" +
                   xmlText(result.failureMessage) + "</" + element + ">\n";
        } else if (result.outcome == Outcome::Interrupted) {
            xml += "    <skipped" + attribute("message", "interrumpido") + "/>\n";
        } else if (result.outcome == Outcome::Skipped) {
            xml +=
                "    <skipped" + attribute("message", "no se ejecutó: el plan se detuvo") + "/>\n";
        }
        if (const std::string out = systemOut(result); !out.empty())
            xml += "    <system-out>" + xmlText(out) + "</system-out>\n";
        xml += "  </testcase>\n";
    }
    return xml + "</testsuite>\n";
}

std::string tapHeader(std::size_t cases) {
    return "TAP version 14\n1.." + std::to_string(cases) + "\n";
}

std::string tapCase(std::size_t number, const CaseResult &result) {
    using Outcome = CaseResult::Outcome;
    const bool ok = result.outcome == Outcome::Passed || result.outcome == Outcome::Skipped;
    std::string tap =
        std::string(ok ? "ok " : "not ok ") + std::to_string(number) + " - " + tapName(result.name);
    if (result.outcome == Outcome::Skipped)
        tap += " # SKIP no se ejecutó: el plan se detuvo";
    else if (result.outcome == Outcome::Interrupted)
        tap += " # SKIP interrumpido";
    tap += "\n";
    for (const std::string &warning : result.warnings)
        tap += "# aviso: " + reportText(warning) + "\n";
    const bool failed = result.outcome == Outcome::Failed || result.outcome == Outcome::Error;
    if (!failed && result.earlierTries.empty())
        return tap;
    tap += "  ---\n";
    if (failed) {
        tap += "  message: " + yamlQuoted(result.failureMessage) +
               "\n  severity: " + (result.outcome == Outcome::Failed ? "fail" : "error") +
               "\n  type: " + yamlQuoted(result.failureType) + "\n";
    }
    tap += "  tries: " + std::to_string(result.tries) + "\n";
    if (!result.earlierTries.empty()) {
        tap += "  earlier_tries:\n";
        for (const std::string &earlier : result.earlierTries)
            tap += "    - " + yamlQuoted(earlier) + "\n";
    }
    if (failed)
        tap += "  details: " + yamlQuoted(result.details) + "\n";
    return tap + "  ...\n";
}

std::string tapText(const SuiteReport &report) {
    std::string tap = tapHeader(report.cases.size());
    for (std::size_t n = 0; n < report.cases.size(); ++n)
        tap += tapCase(n + 1, report.cases[n]);
    return tap;
}

}  // namespace marvalo
