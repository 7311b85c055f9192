#include "core/plans/test_plan.h"

#include <gtest/gtest.h>

#include "core/plans/plan_report.h"

namespace marvalo {
namespace {

constexpr const char *kStep = "[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 3\n";

TEST(TestPlan, BadPlansAreRefusedWithTheirPlace) {
    const std::pair<std::string, const char *> rows[] = {
        {"[[step]\nprotocol = \"korvel\"", "bad.toml:1:"},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 1\ncolour = \"red\"",
         "bad.toml:4:1: la clave \"colour\" no existe en [[step]]"},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 100",
         "bad.toml:3:11: address es el entero 100"},
        {"[[step]]\nprotocol = \"dnp3\"\naddress = 1",
         "protocol es \"dnp3\"; se admite \"korvel\""},
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 6",
         "function es 6; se admite 3, 4, 16 o 5"},
        {std::string(kStep) + "expect = { verdict = \"fine\" }",
         "verdict es \"fine\", que no es ningún veredicto"},
        {std::string(kStep) + "expect = { reply_hex = \"01 03 0\" }", "reply_hex es \"01 03 0\""},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 1\nexpect = { text = \"(\" }",
         "no es una expresión regular válida"},
        {"[[step]]\nprotocol = \"iso1745\"\naddress = 1\nexpect = { registers = [] }",
         "registers solo se aplica a una lectura modbus"},
        {std::string(kStep) + "expect = { registers = [ { number = 1, format = \"f64\" } ] }",
         "\"f64\" is no format"},
        {"[[step]]\nprotocol = \"korvel\"\naddress = 1\nfunction = 3",
         "function no se aplica a este protocolo"},
        {"[line]\nbaud = 115200\n[[step]]\nprotocol = \"korvel\"\naddress = 1",
         "baud es el entero 115200; se admite 1200, 2400, 4800, 9600 o 19200"},
        {"[line]\nwait = \"forever\"\n[[step]]\nprotocol = \"korvel\"\naddress = 1",
         "wait es \"forever\""},
        {"[line]\nbaud = 9600", "el plan no tiene ningún [[step]]"},
        // The panel's own refusal, in its words.
        {"[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 3\nwords = 300",
         "bad.toml:1:1: el paso \"paso 1\": "},
    };
    for (const auto &[text, says] : rows) {
        auto plan = parseTestPlan(text, "bad.toml");
        ASSERT_FALSE(plan) << text;
        std::string all;
        for (const std::string &error : plan.error())
            all += error + "\n";
        EXPECT_NE(all.find(says), std::string::npos) << text << "\n -> " << all;
    }
}

TEST(TestPlan, ReportsCarryEveryCaseAndNoRawBytes) {
    SuiteReport report{"unit <7>",          "unit", "2026-12-07T10:00:00.000+00:00", "bench", 1.5,
                       {{"serial", "A&B"}}, {}};
    using Outcome = CaseResult::Outcome;
    report.cases.push_back(
        {"read \xEF\xBF\xBE", Outcome::Passed, 1, {}, "", "", 0.1, "ok", 5.2, "x"});
    report.cases.push_back({"write # 2 \\",
                            Outcome::Failed,
                            3,
                            {"silence", "bad-check: mal"},
                            "bad-check",
                            "llegó \x1B[2J \"mal\"",
                            0.2,
                            "bad-check",
                            5.0,
                            "r: 01"});
    report.cases.push_back({"later", Outcome::Skipped, 0, {}, "", "", 0, "", {}, ""});
    report.cases.push_back({"port", Outcome::Error, 1, {}, "port", "se fue", 0, "", {}, ""});
    report.cases.push_back({"cut", Outcome::Interrupted, 1, {}, "", "", 0, "", {}, ""});
    const std::string xml = junitXml(report);
    for (const char *part :
         {"<testsuite name=\"unit &lt;7&gt;\" tests=\"5\" failures=\"1\" errors=\"1\" "
          "skipped=\"2\"",
          "name=\"read &lt;FFFE&gt;\"", "intento 2 de 3: bad-check: mal", "<error type=\"port\"",
          "<skipped message=\"interrumpido\"/>", "<property name=\"serial\" value=\"A&amp;B\"/>",
          "<failure type=\"bad-check\" message=\"llegó &lt;1B&gt;[2J &quot;mal&quot;\">",
          "<skipped message="}) {
        EXPECT_NE(xml.find(part), std::string::npos) << part << "\n" << xml;
    }
    const std::string tap = tapText(report);
    for (const char *part : {"TAP version 14\n1..5\n", "not ok 2 - write \\# 2 \\\\\n",
                             "  message: \"llegó <1B>[2J \\\"mal\\\"\"\n", "    - \"silence\"\n",
                             "ok 3 - later # SKIP", "not ok 4 - port\n  ---\n",
                             "not ok 5 - cut # SKIP interrumpido"}) {
        EXPECT_NE(tap.find(part), std::string::npos) << part << "\n" << tap;
    }
}

}  // namespace
}  // namespace marvalo
