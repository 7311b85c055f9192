#include "tools/plan_runner.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/frames/check_codes.h"
#include "link/fake_port.h"

namespace marvalo {
namespace {

// Three steps, each a read, against a fake port; a stop requested at one
// point of the run. After it, no write and no RTS may reach the line.
TEST(PlanRunner, NothingReachesTheLineAfterAStop) {
    using Outcome = CaseResult::Outcome;
    const struct {
        const char *name;
        std::uint8_t link;
        bool answer;
        // When the stop comes, from what the port has seen so far.
        std::function<bool(const OperationLog &)> stopWhen;
        std::size_t writes;
        std::vector<Outcome> outcomes;
        bool stopEndsTheOpen = false;  // as one during a server's name lookup
    } rows[] = {
        {"between steps",
         0,
         true,
         [](const OperationLog &log) { return std::ranges::count(log, "close") >= 1; },
         1,
         {Outcome::Passed, Outcome::Skipped, Outcome::Skipped}},
        {"during the delay",
         0,
         true,
         [](const OperationLog &log) { return log.nowUs >= 500'000; },
         1,
         {Outcome::Passed, Outcome::Skipped, Outcome::Skipped}},
        {"during the wait",
         0,
         false,
         [](const OperationLog &log) { return log.nowUs >= 50'000; },
         1,
         {Outcome::Interrupted, Outcome::Skipped, Outcome::Skipped}},
        {"while RS485's RTS leads the write",
         1,
         true,
         [](const OperationLog &log) { return !log.empty() && log.back() == "sleep 50"; },
         0,
         {Outcome::Skipped, Outcome::Skipped, Outcome::Skipped}},
        {"while the port opens",
         0,
         true,
         [](const OperationLog &log) { return !log.empty(); },
         0,
         {Outcome::Interrupted, Outcome::Skipped, Outcome::Skipped},
         true},
    };
    const std::string step =
        "[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 3\n"
        "start = 0\nwords = 1\ndelay_ms = 1000\n";
    const auto plan = parseTestPlan(step + step + step, "stop.toml");
    ASSERT_TRUE(plan);
    Bytes reply{1, 3, 2, 0, 7};
    const Bytes crc = CalcCRC(reply);
    reply.insert(reply.end(), crc.begin(), crc.end());
    for (const auto &row : rows) {
        OperationLog log;
        FakePort port(log);
        FakeSleeper sleeper(log);
        if (row.answer)
            port.queueTimedReply({{5, reply}});
        if (row.stopEndsTheOpen)
            port.failNext(FakePort::Op::Open, LinkError::Kind::Stopped);
        PlanRunSettings settings;
        settings.line.waitMs = 200;
        settings.line.linkType = row.link;
        bool stopped = false;
        std::size_t writesAtStop = 0;
        settings.stopRequested = [&] {
            if (!stopped && row.stopWhen(log)) {
                stopped = true;
                writesAtStop = static_cast<std::size_t>(std::ranges::count_if(
                    log, [](const std::string &op) { return op.starts_with("write"); }));
            }
            return stopped;
        };
        const PlanRun run = runPlan(plan.value(), port, sleeper, settings);
        const auto writes = std::ranges::count_if(
            log, [](const std::string &op) { return op.starts_with("write"); });
        EXPECT_TRUE(run.interrupted) << row.name;
        EXPECT_EQ(static_cast<std::size_t>(writes), row.writes) << row.name;
        EXPECT_EQ(static_cast<std::size_t>(writes), writesAtStop) << row.name << ": wrote after";
        EXPECT_FALSE(port.rtsRaised()) << row.name;
        std::vector<Outcome> outcomes;
        for (const CaseResult &result : run.report.cases)
            outcomes.push_back(result.outcome);
        EXPECT_EQ(outcomes, row.outcomes) << row.name;
        if (row.outcomes[0] == Outcome::Interrupted) {
            EXPECT_EQ(run.report.cases[0].verdict, "interrumpido") << "no verdict of the unit's";
        }
    }
}

// A 43/14 step answered in two parts: every report carries both exchanges
// and the objects of each, not the last part's alone.
TEST(PlanRunner, IdentificationInPartsIsReportedWhole) {
    const auto plan = parseTestPlan("[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 43\n",
                                    "parts.toml");
    OperationLog log;
    FakePort port(log);
    FakeSleeper sleeper(log);
    for (Bytes part : {Bytes{1, 43, 14, 1, 0x81, 0xFF, 1, 1, 0, 1, 'A', 0x87, 0xA0},
                       Bytes{1, 43, 14, 1, 0x81, 0x00, 0, 1, 1, 1, 'B', 0xBF, 0xAE}})
        port.queueReply(part);
    PlanRunSettings settings;
    settings.line.waitMs = 200;
    std::size_t parts = 0;
    settings.onTry = [&](const StepTry &done) { parts = done.earlierParts.size() + 1; };
    const PlanRun run = runPlan(plan.value(), port, sleeper, settings);
    const std::string &details = run.report.cases.at(0).details;
    EXPECT_EQ(parts, 2U);
    for (const char *seen :
         {"01 2B 0E 01 00", "01 2B 0E 01 01", "VendorName = \"A\"", "ProductCode = \"B\""})
        EXPECT_NE(details.find(seen), std::string::npos) << seen << " in " << details;
}

}  // namespace
}  // namespace marvalo
