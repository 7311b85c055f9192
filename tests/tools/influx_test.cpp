#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/records/influx_line.h"
#include "tests/run_program.h"
#include "tests/sim_process.h"
#include "tests/temp_folder.h"

extern char **environ;

namespace marvalo {
namespace {

using testing::runProgram;

constexpr const char *kInfluxd = "/usr/bin/influxd";

int freeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), size);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size);
    ::close(fd);
    return ntohs(address.sin_port);
}

// InfluxDB 1.x on loopback with a data folder of its own, for one test.
class InfluxServer {
  public:
    explicit InfluxServer(const testing::TempFolder &folder)
        : url_("http://127.0.0.1:" + std::to_string(freeLoopbackPort())) {
        const std::string dir = folder.path().string();
        folder.write("influxdb.conf",
                     "reporting-disabled = true\nbind-address = \"127.0.0.1:" +
                         std::to_string(freeLoopbackPort()) + "\"\n[meta]\ndir = \"" + dir +
                         "/meta\"\n[data]\ndir = \"" + dir + "/data\"\nwal-dir = \"" + dir +
                         "/wal\"\n[http]\nbind-address = \"" + url_.substr(7) +
                         "\"\nlog-enabled = false\n[monitor]\nstore-enabled = false\n");
        const std::string config = dir + "/influxdb.conf";
        char *argv[] = {const_cast<char *>(kInfluxd), const_cast<char *>("-config"),
                        const_cast<char *>(config.c_str()), nullptr};
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        ::posix_spawn(&pid_, kInfluxd, &quiet, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&quiet);
        for (int i = 0;
             i < 100 &&
             curl({"-o", "/dev/null", "-w", "%{http_code}", url_ + "/ping"}).out != "204";
             ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ~InfluxServer() {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    testing::ProgramRun curl(std::vector<std::string> args) const {
        args.insert(args.begin(), {"/usr/bin/curl", "-s"});
        return runProgram(args);
    }
    std::string url(const std::string &path) const { return url_ + path; }
    nlohmann::json select(const std::string &query) const {
        const auto run = curl({"-G", url_ + "/query", "--data-urlencode", "db=bench",
                               "--data-urlencode", "q=" + query});
        return nlohmann::json::parse(run.out)["results"][0]["series"][0];
    }

  private:
    std::string url_;
    pid_t pid_ = -1;
};

// Lines from real exchanges go into a real InfluxDB and come back as the
// numbers and texts they were.
TEST(InfluxLine, LinesLandInInfluxDBAndAreQueriedBack) {
    if (!std::filesystem::exists(kInfluxd))
        GTEST_SKIP() << "no " << kInfluxd << " (Debian influxdb): the lines are not written";
    testing::TempFolder folder;
    InfluxServer influx(folder);
    ASSERT_EQ(
        influx.curl({"-XPOST", influx.url("/query"), "--data-urlencode", "q=CREATE DATABASE bench"})
            .status,
        0);
    testing::SimProcess sim;
    const auto reads =
        runProgram({MARVALO_SEND_PATH, "--device", sim.devicePath(), "--format", "influx", "modbus",
                    "--address", "1", "--function", "3", "--start", "500", "--words", "2",
                    "--registers", "u32", "--count", "3", "--until-complete"});
    const std::string odd = (folder.path() / "no such, port=\"x\"\\").string();
    const auto failed = runProgram(
        {MARVALO_SEND_PATH, "--device", odd, "--format", "influx", "korvel", "--address", "07"});
    folder.write("lines.txt", reads.out + failed.out);
    const auto write = influx.curl({"-w", "%{http_code}", "-XPOST", influx.url("/write?db=bench"),
                                    "--data-binary", "@" + (folder.path() / "lines.txt").string()});
    ASSERT_EQ(write.out, "204") << reads.out << failed.out;

    const auto ok = influx.select(
        "SELECT reg_500, duration_ms, function FROM marvalo WHERE verdict = 'ok' AND address = "
        "'1'");
    ASSERT_EQ(ok["values"].size(), 3u) << ok;
    for (const auto &row : ok["values"]) {
        EXPECT_EQ(row[1], 3000000366LL) << "an unsigned 32-bit value, exact";
        EXPECT_GT(row[2].get<double>(), 0.0);
        EXPECT_EQ(row[3], "3");
    }
    const auto bad = influx.select("SELECT port, failure FROM marvalo WHERE verdict = 'failed'");
    ASSERT_EQ(bad["values"].size(), 1u) << bad;
    EXPECT_EQ(bad["values"][0][1], odd.substr(0, odd.size() - 1) + "<5C>");
    EXPECT_NE(bad["values"][0][2].get<std::string>().find(odd), std::string::npos) << bad;
}

}  // namespace
}  // namespace marvalo
