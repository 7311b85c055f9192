#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "tests/run_program.h"
#include "tests/sim_process.h"
#include "tests/temp_folder.h"

extern char **environ;

namespace marvalo {
namespace {

using testing::runProgram;

constexpr const char *kInfluxd = "/usr/bin/influxd";

// InfluxDB 1.x with a data folder of its own, for one test.
class InfluxServer {
  public:
    explicit InfluxServer(const testing::TempFolder &folder)
        : socket_((folder.path() / "influxdb.sock").string()) {
        const std::string dir = folder.path().string();
        // Every port the kernel's choice: the test speaks through the socket.
        folder.write("influxdb.conf",
                     "reporting-disabled = true\nbind-address = \"127.0.0.1:0\"\n[meta]\ndir = \"" +
                         dir + "/meta\"\n[data]\ndir = \"" + dir + "/data\"\nwal-dir = \"" + dir +
                         "/wal\"\n[http]\nbind-address = \"127.0.0.1:0\"\nlog-enabled = false\n"
                         "unix-socket-enabled = true\nbind-socket = \"" +
                         socket_ +
                         "\"\n[monitor]\nstore-enabled = false\n[logging]\nlevel = \"error\"\n");
        const std::string config = dir + "/influxdb.conf";
        const char *argv[] = {kInfluxd, "-config", config.c_str(), nullptr};
        ::posix_spawn(&pid_, kInfluxd, nullptr, nullptr, const_cast<char **>(argv), environ);
        for (int i = 0;
             i < 100 && curl({"-o", "/dev/null", "-w", "%{http_code}", "/ping"}) != "204"; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~InfluxServer() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    // Its answer's body; the last argument is a path on the server.
    std::string curl(std::vector<std::string> args) const {
        args.back() = "http://influxdb" + args.back();
        args.insert(args.begin(), {"/usr/bin/curl", "-s", "--unix-socket", socket_});
        return runProgram(args).out;
    }
    nlohmann::json select(const std::string &query) const {
        return nlohmann::json::parse(
            curl({"-G", "--data-urlencode", "db=bench", "--data-urlencode", "q=" + query,
                  "/query"}))["results"][0]["series"][0]["values"];
    }

  private:
    std::string socket_;
    pid_t pid_ = -1;
};

// Lines from real exchanges go into a real InfluxDB and come back as the
// numbers and texts they were, escapes undone.
TEST(InfluxLine, LinesLandInInfluxDBAndAreQueriedBack) {
    if (!std::filesystem::exists(kInfluxd))
        GTEST_SKIP() << "no " << kInfluxd << " (Debian influxdb): the lines are not written";
    testing::TempFolder folder;
    InfluxServer influx(folder);
    influx.curl({"-XPOST", "--data-urlencode", "q=CREATE DATABASE bench", "/query"});
    testing::SimProcess sim;
    const auto reads =
        runProgram({MARVALO_SEND_PATH, "--device", sim.devicePath(), "--format", "influx", "modbus",
                    "--address", "1", "--function", "3", "--start", "500", "--words", "2",
                    "--registers", "u32", "--count", "3", "--until-complete"});
    const std::string odd = (folder.path() / "no such, port=\"x\"\\").string();
    const auto failed = runProgram(
        {MARVALO_SEND_PATH, "--device", odd, "--format", "influx", "korvel", "--address", "07"});
    folder.write("lines.txt", reads.out + failed.out);
    ASSERT_EQ(influx.curl({"-w", "%{http_code}", "-XPOST", "--data-binary",
                           "@" + (folder.path() / "lines.txt").string(), "/write?db=bench"}),
              "204")
        << reads.out << failed.out;

    const auto ok = influx.select(
        "SELECT reg_500, function FROM marvalo WHERE verdict = 'ok' AND address = '1'");
    ASSERT_EQ(ok.size(), 3u) << ok;
    for (const auto &row : ok) {
        EXPECT_EQ(row[1], 3000000366LL) << "an unsigned 32-bit value, exact";
        EXPECT_EQ(row[2], "3");
    }
    const auto bad = influx.select("SELECT port, failure FROM marvalo WHERE verdict = 'failed'");
    ASSERT_EQ(bad.size(), 1u) << bad;
    EXPECT_EQ(bad[0][1], odd.substr(0, odd.size() - 1) + "<5C>");
    EXPECT_NE(bad[0][2].get<std::string>().find(odd), std::string::npos) << bad;
}

}  // namespace
}  // namespace marvalo
