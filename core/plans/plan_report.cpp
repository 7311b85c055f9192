#include "core/plans/plan_report.h"

#include <cstdio>

#include "core/text/byte_text.h"

namespace marvalo {
namespace {

// XML 1.0 admits no control characters but tab and line breaks: the rest
// come named, as everywhere else.
std::string xmlText(const std::string &raw) {
    std::string out;
    std::string lines;
    for (std::size_t from = 0; from <= raw.size();) {
        const std::size_t end = raw.find('\n', from);
        lines += (from == 0 ? "" : "\n") + safeText(raw.substr(from, end - from));
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
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::size_t countOf(const SuiteReport &report, CaseResult::Outcome outcome) {
    std::size_t count = 0;
    for (const CaseResult &result : report.cases)
        count += result.outcome == outcome ? 1 : 0;
    return count;
}

std::string yamlQuoted(const std::string &text) {
    std::string quoted = "\"";
    for (char c : safeText(text)) {
        if (c == '"' || c == '\\')
            quoted.push_back('\\');
        quoted.push_back(c);
    }
    return quoted + "\"";
}

}  // namespace

std::string junitXml(const SuiteReport &report) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuite" + attribute("name", report.name) +
        attribute("tests", std::to_string(report.cases.size())) +
        attribute("failures", std::to_string(countOf(report, CaseResult::Outcome::Failed))) +
        attribute("errors", "0") +
        attribute("skipped", std::to_string(countOf(report, CaseResult::Outcome::Skipped))) +
        attribute("time", seconds(report.seconds)) + attribute("timestamp", report.timestamp) +
        attribute("hostname", report.hostname) + ">\n";
    xml += "  <properties>\n";
    for (const auto &[name, value] : report.properties)
        xml += "    <property" + attribute("name", name) + attribute("value", value) + "/>\n";
    xml += "  </properties>\n";
    for (const CaseResult &result : report.cases) {
        xml += "  <testcase" + attribute("name", result.name) +
               attribute("classname", report.classname) +
               attribute("time", seconds(result.seconds)) + ">\n";
        if (result.outcome == CaseResult::Outcome::Failed) {
            xml += "    <failure" + attribute("type", result.failureType) +
                   attribute("message", result.failureMessage) + ">" +
                   xmlText(result.failureMessage) + "</failure>\n";
        } else if (result.outcome == CaseResult::Outcome::Skipped) {
            xml +=
                "    <skipped" + attribute("message", "no se ejecutó: el plan se detuvo") + "/>\n";
        }
        if (!result.details.empty())
            xml += "    <system-out>" + xmlText(result.details) + "</system-out>\n";
        xml += "  </testcase>\n";
    }
    return xml + "</testsuite>\n";
}

std::string tapText(const SuiteReport &report) {
    std::string tap = "TAP version 14\n1.." + std::to_string(report.cases.size()) + "\n";
    std::size_t number = 0;
    for (const CaseResult &result : report.cases) {
        ++number;
        const bool ok = result.outcome != CaseResult::Outcome::Failed;
        // "#" would start a directive: the name must not carry one.
        std::string name = safeText(result.name);
        for (char &c : name)
            c = c == '#' ? '_' : c;
        tap += std::string(ok ? "ok " : "not ok ") + std::to_string(number) + " - " + name;
        if (result.outcome == CaseResult::Outcome::Skipped)
            tap += " # SKIP no se ejecutó: el plan se detuvo";
        tap += "\n";
        if (result.outcome == CaseResult::Outcome::Failed) {
            tap += "  ---\n  message: " + yamlQuoted(result.failureMessage) +
                   "\n  severity: fail\n  type: " + yamlQuoted(result.failureType) +
                   "\n  tries: " + std::to_string(result.tries) +
                   "\n  details: " + yamlQuoted(result.details) + "\n  ...\n";
        }
    }
    return tap;
}

}  // namespace marvalo
