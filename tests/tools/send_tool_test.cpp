#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "tests/run_program.h"
#include "tests/sim_process.h"
#include "tests/temp_folder.h"

namespace marvalo {
namespace {

using testing::runProgram;

TEST(SendTool, OneExitStatusPerOutcomeAgainstTheSimulator) {
    const std::vector<std::string> korvel = {"--baud", "19200",         "korvel", "--address",
                                             "01",     "--instruction", "D"};
    const std::vector<std::string> modbus = {"--baud", "19200",      "modbus", "--address",
                                             "1",      "--function", "3",      "--start",
                                             "0",      "--words",    "2"};
    const struct {
        const char *name;
        std::vector<std::string> sim;
        std::vector<std::string> send;
        int status;
        const char *outHas;
    } rows[] = {
        {"all good", {}, korvel, 0, "ok: línea completa"},
        {"no reply", {"--silent"}, korvel, 1, "silence"},
        {"bad reply", {"--bad-check"}, modbus, 3, "bad-check"},
        {"exception counts as bad", {"--exception", "2"}, modbus, 3, "no permitida"},
        {"rejected input", {}, {"iso1745", "--address", "01", "--instruction", "ÀA"}, 2, ""},
        {"port failed",
         {},
         {"--device", "/nonexistent/tty", "korvel", "--address", "01"},
         4,
         "/nonexistent/tty"},
        {"usage", {}, {"--count", "0", "korvel", "--address", "01"}, 64, ""},
        {"settings file gives line, address and protocol",
         {},
         {"--instruction", "D"},
         0,
         "01D+0023.4<CR>"},
    };
    testing::TempFolder folder;
    folder.write("bench.sdx", "000140\r\n");  // RS232, COM 1, address 01, 19200, Korvel
    for (const auto &row : rows) {
        testing::SimProcess sim(row.sim);
        std::vector<std::string> argv{MARVALO_SEND_PATH};
        const bool usesSettings = row.send.front() == "--instruction";
        if (usesSettings) {
            ::setenv("MARVALO_COM1", sim.devicePath().c_str(), 1);
            argv.insert(argv.end(), {"--settings", (folder.path() / "bench.sdx").string()});
        } else if (row.send.front() != "--device") {
            argv.insert(argv.end(), {"--device", sim.devicePath()});
        }
        argv.insert(argv.end(), row.send.begin(), row.send.end());
        const auto run = runProgram(argv);
        ::unsetenv("MARVALO_COM1");
        EXPECT_EQ(run.status, row.status) << row.name << "\n" << run.out << run.err;
        EXPECT_NE(run.out.find(row.outHas), std::string::npos) << row.name << ": " << run.out;
        if (row.status == 2 || row.status == 64)
            EXPECT_EQ(run.out, "") << row.name;
    }
}

TEST(SendTool, UntilCompleteEndsLongBeforeTheWait) {
    testing::SimProcess sim;
    const auto start = std::chrono::steady_clock::now();
    const auto run = runProgram({MARVALO_SEND_PATH, "--device", sim.devicePath(), "--baud", "19200",
                                 "--wait", "3000", "--until-complete", "--count", "5", "--json",
                                 "korvel", "--address", "01", "--instruction", "D"});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500)) << "5 waits of 3 s were cut short";
    EXPECT_NE(run.out.find("\"summary\":{\"exchanges\":5,\"failures\":0,\"verdicts\":{\"ok\":5}"),
              std::string::npos)
        << run.out;
}

}  // namespace
}  // namespace marvalo
