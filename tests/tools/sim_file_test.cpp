// marvalo-sim playing a file's instruments, reached by real masters: our
// own marvalo-send over a pty and both TCP listeners, libmodbus, pymodbus,
// and a master of our own that breaks the rules for the judge.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <modbus.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "core/frames/check_codes.h"
#include "tests/junit_schema.h"
#include "tests/run_program.h"
#include "tests/sim_process.h"
#include "tests/temp_folder.h"

namespace marvalo {
namespace {

using testing::runProgram;

// Three Modbus addresses and a Korvel one on one line, each with a rule.
constexpr const char *kLine = R"([line]
baud = 19200

[[instrument]]
address = 1
protocol = "modbus"
[[instrument.block]]
table = "holding"
start = 0
count = 10
values = [11, 12, 13]

[[instrument]]
address = 2
protocol = "modbus"
[[instrument.block]]
table = "holding"
start = 100
count = 10
values = [21, 22]
[[instrument.rule]]
function = 3
start = 105
fault = "exception"
code = 6

[[instrument]]
address = 3
protocol = "modbus"
[[instrument.block]]
table = "holding"
start = 0
count = 10
writable = false
values = [31]
[[instrument.rule]]
function = 16
fault = "wrong-address"
as = 9

[[instrument]]
address = 5
protocol = "korvel"
[[instrument.answer]]
instruction = "^D$"
reply = "{address}D+0012.5"
[[instrument.rule]]
instruction = "^V$"
fault = "silent"
)";

std::string readFile(const std::filesystem::path &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SimFile, EachAddressAnswersMarvaloSendAsTheFileSaysOnEveryServing) {
    testing::TempFolder folder;
    folder.write("line.toml", kLine);
    const std::string file = (folder.path() / "line.toml").string();
    const struct {
        std::vector<std::string> send;
        int status;
        const char *out;
    } rows[] = {
        {{"modbus", "--address", "1", "--function", "3", "--start", "0", "--words", "3"},
         0,
         "[01 03 06 00 0B 00 0C 00 0D 85 72]"},
        {{"modbus", "--address", "2", "--function", "3", "--start", "100", "--words", "2"},
         0,
         "[02 03 04 00 15 00 16 59 39]"},
        {{"modbus", "--address", "2", "--function", "3", "--start", "105", "--words", "1"},
         3,
         "excepción 06"},
        {{"modbus", "--address", "3", "--function", "3", "--start", "0", "--words", "1"},
         0,
         "[03 03 02 00 1F 80 4C]"},
        {{"modbus", "--address", "3", "--function", "16", "--start", "0", "--words", "1", "--data",
          "0;5"},
         3,
         "other-address"},
        {{"modbus", "--address", "4", "--function", "3", "--start", "0", "--words", "1"},
         1,
         "silence"},
        {{"korvel", "--address", "05", "--instruction", "D"}, 0, "05D+0012.5<CR>"},
        {{"korvel", "--address", "05", "--instruction", "V"}, 1, "silence"},
    };
    for (const std::vector<std::string> &serving : {std::vector<std::string>{},
                                                    {"--listen", "127.0.0.1:0"},
                                                    {"--listen-rfc2217", "127.0.0.1:0"}}) {
        std::vector<std::string> options{"--instrument", file};
        options.insert(options.end(), serving.begin(), serving.end());
        testing::SimProcess sim(options);
        for (const auto &row : rows) {
            std::vector<std::string> argv{MARVALO_SEND_PATH, "--device", sim.devicePath(),
                                          "--baud",          "19200",    "--until-complete",
                                          "--wait",          "300"};
            argv.insert(argv.end(), row.send.begin(), row.send.end());
            const auto run = runProgram(argv);
            EXPECT_EQ(run.status, row.status) << sim.devicePath() << " " << row.send[2] << run.err;
            EXPECT_NE(run.out.find(row.out), std::string::npos)
                << sim.devicePath() << " " << row.out << "\n"
                << run.out;
        }
    }
}

TEST(SimFile, ARefusedFileNamesItsPlaceAndAWatchedBadChangeLeavesTheInstruments) {
    testing::TempFolder folder;
    folder.write("bad.toml", "[[instrument]]\naddress = 1\nprotocol = \"modbus\"\nwrong = 1\n");
    const auto refused =
        runProgram({MARVALO_SIM_PATH, "--instrument", (folder.path() / "bad.toml").string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("bad.toml:4:1: la clave \"wrong\" no existe"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(refused.out.empty()) << "nothing is served: " << refused.out;

    folder.write("line.toml", kLine);
    const std::string file = (folder.path() / "line.toml").string();
    testing::SimProcess sim({"--instrument", file, "--watch"});
    const std::vector<std::string> read{MARVALO_SEND_PATH, "--device", sim.devicePath(), "--baud",
                                        "19200",           "korvel",   "--address",      "05",
                                        "--instruction",   "D"};
    folder.write("line.toml", std::string(kLine) + "[[instrument.answer]\n");
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_NE(runProgram(read).out.find("05D+0012.5"), std::string::npos);
    std::string changed = kLine;
    changed.replace(changed.find("+0012.5"), 7, "+0099.9");
    folder.write("line.toml", changed);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_NE(runProgram(read).out.find("05D+0099.9"), std::string::npos);
}

TEST(SimFile, TheJudgesOutputsAreRefusedByMarvaloSendsRule) {
    testing::TempFolder folder;
    folder.write("line.toml", kLine);
    folder.write("dev", "");
    const std::string file = (folder.path() / "line.toml").string();
    const std::string dev = (folder.path() / "dev").string(), xml = (folder.path() / "j").string();
    const struct {
        std::vector<std::string> options;
        const char *says;
    } rows[] = {
        {{"--judge", file}, "es el archivo de instrumentos"},
        {{"--device", dev, "--judge-json", dev}, "es el dispositivo que se prueba"},
        {{"--judge", xml, "--judge-json", xml}, "llevan al mismo archivo"},
        {{"--judge", xml, "--judge", xml + "2"}, "--judge se dio dos veces"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> argv{MARVALO_SIM_PATH, "--instrument", file};
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        const auto run = runProgram(argv, {.signalAfterMs = 800, .signal = SIGTERM});
        EXPECT_EQ(run.status, 64) << row.says;  // a usage error
        EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
        EXPECT_EQ(readFile(file), kLine);
        EXPECT_EQ(readFile(dev), "");
    }
}

TEST(SimFile, ThePrintedInstrumentAnswersAsTheBuiltInOne) {
    testing::TempFolder folder;
    const auto printed = runProgram({MARVALO_SIM_PATH, "--print-instrument", "--address", "07"});
    ASSERT_EQ(printed.status, 0);
    folder.write("own.toml", printed.out);
    testing::SimProcess builtIn({"--address", "07"});
    testing::SimProcess fromFile({"--instrument", (folder.path() / "own.toml").string()});
    for (const std::vector<std::string> &request :
         {std::vector<std::string>{"korvel", "--address", "07", "--instruction", "V"},
          {"iso1745", "--address", "07", "--instruction", "0D"},
          {"modbus", "--address", "7", "--function", "3", "--start", "500", "--words", "6"}}) {
        std::string outs[2];
        for (int i = 0; i < 2; ++i) {
            std::vector<std::string> argv{MARVALO_SEND_PATH, "--device",
                                          (i == 0 ? builtIn : fromFile).devicePath(),
                                          "--until-complete"};
            argv.insert(argv.end(), request.begin(), request.end());
            outs[i] = runProgram(argv).out;
            outs[i] = outs[i].substr(0, outs[i].find("  ", outs[i].find("]")));  // not the time
        }
        EXPECT_EQ(outs[0], outs[1]);
        EXPECT_NE(outs[0].find("["), std::string::npos) << outs[0];
    }
}

// A master of our own: its bytes go out as the test says, pauses included.
struct RawMaster {
    int fd;
    explicit RawMaster(const std::string &path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY)) {}
    ~RawMaster() { ::close(fd); }
    void send(const Bytes &bytes) const {
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
};

Bytes sealed(Bytes frame) {
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
    return frame;
}

TEST(SimFile, TheJudgePassesOurOwnExamplePlanRequestAfterRequest) {
    testing::TempFolder folder;
    const std::filesystem::path report = folder.path() / "judge.xml";
    {
        testing::SimProcess sim({"--instrument",
                                 MARVALO_SOURCE_DIR "/examples/counter-and-scale.instrument.toml",
                                 "--judge", report.string()});
        const auto run = runProgram({MARVALO_SEND_PATH, "--plan",
                                     MARVALO_SOURCE_DIR "/examples/counter-and-scale.toml",
                                     "--device", sim.devicePath()});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
    }
    const std::string xml = readFile(report);
    EXPECT_NE(xml.find("failures=\"0\""), std::string::npos) << xml;
    // Where and when, as a CI server files the report.
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_NE(xml.find("hostname=\"" + std::string(host) + "\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("timestamp=\"20"), std::string::npos) << xml;
}

TEST(SimFile, TheJudgeNamesABadCrcAndARequestBrokenByAPause) {
    const std::filesystem::path schema = testing::junitSchema();
    testing::TempFolder folder;
    folder.write("line.toml", kLine);
    const std::filesystem::path report = folder.path() / "judge.xml";
    const std::filesystem::path json = folder.path() / "judge.json";
    {
        // At 1200 baud a character takes 8.3 ms: a busy machine's late
        // wake-ups stay well inside the pauses the test makes.
        testing::SimProcess sim({"--instrument", (folder.path() / "line.toml").string(),
                                 "--settings", " 1200,n,8,1", "--judge", report.string(),
                                 "--judge-json", json.string()});
        RawMaster master(sim.devicePath());
        const Bytes read = sealed({1, 3, 0, 0, 0, 1});
        Bytes badCrc = read;
        badCrc[6] ^= 0xFF;
        const auto pause = std::chrono::milliseconds(150);
        master.send(read);
        std::this_thread::sleep_for(pause);
        master.send(badCrc);
        std::this_thread::sleep_for(pause);
        // Five characters: 41.7 ms, past the 29.2 ms that end a frame.
        master.send(Bytes(read.begin(), read.begin() + 3));
        std::this_thread::sleep_for(std::chrono::microseconds(41667));
        master.send(Bytes(read.begin() + 3, read.end()));
        std::this_thread::sleep_for(pause);
    }
    const std::string xml = readFile(report);
    EXPECT_NE(xml.find("tests=\"3\" failures=\"2\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("type=\"bad-check\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("type=\"gap-inside\""), std::string::npos) << xml;
    EXPECT_NE(readFile(json).find("\"verdict\": \"gap-inside\""), std::string::npos);
    EXPECT_NE(readFile(json).find("\"timestamp\": \"20"), std::string::npos) << readFile(json);
    if (!std::filesystem::exists(schema))
        GTEST_SKIP() << "no JUnit schema at " << schema;
    const auto valid =
        runProgram({"/usr/bin/xmllint", "--noout", "--schema", schema.string(), report.string()});
    EXPECT_EQ(valid.status, 0) << valid.err;
}

TEST(SimFile, LibmodbusReadsWritesAndReadsBackAndGetsFunctionSeven) {
    testing::TempFolder folder;
    folder.write("line.toml", kLine);
    testing::SimProcess sim({"--instrument", (folder.path() / "line.toml").string()});
    std::unique_ptr<modbus_t, void (*)(modbus_t *)> master(
        modbus_new_rtu(sim.devicePath().c_str(), 19200, 'N', 8, 1), [](modbus_t *ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        });
    ASSERT_EQ(modbus_connect(master.get()), 0);
    modbus_set_slave(master.get(), 1);
    std::uint16_t words[3] = {};
    ASSERT_EQ(modbus_read_registers(master.get(), 0, 3, words), 3) << modbus_strerror(errno);
    EXPECT_EQ(words[2], 13);
    const std::uint16_t written[2] = {0xBEEF, 7};
    ASSERT_EQ(modbus_write_registers(master.get(), 4, 2, written), 2);
    ASSERT_EQ(modbus_write_register(master.get(), 6, 0x1234), 1);
    std::uint16_t back[3] = {};
    ASSERT_EQ(modbus_read_registers(master.get(), 4, 3, back), 3);
    EXPECT_EQ(back[0], 0xBEEF);
    EXPECT_EQ(back[2], 0x1234);
    std::uint16_t both[2] = {};
    const std::uint16_t one = 99;
    ASSERT_EQ(modbus_write_and_read_registers(master.get(), 8, 1, &one, 8, 2, both), 2);
    EXPECT_EQ(both[0], 99);
    // The read-only block of address 3 refuses the write with exception 02.
    modbus_set_slave(master.get(), 3);
    EXPECT_EQ(modbus_write_register(master.get(), 0, 1), -1);
    EXPECT_EQ(errno, EMBXILADD);
    // FC 7 has no call of its own in libmodbus: sent raw, it is answered.
    modbus_set_slave(master.get(), 1);
    const std::uint8_t status[] = {1, 7};
    ASSERT_GT(modbus_send_raw_request(master.get(), status, 2), 0);
    std::uint8_t reply[MODBUS_RTU_MAX_ADU_LENGTH];
    EXPECT_EQ(modbus_receive_confirmation(master.get(), reply), 5);
    EXPECT_EQ(reply[1], 7);
}

TEST(SimFile, PymodbusReadsWritesAndReadsBackOnThreeAddresses) {
    if (!std::filesystem::exists("/usr/lib/python3/dist-packages/pymodbus"))
        GTEST_SKIP() << "python3-pymodbus is not installed";
    testing::TempFolder folder;
    folder.write("line.toml", kLine);
    testing::SimProcess sim({"--instrument", (folder.path() / "line.toml").string()});
    const std::string script = R"(
import sys
from pymodbus.client import ModbusSerialClient
c = ModbusSerialClient(port=sys.argv[1], baudrate=19200, timeout=1)
assert c.connect()
print(c.read_holding_registers(0, 3, slave=1).registers)
print(c.read_holding_registers(100, 2, slave=2).registers)
c.write_registers(101, [7, 8], slave=2)
print(c.read_holding_registers(100, 3, slave=2).registers)
print(c.read_holding_registers(0, 1, slave=3).registers)
print(c.write_register(0, 1, slave=3).exception_code)
)";
    const auto run = runProgram({"/usr/bin/python3", "-c", script, sim.devicePath()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "[11, 12, 13]\n[21, 22]\n[21, 7, 8]\n[31]\n2\n") << run.err;
}

TEST(SimFile, MbpollPollsTwoAddressesOfOneFile) {
    if (!std::filesystem::exists("/usr/bin/mbpoll"))
        GTEST_SKIP() << "mbpoll is not installed";
    testing::TempFolder folder;
    folder.write("line.toml", kLine);
    testing::SimProcess sim({"--instrument", (folder.path() / "line.toml").string()});
    const auto run =
        runProgram({"/usr/bin/mbpoll", "-m", "rtu", "-b", "19200", "-P", "none", "-a", "1,3", "-0",
                    "-t", "4", "-r", "0", "-c", "1", "-1", sim.devicePath()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    const std::size_t first = run.out.find("Polling slave 1");
    const std::size_t second = run.out.find("Polling slave 3");
    ASSERT_NE(second, std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[0]: \t11", first), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[0]: \t31", second), std::string::npos) << run.out;
}

}  // namespace
}  // namespace marvalo
