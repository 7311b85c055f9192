#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "core/records/pcapng.h"
#include "files/ports_file.h"
#include "os/file_descriptor.h"
#include "tests/fake_sysfs.h"
#include "tests/junit_schema.h"
#include "tests/pty_pair.h"
#include "tests/run_program.h"
#include "tests/sim_process.h"
#include "tests/streaming_peer.h"
#include "tests/temp_folder.h"

namespace marvalo {
namespace {

using testing::junitSchema;
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
        {"an echo keeps to the fault schedule", {"--echo", "--fault-every", "9"}, korvel, 0, "ok"},
        {"exception counts as bad", {"--exception", "2"}, modbus, 3, "no permitida"},
        {"exception by name in JSON",
         {"--exception", "2"},
         {"--json", "modbus", "--address", "1", "--function", "3", "--start", "0", "--words", "1"},
         3,
         R"("exception":{"code":2,"name":"illegal-data-address"})"},
        {"exception status",
         {},
         {"--json", "modbus", "--address", "1", "--function", "7"},
         0,
         "\"exception_status\":"},
        {"server id", {}, {"modbus", "--address", "1", "--function", "17"}, 0, "servidor: id 01"},
        {"a long reply at 1200 baud is waited for",
         {"--slow", "8"},
         {"--baud", "1200", "modbus", "--address", "1", "--function", "3", "--start", "0",
          "--words", "125"},
         0,
         "respuesta correcta (255 bytes)"},
        {"a scan hears the answer behind its probe's echo, not the echo",
         {"--address", "17", "--echo"},
         {"--baud", "19200", "--scan", "15-17"},
         0,
         "primer byte\n       17     19200  8N1    registro 0 = 0 "},
        {"a raw frame has its address", {}, {"--any-address", "modbus", "--raw", "01 07"}, 64, ""},
        {"more words than a frame carries",
         {},
         {"modbus", "--address", "1", "--function", "16", "--start", "0", "--words", "125",
          "--data", "0;1"},
         2,
         ""},
        {"a coil has no register format",
         {},
         {"modbus", "--address", "1", "--function", "5", "--start", "0", "--value", "on",
          "--registers", "f32"},
         64,
         ""},
        {"a raw coil has no register format",
         {},
         {"modbus", "--raw", "01 05 00 00 FF 00", "--registers", "f32"},
         64,
         ""},
        {"rejected input", {}, {"iso1745", "--address", "01", "--instruction", "ÀA"}, 2, ""},
        {"port failed",
         {},
         {"--device", "/nonexistent/tty", "korvel", "--address", "01"},
         4,
         "/nonexistent/tty"},
        {"usage", {}, {"--count", "0", "korvel", "--address", "01"}, 64, ""},
        {"server address without port",
         {},
         {"--device", "rfc2217://127.0.0.1", "korvel", "--address", "01"},
         64,
         ""},
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
        if (row.status == 2 || row.status == 64) {
            EXPECT_EQ(run.out, "") << row.name;
        }
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

// Every line of JSON output parses (as JSON readers refuse invalid UTF-8).
std::vector<nlohmann::json> jsonLines(const std::string &out) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

TEST(SendTool, OnATerminalAndAHostileLine) {
    testing::TempFolder folder;
    const std::string latin1Folder = (folder.path() / "dir\xf3n").string();
    std::filesystem::create_directory(latin1Folder);
    folder.write("damaged.sdx", "01x732\r\n");
    folder.write("write.toml",
                 "[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\n"
                 "start = 0\nvalues = [1, 2]\n");
    const std::vector<std::string> korvel = {"korvel", "--address", "01", "--instruction", "D"};
    const std::vector<std::string> modbus = {"--baud", "19200",      "modbus", "--address",
                                             "1",      "--function", "3",      "--start",
                                             "0",      "--words",    "2"};
    const std::vector<std::string> iso = {"--baud", "19200",         "iso1745", "--address",
                                          "01",     "--instruction", "0D"};
    auto plus = [](std::vector<std::string> a, const std::vector<std::string> &b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const auto everyVerdictStrayPrefix = [](const testing::ProgramRun &run) {
        for (const auto &line : jsonLines(run.out)) {
            if (line.contains("verdict")) {
                EXPECT_EQ(line["verdict"], "stray-prefix") << line.dump();
            }
        }
    };
    enum class Peer { Simulator, Streaming, None };
    const struct {
        const char *name;
        Peer peer;
        std::vector<std::string> sim;
        std::vector<std::string> send;  // after --device
        testing::RunControl control;
        std::function<void(const testing::ProgramRun &)> check;
    } rows[] = {
        {"a closed output ends the run quietly",
         Peer::Simulator,
         {},
         plus({"--count", "5", "--interval", "50"}, korvel),
         {true, std::nullopt, 0},
         [](const testing::ProgramRun &run) {
             EXPECT_EQ(run.signal, 0) << "not killed by SIGPIPE";
             EXPECT_EQ(run.status, 0);
             EXPECT_EQ(run.err.find("intercambio"), std::string::npos) << run.err;
         }},
        {"Ctrl-C ends an hour's wait at once",
         Peer::Simulator,
         {"--silent"},
         plus({"--wait", "3600000"}, korvel),
         {false, 300, SIGINT},
         [](const testing::ProgramRun &run) {
             EXPECT_LT(run.msFromSignalToExit, 1000);
             EXPECT_EQ(run.status, 130) << run.err;
             EXPECT_NE(run.err.find("1 intercambio: interrumpidos 1"), std::string::npos)
                 << run.err;
             EXPECT_NE(run.out.find("  interrumpido: "), std::string::npos) << run.out;
         }},
        {"a peer that never stops: bounded memory, SIGTERM heard",
         Peer::Streaming,
         {},
         plus({"--wait", "3000", "--json"}, modbus),
         {false, 1000, SIGTERM},
         [](const testing::ProgramRun &run) {
             EXPECT_LT(run.maxResidentKb, 100 * 1024);
             EXPECT_LT(run.msFromSignalToExit, 1000);
             const auto lines = jsonLines(run.out);
             ASSERT_FALSE(lines.empty());
             EXPECT_EQ(lines[0]["reply"].get<std::string>().size(), 65536U * 3 - 1);
             EXPECT_GT(lines[0]["dropped_bytes"].get<long>(), 0);
             // Cut short by the signal: no verdict, only the bytes it dropped.
             EXPECT_EQ(lines[0]["interrupted"], true) << lines[0].dump();
         }},
        {"stray bytes trickling in do not end a Modbus exchange early",
         Peer::Simulator,
         {"--stray", "14DA3E", "--slow", "2"},
         plus({"--until-complete", "--count", "3", "--json"}, modbus),
         {},
         everyVerdictStrayPrefix},
        {"nor an ISO 1745 one",
         Peer::Simulator,
         {"--stray", "14DA3E", "--slow", "2"},
         plus({"--until-complete", "--count", "3", "--json"}, iso),
         {},
         everyVerdictStrayPrefix},
        {"a stray byte in front: the values are the judged frame's",
         Peer::Simulator,
         {"--stray", "00"},
         plus({"--json", "--registers", "u16"}, modbus),
         {},
         [](const testing::ProgramRun &run) {
             const auto lines = jsonLines(run.out);
             ASSERT_FALSE(lines.empty()) << run.out;
             EXPECT_EQ(lines[0]["registers"].size(), 2U) << run.out;
         }},
        {"a device path that is not UTF-8 still makes valid JSON",
         Peer::Simulator,
         {},
         plus({"--json"}, korvel),
         {},
         [](const testing::ProgramRun &run) {
             const auto lines = jsonLines(run.out);
             ASSERT_EQ(lines.size(), 2U) << run.out;
             EXPECT_NE(lines[0]["port"].get<std::string>().find("dirón/tty"), std::string::npos);
         }},
        {"a device given by path is not called COM 1",
         Peer::None,
         {},
         plus({"/nonexistent/tty"}, korvel),
         {},
         [](const testing::ProgramRun &run) {
             EXPECT_EQ(run.status, 4);
             EXPECT_EQ(run.err.find("COM 1"), std::string::npos) << run.err;
             EXPECT_EQ(run.err.find("MARVALO_COM1"), std::string::npos) << run.err;
         }},
        {"a write whose data falls short of its byte count is sent, with a warning",
         Peer::Simulator,
         {},
         {"modbus", "--address", "1", "--function", "16", "--start", "0", "--words", "2", "--data",
          "1;2"},
         {},
         [](const testing::ProgramRun &run) {
             EXPECT_NE(run.err.find("aviso: la función 16 anuncia 4 bytes"), std::string::npos);
             EXPECT_NE(run.out.find("#1 "), std::string::npos) << "sent";
         }},
        {"a plan's write is shown in its own format, not the reads' view",
         Peer::Simulator,
         {},
         {"--plan", (folder.path() / "write.toml").string(), "--json", "--registers", "f32"},
         {},
         [](const testing::ProgramRun &run) {
             EXPECT_NE(run.out.find(R"("written":[{"number":0,"format":"u16","value":1,)"),
                       std::string::npos)
                 << run.out;
         }},
        {"a damaged settings file is never promised a rewrite",
         Peer::None,
         {},
         {},
         {},
         [](const testing::ProgramRun &run) {
             EXPECT_EQ(run.status, 2);
             EXPECT_NE(run.err.find("posición 3"), std::string::npos) << run.err;
             EXPECT_EQ(run.err.find("al cerrar"), std::string::npos) << run.err;
         }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<testing::SimProcess> sim;
        std::unique_ptr<testing::StreamingPeer> streaming;
        std::vector<std::string> argv{MARVALO_SEND_PATH};
        std::string device;
        if (row.peer == Peer::Simulator) {
            sim = std::make_unique<testing::SimProcess>(row.sim);
            device = sim->devicePath();
        } else if (row.peer == Peer::Streaming) {
            streaming = std::make_unique<testing::StreamingPeer>();
            device = streaming->devicePath();
        }
        if (std::string(row.name).find("UTF-8") != std::string::npos) {
            std::filesystem::create_symlink(device, latin1Folder + "/tty");
            device = latin1Folder + "/tty";
        }
        // The line as the port had it before: it must have it again after.
        FileDescriptor held;
        if (!device.empty()) {
            held = FileDescriptor(::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK));
            struct termios before {};
            ::tcgetattr(held.get(), &before);
            ::cfsetspeed(&before, B4800);
            ::tcsetattr(held.get(), TCSANOW, &before);
            argv.insert(argv.end(), {"--device", device});
        } else if (row.send.empty()) {
            argv.insert(argv.end(), {"--settings", (folder.path() / "damaged.sdx").string(),
                                     "--instruction", "D"});
        } else {
            argv.push_back("--device");
        }
        argv.insert(argv.end(), row.send.begin(), row.send.end());
        const auto run = testing::runProgram(argv, row.control);
        row.check(run);
        if (held.valid()) {
            struct termios after {};
            ::tcgetattr(held.get(), &after);
            EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B4800)) << "port given back";
        }
    }
}

std::size_t requestsSeen(testing::SimProcess &sim) {
    const std::string log = sim.log();
    std::size_t count = 0;
    for (std::size_t at = 0; (at = log.find(" <- ", at)) != std::string::npos; ++at)
        ++count;
    return count;
}

TEST(SendTool, PlansRunAgainstTheSimulatorAndTheirReportsValidate) {
    const std::filesystem::path schema = junitSchema();
    if (!std::filesystem::exists(schema))
        GTEST_SKIP() << "no JUnit schema at " << schema;
    testing::TempFolder folder;
    folder.write("bad.toml", "[[step]]\nprotocol = \"korvel\"\naddress = 100\n");
    const std::string examples = MARVALO_SOURCE_DIR "/examples/";
    const struct {
        const char *name;
        std::vector<std::string> sim;
        std::string plan;
        testing::RunControl control;
        int status;
        std::vector<const char *> has;  // in the output and the report
    } rows[] = {
        {"a Modbus unit, green",
         {},
         examples + "modbus-unit.toml",
         {},
         0,
         {"PASS  read the calibration back  ok", "tests=\"6\" failures=\"0\""}},
        {"Korvel and ISO 1745, green",
         {},
         examples + "text-unit.toml",
         {},
         0,
         {"PASS  Korvel: a reading, three times #3", "<property name=\"serial\" value=\"SN-7\"/>"}},
        {"a faulty unit fails the damaged answers",
         {"--bad-check", "--fault-every", "2"},
         examples + "faulty-unit.toml",
         {},
         3,
         {"FAIL  second read: its CRC is damaged  bad-check", "<failure type=\"bad-check\"",
          "tests=\"4\" failures=\"2\""}},
        {"Ctrl-C cuts the wait short; the report says what was skipped",
         {"--silent"},
         examples + "modbus-unit.toml",
         {false, 300, SIGINT},
         130,
         {"SKIP  a broadcast is heard by nobody", "skipped=\"6\"", "\"interrumpido\""}},
        {"a counter past a billion and a scale, played from one file",
         {"--instrument", examples + "counter-and-scale.instrument.toml"},
         examples + "counter-and-scale.toml",
         {},
         0,
         {"PASS  the scale answers on the same line  ok", "tests=\"4\" failures=\"0\""}},
        {"a bad plan sends nothing",
         {},
         (folder.path() / "bad.toml").string(),
         {},
         2,
         {"bad.toml:3:11: address es el entero 100"}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        testing::SimProcess sim(row.sim);
        const std::string report = (folder.path() / "report.xml").string();
        std::filesystem::remove(report);
        const auto run =
            testing::runProgram({MARVALO_SEND_PATH, "--device", sim.devicePath(), "--plan",
                                 row.plan, "--junit", report, "--property", "serial=SN-7"},
                                row.control);
        EXPECT_EQ(run.status, row.status) << run.out << run.err;
        const bool written = std::filesystem::exists(report);
        EXPECT_EQ(written, row.status != 2) << "a report for every run that sent";
        const std::string xml = written ? folder.read("report.xml") : "";
        for (const char *part : row.has)
            EXPECT_NE((run.out + run.err + xml).find(part), std::string::npos) << part;
        if (written) {
            const auto valid = testing::runProgram(
                {"/usr/bin/xmllint", "--noout", "--schema", schema.string(), report});
            EXPECT_EQ(valid.status, 0) << valid.err;
        }
    }
}

// Ctrl-C, SIGTERM, SIGHUP and Ctrl-\ while a step pauses and while it waits: one
// request reached the unit, none after the signal; the exit status names
// the signal; the report says what happened to each step and validates.
TEST(SendTool, AStopSendsNothingMoreAndTheReportSaysSo) {
    testing::TempFolder folder;
    const std::string step =
        "[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 16\n"
        "start = 40\nwords = 1\ndata = \"1;1\"\ndelay_ms = 3000\n";
    folder.write("stop.toml", "[line]\nwait = \"until-complete\"\n" + step + step + step);
    const struct {
        const char *phase;
        std::vector<std::string> sim;
        const char *shape;
    } phases[] = {
        {"during the delay", {}, "failures=\"0\" errors=\"0\" skipped=\"2\""},
        {"during the wait", {"--silent"}, "<skipped message=\"interrumpido\"/>"},
    };
    const std::string schema = junitSchema().string();
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
        for (const auto &phase : phases) {
            SCOPED_TRACE(std::string(phase.phase) + ", signal " + std::to_string(signal));
            std::vector<std::string> simOptions = phase.sim;
            simOptions.push_back("--log");
            testing::SimProcess sim(simOptions, true);
            const std::string report = (folder.path() / "stop.xml").string();
            const auto run =
                testing::runProgram({MARVALO_SEND_PATH, "--device", sim.devicePath(), "--plan",
                                     (folder.path() / "stop.toml").string(), "--junit", report},
                                    {false, 400, signal});
            EXPECT_EQ(run.status, 128 + signal) << run.err;
            EXPECT_EQ(requestsSeen(sim), 1u) << sim.log();
            const std::string xml = folder.read("stop.xml");
            EXPECT_NE(xml.find(phase.shape), std::string::npos) << xml;
            if (std::filesystem::exists(schema)) {
                EXPECT_EQ(
                    testing::runProgram({"/usr/bin/xmllint", "--noout", "--schema", schema, report})
                        .status,
                    0);
            }
        }
    }
}

// Every output is checked before the first byte: a place that cannot take
// it refuses the run with nothing sent; a device, a FIFO or our own stdout
// is written in place and stays what it was.
TEST(SendTool, OutputsAreCheckedBeforeTheFirstByte) {
    testing::TempFolder folder;
    folder.write("one.toml",
                 "[[step]]\nprotocol = \"modbus\"\naddress = 1\nfunction = 3\n"
                 "start = 0\nwords = 1\n");
    const std::string fifo = (folder.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string inFile = (folder.path() / "out.txt").string();
    const std::string lonely = (folder.path() / "lonely").string();
    ASSERT_EQ(::mkfifo(lonely.c_str(), 0600), 0);
    const std::string report = (folder.path() / "r.xml").string();
    const struct {
        const char *name;
        std::string target;
        bool throughFile;  // stdout redirected to out.txt
        int status;
        std::function<bool()> after;  // what exists afterwards
        const char *more = "";        // the rest of the command line
        const char *says = "Nada se envió";
    } rows[] = {
        {"a FIFO with no reader", lonely, false, 2,
         [&] { return std::filesystem::is_fifo(lonely); }, "", "es una tubería sin lector"},
        {"two reports on one stdout", "/dev/stdout", true, 64, [] { return true; }, " --json"},
        {"a capture on stdout beside the lines", "/dev/null", true, 64, [] { return true; },
         " --pcap /dev/stdout"},
        {"a stdout that takes nothing", report, false, 4,
         [&] { return std::filesystem::exists(report); }, " --json > /dev/full",
         "la salida estándar se cerró o no admite más"},
        {"a missing folder", (folder.path() / "nope/r.xml").string(), false, 2,
         [&] { return !std::filesystem::exists(folder.path() / "nope"); }},
        {"a folder where nothing can be made", "/proc/r.xml", false, 2,
         [] { return !std::filesystem::exists("/proc/r.xml"); }},
        {"a directory", folder.path().string(), false, 2,
         [&] { return std::filesystem::is_directory(folder.path()); }},
        {"a character device", "/dev/null", false, 0,
         [] { return std::filesystem::is_character_file("/dev/null"); }},
        {"a FIFO", fifo, false, 0, [&] { return std::filesystem::is_fifo(fifo); }},
        {"stdout into a pipe", "/dev/stdout", false, 0, [] { return true; }},
        {"stdout into a file", "/dev/stdout", true, 0,
         [&] { return std::filesystem::is_regular_file(inFile); }},
        {"the device under test itself", "", false, 2, [] { return true; }},
        {"a device that loses it", "/dev/full", false, 2, [] { return true; }, "", "ni /dev/null"},
        {"checked as run", "/dev/random", false, 2, [] { return true; }, " --check",
         "ni /dev/null"},
        {"the program itself", MARVALO_SEND_PATH, false, 2,
         [] { return std::filesystem::file_size(MARVALO_SEND_PATH) > 100'000; }, "",
         "es el propio programa"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        testing::SimProcess sim({"--log"}, true);
        std::string fromFifo;
        std::thread reader([&] {
            if (row.target != fifo)
                return;
            std::ifstream in(fifo);
            fromFifo.assign(std::istreambuf_iterator<char>(in), {});
        });
        const std::string send = std::string(MARVALO_SEND_PATH) + " --device " + sim.devicePath() +
                                 " --plan " + (folder.path() / "one.toml").string() + " --junit " +
                                 (row.target.empty() ? sim.devicePath() : row.target) + row.more;
        const auto run = row.throughFile
                             ? testing::runProgram({"/bin/sh", "-c", send + " > " + inFile})
                             : testing::runProgram({"/bin/sh", "-c", send});
        if (row.target == fifo && run.status != 0) {
            std::ofstream unblock(fifo);  // the reader must not wait for ever
        }
        reader.join();
        EXPECT_EQ(run.status, row.status) << run.err;
        EXPECT_EQ(requestsSeen(sim), row.status == 0 || row.status == 4 ? 1u : 0u) << run.err;
        EXPECT_TRUE(row.after()) << "what exists afterwards";
        const std::string out = row.throughFile      ? folder.read("out.txt")
                                : row.target == fifo ? fromFifo
                                                     : run.out;
        if (row.status == 0 && row.target != "/dev/null") {
            EXPECT_NE(out.find("<testsuite"), std::string::npos) << out;
            if (row.target == "/dev/stdout") {
                EXPECT_NE(run.err.find("PASS  paso 1"), std::string::npos) << "beside, not in it";
            }
        }
        if (row.status != 0) {
            EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
        }
    }
}

// What must never be an output, nor reach a line: refused before a byte
// goes out: a second pty (the device the plan names, or the output) hears
// nothing, nor does the simulator that is the device otherwise. "PTY" and
// "DIR" stand for the watched pty and the folder; arguments split at spaces.
TEST(SendTool, NothingReachesAnInputOrAnotherLine) {
    testing::TempFolder folder;
    testing::PtyPair watched;
    const std::string korvel = "[[step]]\nprotocol = \"korvel\"\naddress = 1\n";
    const std::string plan = korvel + "instruction = \"D\"\n";
    folder.write("plan.toml", plan);
    std::filesystem::create_directory(folder.path() / "sub");
    std::filesystem::create_symlink(folder.path() / "plan.toml", folder.path() / "link.toml");
    std::filesystem::create_symlink(folder.path() / "gone.x", folder.path() / "dangling");
    const struct {
        std::string plan;  // written to p.toml when not empty
        std::string args;
        int status;
        const char *says;
    } rows[] = {
        {"", "--plan DIR/plan.toml --junit DIR/plan.toml", 2, "es el plan"},
        {"", "--plan DIR/plan.toml --pcap DIR/sub/../plan.toml", 2, "es el plan"},
        {"", "--plan DIR/link.toml --junit DIR/plan.toml", 2, "es el plan"},
        {"", "--plan DIR/plan.toml --check --junit DIR/plan.toml", 2, "es el plan"},
        {"", "--plan DIR/plan.toml --check --junit DIR/no/r.xml", 2, "su carpeta"},
        {"", "--plan DIR/plan.toml --junit DIR/r.xml --pcap DIR/sub/../r.xml", 64, "mismo archivo"},
        {"", "--plan DIR/plan.toml --check --junit new.x --pcap ./new.x", 64, "mismo archivo"},
        {"", "--plan DIR/plan.toml --junit DIR/dangling --pcap DIR/gone.x", 64, "mismo archivo"},
        {"", "--plan DIR/plan.toml --junit PTY", 2, "es un terminal que no es el de este programa"},
        {"", "--plan DIR/plan.toml --junit /dev/stderr", 64, "salida de errores"},
        {"[line]\ndevice = \"PTY\\u0000-rig-B\"\n" + plan, "--plan DIR/p.toml", 2,
         "p.toml:2:10: device tiene el carácter de control <00> en la posición"},
        {korvel + "instruction = \"D\\r*02W\"\n", "--plan DIR/p.toml --device PTY", 2,
         "p.toml:4:15: instruction tiene <CR> en la posición 2"},
        {"[[step]]\nprotocol = \"iso1745\"\naddress = 1\ninstruction = \"0D\\u0003\"\n",
         "--plan DIR/p.toml --device PTY", 2, "instruction tiene <ETX> en la posición 3"},
        {"", "--device PTY korvel --address 01 --instruction D\r*02W", 2, "<CR> en la posición 2"},
        {"", "--plan DIR/plan.toml --junit DIR/r\n.xml", 64,
         "--junit tiene el carácter de control"},
        {"", "--plan DIR/plan.toml --junit DIR/a.xml --junit DIR/b.xml", 64, "se dio dos veces"},
        {"", "--plan DIR/plan.toml --check --values 1,2 --bits 4 --any-address", 64,
         "un plan trae sus propias peticiones"},
        {"", "--json --format text korvel --address 01", 64, "--json y --format"},
        {"", "--format json --json korvel --address 01", 64, "--json es --format json"},
    };
    auto placed = [&](std::string text) {
        for (const auto &[from, to] :
             {std::pair{"PTY", watched.devicePath()}, std::pair{"DIR", folder.path().string()}}) {
            for (std::size_t at; (at = text.find(from)) != std::string::npos;)
                text.replace(at, std::string_view(from).size(), to);
        }
        return text;
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.args);
        folder.write("p.toml", placed(row.plan));
        testing::SimProcess sim({"--log"}, true);
        std::vector<std::string> argv{MARVALO_SEND_PATH};
        if (row.args.find("--device") == std::string::npos &&
            row.plan.find("device") == std::string::npos)
            argv.insert(argv.end(), {"--device", sim.devicePath()});
        std::istringstream words(row.args);
        for (std::string word; std::getline(words, word, ' ');)
            argv.push_back(placed(word));
        const auto run = runProgram(argv);
        EXPECT_EQ(run.status, row.status) << run.out << run.err;
        EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
        char heard[64];
        EXPECT_LT(::read(watched.controller(), heard, sizeof heard), 1) << "a byte reached the pty";
        EXPECT_EQ(requestsSeen(sim), 0u);
        EXPECT_EQ(folder.read("plan.toml"), plan);
    }
}

// Stops and signals as a rig engineer meets them: a slow reader or a full
// pipe does not hold a stop (the figure is printed; the bound is generous
// for a loaded machine), TAP streams, a closed stdout stops the plan, a
// process stop is not the unit's, nohup's SIGHUP stays ignored.
TEST(SendTool, StopsAndSignalsAsARigUsesThem) {
    testing::TempFolder folder;
    const std::string line = "[line]\nbaud = 19200\nwait = \"until-complete\"\n";
    const std::string korvel =
        "[[step]]\nprotocol = \"korvel\"\naddress = 1\ninstruction = \"D\"\n";
    const std::string many = line + korvel + "repeat = 600\n";
    const std::string paced = line + korvel + "repeat = 10\ndelay_ms = 150\n";
    const std::string fifo = (folder.path() / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::vector<std::string> sim;
        std::string plan;  // else a single exchange
        std::string more;
        testing::RunControl control;
        int status;
        const char *says;  // in stdout and stderr
        std::size_t mostRequests = 1000;
    } rows[] = {
        {{},
         many,
         " --junit " + fifo,
         {.signalAfterMs = 4500, .signal = SIGINT},
         130,
         "quedó incompleto"},
        {{},
         many,
         " --pcap " + fifo,
         {.signalAfterMs = 4500, .signal = SIGINT},
         130,
         "captura quedó"},
        {{},
         many,
         " --json",
         {.signalAfterMs = 2500, .signal = SIGINT, .outputNeverRead = true},
         130,
         "la salida estándar quedó incompleta"},
        {{}, paced, " --tap", {.closeOutputAfterFirstLine = true}, 4, "se cerró", 1},
        {{},
         paced,
         " --tap",
         {.signalAfterMs = 700, .signal = SIGKILL},
         -1,
         "1..10\nok 1 - paso 1 \\#1\nok 2 - paso 1 \\#2\n"},
        {{"--delay", "500"},
         korvel + "expect = { max_first_byte_ms = 1000 }\n",
         "",
         {.signalAfterMs = 250, .signal = SIGSTOP, .thenSignals = {{2500, SIGCONT}}},
         4,
         "tiempo desconocido: el proceso se detuvo a los"},
        // Stopped well past the deadline and before the reply, so a slow
        // start on a busy machine still has the request out before the stop.
        {{"--delay", "1000"},
         korvel + "expect = { max_first_byte_ms = 100 }\n",
         "",
         {.signalAfterMs = 700, .signal = SIGSTOP, .thenSignals = {{450, SIGCONT}}},
         3,
         "el primer byte no había llegado a los"},
        {{}, paced, "", {.signalAfterMs = 300, .signal = SIGHUP}, 0, "10 pasaron"},
        {{}, "", " > /dev/full", {}, 4, "la salida estándar no admite más"},
        {{}, paced, " --check > /dev/full", {}, 4, "la salida estándar no admite más"},
        {{},
         line + korvel + "delay_ms = 3000\n",
         "",
         {.signalAfterMs = 1000, .signal = SIGINT},
         0,
         "1 pasaron"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.says);
        std::vector<std::string> simOptions = row.sim;
        simOptions.push_back("--log");
        testing::SimProcess sim(simOptions, true);
        folder.write("p.toml", row.plan);
        const std::string command =
            std::string(MARVALO_SEND_PATH) + " --device " + sim.devicePath() +
            (row.plan.empty() ? " korvel --address 01 --instruction D"
                              : " --plan " + (folder.path() / "p.toml").string()) +
            row.more;
        std::atomic<bool> ended = false;  // then the rest is drained at once
        // The reader is there before the program starts, so its check of
        // the FIFO always finds one, and a program that never opens the
        // FIFO cannot leave the reader waiting for a writer for ever.
        FileDescriptor in(row.more.find(fifo) == std::string::npos
                              ? -1
                              : ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
        std::thread reader([&] {
            char chunk[1024];  // 1 KB a second
            while (in.valid() && !ended) {
                struct pollfd ready {
                    in.get(), POLLIN, 0
                };
                if (::poll(&ready, 1, 100) <= 0)
                    continue;
                if (::read(in.get(), chunk, sizeof chunk) <= 0) {
                    // No writer yet, or it left: look again a little later.
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    continue;
                }
                for (int tenth = 0; tenth < 10 && !ended; ++tenth)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        const bool nohup = row.control.signal == SIGHUP;
        ::signal(SIGHUP, nohup ? SIG_IGN : SIG_DFL);
        // exec keeps the shell's pid, so the signals reach marvalo-send.
        const auto run = runProgram({"/bin/sh", "-c", "exec " + command}, row.control);
        ::signal(SIGHUP, SIG_DFL);
        ended = true;
        reader.join();
        if (row.control.signal == SIGINT) {
            std::printf("  stop to exit: %ld ms\n", run.msFromSignalToExit);
            EXPECT_LT(run.msFromSignalToExit, 1000);
        }
        EXPECT_EQ(run.status, row.status) << run.err;
        EXPECT_NE((run.out + run.err).find(row.says), std::string::npos) << run.out << run.err;
        EXPECT_LE(requestsSeen(sim), row.mostRequests) << "none after the reader left";
    }
    // An existing capture is replaced only once an exchange reached the line.
    folder.write("kept.pcapng", "an earlier capture");
    EXPECT_EQ(runProgram({MARVALO_SEND_PATH, "--device", "/nonexistent/tty", "--pcap",
                          (folder.path() / "kept.pcapng").string(), "korvel", "--address", "01"})
                  .status,
              4);
    EXPECT_EQ(folder.read("kept.pcapng"), "an earlier capture");
}

TEST(SendTool, CapturesAreReadBackByTshark) {
    testing::TempFolder folder;
    const std::vector<std::string> read = {"modbus",  "--address", "1",       "--function", "3",
                                           "--start", "10",        "--words", "2"};
    const struct {
        std::vector<std::string> sim;
        std::vector<std::string> request;
        std::vector<const char *> tsharkSays;
    } rows[] = {
        {{},
         read,
         {"Register 10 (UINT16): 10", "Register 11 (UINT16): 11", "[CRC-16 Status: Good]",
          "#1 ok: respuesta correcta (9 bytes); 1er byte a los", "Direction: Inbound",
          "Direction: Outbound"}},
        {{"--bad-check"}, read, {"[CRC-16 Status: Bad]", "#1 bad-check: el CRC no corresponde"}},
        {{},
         {"modbus", "--address", "1", "--function", "5", "--data", "7"},
         {"Response: Unit:   1, Func:   5: Write Single Coil"}},
        {{},
         {"modbus", "--address", "1", "--function", "7"},
         {"Column protocol string: Modbus RTU", "Read Exception Status"}},
        {{}, {"korvel", "--address", "01", "--instruction", "D"}, {"Korvel", "01D+0023.4\\r"}},
        {{}, {"iso1745", "--address", "01", "--instruction", "0D"}, {"ISO 1745", "0D+0023.4"}},
    };
    for (const auto &row : rows) {
        testing::SimProcess sim(row.sim);
        const std::string capture = (folder.path() / "c.pcapng").string();
        std::vector<std::string> argv{MARVALO_SEND_PATH, "--device", sim.devicePath(),
                                      "--baud",          "19200",    "--until-complete",
                                      "--pcap",          capture};
        argv.insert(argv.end(), row.request.begin(), row.request.end());
        const auto sent = testing::runProgram(argv);
        ASSERT_TRUE(sent.status == 0 || sent.status == 3) << sent.err;
        const auto read = testing::runProgram({"/usr/bin/tshark", "-o", "mbrtu.tcp.port:502", "-o",
                                               "mbrtu.crc_verification:TRUE", "-V", "-r", capture});
        ASSERT_EQ(read.status, 0) << read.err;
        const auto summary =
            testing::runProgram({"/usr/bin/tshark", "-o", "mbrtu.tcp.port:502", "-r", capture});
        for (const char *says : row.tsharkSays)
            EXPECT_NE((read.out + summary.out).find(says), std::string::npos) << says << "\n"
                                                                              << read.out;
    }
}

// A capture is written as the run goes: killed at any moment, it holds
// every exchange the run printed (but perhaps the last, printed first) and
// tshark reads it whole. A comment past 16 bits of length is cut to fit.
TEST(SendTool, AKilledRunLeavesAValidCapture) {
    testing::TempFolder folder;
    const std::string capture = (folder.path() / "c.pcapng").string();
    const struct {
        std::vector<std::string> request;
        int killAfterMs;
    } rows[] = {
        {{"modbus", "--address", "1", "--function", "3", "--start", "10", "--words", "2"}, 700},
        {{"korvel", "--address", "01", "--instruction", "D"}, 500},
    };
    for (const auto &row : rows) {
        testing::SimProcess sim;
        std::vector<std::string> argv{
            MARVALO_SEND_PATH, "--device", sim.devicePath(), "--continuous", "--count", "1000000",
            "--interval",      "1",        "--pcap",         capture};
        argv.insert(argv.end(), row.request.begin(), row.request.end());
        const auto killed = runProgram(argv, {false, row.killAfterMs, SIGKILL});
        ASSERT_EQ(killed.signal, SIGKILL) << row.request[0];
        const auto printed = std::count(killed.out.begin(), killed.out.end(), '\n');
        const auto read =
            runProgram({"/usr/bin/tshark", "-r", capture, "-T", "fields", "-e", "frame.number"});
        EXPECT_TRUE(read.status == 0 && read.err.find("cut short") == std::string::npos)
            << row.request[0] << read.err;
        const auto packets = std::count(read.out.begin(), read.out.end(), '\n');
        EXPECT_TRUE(printed >= 2 && (packets == 2 * printed || packets == 2 * printed - 2))
            << row.request[0] << ": " << printed << " printed, " << packets << " packets";
    }
    ExchangeRecord record;
    record.request = {0x2A};
    record.lineSawRequest = true;
    record.failure = std::string(70'000, 'x') + "ñ";
    folder.write("c.pcapng", pcapngCapture({&record}));
    const auto read =
        runProgram({"/usr/bin/tshark", "-r", capture, "-T", "fields", "-e", "frame.comment"});
    EXPECT_TRUE(read.status == 0 &&
                read.out.find(std::string(60'000, 'x') + "…") != std::string::npos);
}

TEST(SendTool, ComNumbersComeFromTheAdaptersTable) {
    // Two FTDI adapters whose device nodes are the ptys of two simulated
    // instruments, at addresses 01 and 02.
    testing::SimProcess first;
    testing::SimProcess second({"--address", "02"});
    testing::FakeSysfs tree;
    tree.plugUsb("ttyUSB0", {"0403", "6001", "FTDI", "FT232R USB UART", "A50285BI", "1-1.2"});
    tree.plugUsb("ttyUSB1", {"0403", "6001", "FTDI", "FT232R USB UART", "FTB00002", "1-1.3"});
    tree.deviceNode("ttyUSB0", first.devicePath());
    tree.deviceNode("ttyUSB1", second.devicePath());
    testing::TempFolder unpacked;  // the table goes beside this copy
    const auto send = unpacked.path() / "marvalo-send";
    std::filesystem::copy_file(MARVALO_SEND_PATH, send);
    ::setenv("MARVALO_SYSFS_ROOT", tree.sysfs().c_str(), 1);
    ::setenv("MARVALO_DEV_ROOT", tree.dev().c_str(), 1);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string outHas;
    } rows[] = {
        {{"--port", "2", "korvel", "--address", "02", "--instruction", "D"}, 0, "02D+0023.4"},
        {{"--port", "2", "korvel", "--address", "01", "--instruction", "D"}, 1, "silence"},
        {{"--port", "1", "korvel", "--address", "01", "--instruction", "D"}, 0, "01D+0023.4"},
        {{"--port", "3", "korvel", "--address", "01"},
         4,
         "COM 3: no tiene adaptador. Conectados: COM 1 (FTDI FT232R USB UART, nº A50285BI), COM 2"},
        {{"--list-ports", "--json"},
         0,
         "{\"com\":2,\"device\":\"" + tree.dev().string() +
             "/ttyUSB1\",\"name\":\"FTDI FT232R USB UART, nº FTB00002\",\"driver\":\"ftdi_sio\","
             "\"present\":true,\"console\":false,\"binding\":\"adapter\",\"vendor_id\":\"0403\","
             "\"product_id\":\"6001\",\"maker\":\"FTDI\",\"product\":\"FT232R USB UART\","
             "\"serial\":\"FTB00002\",\"interface\":0,\"port_number\":0,\"usb_path\":\"1-1.3\","
             "\"latency_timer_ms\":16}"},
    };
    for (const auto &row : rows) {
        std::vector<std::string> argv{send.string(), "--baud", "9600"};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        const auto run = testing::runProgram(argv);
        EXPECT_EQ(run.status, row.status) << row.args[1] << "\n" << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(row.outHas), std::string::npos) << row.outHas << "\n"
                                                                           << run.out << run.err;
    }
    ::unsetenv("MARVALO_SYSFS_ROOT");
    ::unsetenv("MARVALO_DEV_ROOT");
    EXPECT_NE(unpacked.read(kPortsFileName).find("identity = usb-serial:FTB00002:0"),
              std::string::npos);
}

}  // namespace
}  // namespace marvalo
