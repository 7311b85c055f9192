// marvalo-send against a Modbus implementation that is not ours: pymodbus
// serving a unit of the test's own on one end of a socat pty pair. Every
// function of the table is judged ok, and what the writes carried is read
// back from the server's own store, not over the line.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "tests/run_program.h"
#include "tests/temp_folder.h"

namespace marvalo {
namespace {

namespace fs = std::filesystem;
using testing::runProgram;

// A program of the test's, stopped (by its own pid) when the test ends.
class Background {
  public:
    explicit Background(std::vector<std::string> argv) {
        pid_ = ::fork();
        if (pid_ == 0) {
            std::vector<char *> args;
            for (auto &arg : argv)
                args.push_back(arg.data());
            args.push_back(nullptr);
            ::freopen("/dev/null", "w", stderr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
    }
    ~Background() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    Background(const Background &) = delete;
    Background &operator=(const Background &) = delete;

  private:
    pid_t pid_ = -1;
};

bool waitFor(const std::function<bool()> &ready) {
    for (int tries = 0; tries < 100; ++tries) {
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class PymodbusPeer : public ::testing::Test {
  protected:
    void SetUp() override {
        socat_ = std::make_unique<Background>(std::vector<std::string>{
            "/usr/bin/socat", "pty,raw,echo=0,link=" + (folder_.path() / "unit").string(),
            "pty,raw,echo=0,link=" + (folder_.path() / "bench").string()});
        ASSERT_TRUE(waitFor([&] {
            return fs::exists(folder_.path() / "unit") && fs::exists(folder_.path() / "bench");
        }));
        server_ = std::make_unique<Background>(std::vector<std::string>{
            "/usr/bin/python3", std::string(MARVALO_SOURCE_DIR) + "/tests/tools/pymodbus_server.py",
            (folder_.path() / "unit").string(), "17", store().string()});
        // Python takes a while to import pymodbus: the first answer says it is up.
        ASSERT_TRUE(waitFor([&] {
            return send({"--function", "3", "--start", "0", "--words", "1"}).status == 0;
        }));
    }
    fs::path store() const { return folder_.path() / "store.log"; }
    testing::ProgramRun send(const std::vector<std::string> &request,
                             const std::vector<std::string> &before = {}) {
        std::vector<std::string> argv{MARVALO_SEND_PATH,
                                      "--device",
                                      (folder_.path() / "bench").string(),
                                      "--baud",
                                      "19200",
                                      "--wait",
                                      "500",
                                      "--until-complete"};
        argv.insert(argv.end(), before.begin(), before.end());
        argv.insert(argv.end(), {"modbus", "--address", "17"});
        argv.insert(argv.end(), request.begin(), request.end());
        return runProgram(argv);
    }
    testing::TempFolder folder_;
    std::unique_ptr<Background> socat_;
    std::unique_ptr<Background> server_;
};

TEST_F(PymodbusPeer, EveryFunctionIsJudgedOkAndWritesReachTheStore) {
    const struct {
        std::vector<std::string> request;
        const char *answered;  // a part of the JSON line that only the right answer gives
    } rows[] = {
        {{"--function", "1", "--start", "0", "--bits", "10"}, "\"bits\":[1,0,1,1,0,1,1,0,1,1]"},
        {{"--function", "2", "--start", "0", "--bits", "10"}, "\"bits\":[1,0,1,0,1,0,1,0,1,0]"},
        {{"--function", "3", "--start", "1", "--words", "2"}, "\"reply\":\"11 03 04 00 64 00 C8"},
        {{"--function", "4", "--start", "0", "--words", "2"}, "\"reply\":\"11 04 04 03 E8 03 E9"},
        {{"--function", "5", "--start", "3", "--value", "on"}, "\"coils\":[1]"},
        {{"--function", "6", "--start", "10", "--value", "-2", "--registers", "s16"},
         "\"value\":-2"},
        {{"--function", "15", "--start", "20", "--values", "1,0,1,1"}, "\"coils\":[1,0,1,1]"},
        {{"--function", "16", "--start", "30", "--values", "21.5", "--registers", "f32:CDAB"},
         "\"value\":21.5"},
        {{"--function", "22", "--start", "4", "--and-mask", "0xF2", "--or-mask", "0x25"},
         "\"or_mask\":37"},
        {{"--function", "23", "--read-start", "3", "--words", "2", "--start", "40", "--values",
          "7,8"},
         "\"reply\":\"11 17 04 01 2C 00 95"},  // 4 after the mask
        {{"--function", "7"}, "\"exception_status\":"},
        {{"--function", "8", "--data-hex", "A5 37"}, "\"reply\":\"11 08 00 00 A5 37"},
        {{"--function", "17"}, "\"server_id\":{\"id\":"},
        // Too long for one answer: the rest asked from the object it names.
        {{"--function", "43", "--object", "extended"}, "\"request\":\"11 2B 0E 03 81"},
        {{"--function", "43", "--object", "1"},
         R"("identity":[{"id":1,"name":"ProductCode","text":"PM-3"}])"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> request = row.request;
        auto registers = std::find(request.begin(), request.end(), "--registers");
        const std::string capture = (folder_.path() / "c.pcapng").string();
        std::vector<std::string> before{"--json", "--pcap", capture};
        if (registers != request.end()) {
            before.insert(before.end(), registers, registers + 2);
            request.erase(registers, registers + 2);
        }
        const auto run = send(request, before);
        EXPECT_EQ(run.status, 0) << row.request[1] << "\n" << run.out << run.err;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            const auto exchange = nlohmann::json::parse(line);
            if (!exchange.contains("summary")) {
                EXPECT_EQ(exchange["verdict"], "ok") << row.request[1] << ": " << line;
            }
        }
        EXPECT_NE(run.out.find(row.answered), std::string::npos) << row.request[1] << "\n"
                                                                 << run.out;
        // Wireshark's own dissector takes the capture apart, the comment
        // names the function.
        const auto read = runProgram({"/usr/bin/tshark", "-o", "mbrtu.tcp.port:502", "-o",
                                      "mbrtu.crc_verification:TRUE", "-V", "-r", capture});
        EXPECT_EQ(read.status, 0) << read.err;
        EXPECT_EQ(read.out.find("Malformed"), std::string::npos) << row.request[1] << read.out;
        EXPECT_NE(read.out.find("función " + row.request[1] + " ("), std::string::npos) << read.out;
        EXPECT_NE(read.out.find("[CRC-16 Status: Good]"), std::string::npos) << read.out;
    }
    // The store's own account of every write, in the order sent.
    std::ifstream log(store());
    std::stringstream writes;
    writes << log.rdbuf();
    EXPECT_EQ(writes.str(),
              "co 3 1\nhr 10 65534\nco 20 1 0 1 1\nhr 30 0 16812\nhr 4 "
              "149\nhr 40 7 8\n");
}

TEST_F(PymodbusPeer, APlanOfTheNewFunctionsRunsGreen) {
    folder_.write("unit.toml", R"([line]
device = ")" + (folder_.path() / "bench").string() +
                                   R"("
baud = 19200
wait = "until-complete"

[[step]]
name = "one register, with 6"
protocol = "modbus"
address = 17
function = 6
start = 12
value = 4321

[[step]]
name = "coils, with 15"
protocol = "modbus"
address = 17
function = 15
start = 50
values = [1, 1, 0, 1]

[[step]]
name = "the coils read back"
protocol = "modbus"
address = 17
function = 1
start = 50
bits = 4
expect = { bits = [1, 1, 0, 1] }

[[step]]
name = "read and write, with 23"
protocol = "modbus"
address = 17
function = 23
read_start = 12
words = 2
start = 60
values = [-3]
format = "s16"
expect = { registers = [ { number = 12, equals = 4321 }, { number = 13, equals = 1300 } ] }

[[step]]
name = "who it is, with 43/14"
protocol = "modbus"
address = 17
function = 43
object = "basic"
expect = { identity = { VendorName = "Marvalo Test Bench", ProductCode = "PM-3" } }

[[step]]
name = "beyond the map"
protocol = "modbus"
address = 17
function = 3
start = 500
words = 1
expect = { exception = "illegal-data-address" }

[[step]]
name = "its exception status, as given"
protocol = "modbus"
raw = "11 07 4C 22"
crc = "keep"
)");
    const auto run = runProgram(
        {MARVALO_SEND_PATH, "--json", "--plan", (folder_.path() / "unit.toml").string()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    for (const char *says : {R"("written":[{"number":60,"format":"s16","value":-3)",
                             R"("exception":{"code":2,"name":"illegal-data-address"})"})
        EXPECT_NE(run.out.find(says), std::string::npos) << says << "\n" << run.out;
    std::ifstream log(store());
    std::stringstream writes;
    writes << log.rdbuf();
    EXPECT_NE(writes.str().find("hr 60 65533\n"), std::string::npos) << writes.str();
}

}  // namespace
}  // namespace marvalo
