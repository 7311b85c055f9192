// marvalo-send through a real serial server: ser2net on loopback in front
// of the simulator's ptys, one RFC 2217 accepter and one raw TCP accepter.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <regex>
#include <thread>

#include "link/termios_port.h"
#include "os/file_descriptor.h"
#include "tests/korvel_reading.h"
#include "tests/pty_pair.h"
#include "tests/run_program.h"
#include "tests/ser2net_process.h"
#include "tests/sim_process.h"
#include "tests/temp_folder.h"

namespace marvalo {
namespace {

using testing::runProgram;

// The verdict lines without their times, which differ run to run.
std::string untimed(const std::string &out) {
    return std::regex_replace(out, std::regex("[0-9.]+ ms"), "");
}

testing::ProgramRun send(const std::string &device, std::vector<std::string> args,
                         const testing::RunControl &control = {}) {
    args.insert(args.begin(),
                {MARVALO_SEND_PATH, "--device", device, "--baud", "19200", "--until-complete"});
    return runProgram(args, control);
}

TEST(SerialServer, EachProtocolThroughBothAcceptersAsOnThePty) {
    testing::SimProcess direct, behindRfc2217, behindSocket;
    testing::Ser2netProcess server(behindRfc2217.devicePath(), behindSocket.devicePath());
    const std::vector<std::string> rows[] = {
        {"--plan", MARVALO_SOURCE_DIR "/examples/modbus-unit.toml"},
        {"korvel", "--address", "01", "--instruction", "D"},
        {"iso1745", "--address", "01", "--instruction", "0D"},
        {"modbus", "--address", "1", "--function", "3", "--start", "0", "--words", "2"},
        // 01 03 00 EC 00 01 45 FF: a request whose CRC holds FF.
        {"modbus", "--address", "1", "--function", "3", "--start", "236", "--words", "1"},
        {"modbus", "--address", "1", "--function", "16", "--start", "1", "--words", "2", "--data",
         "255;255;0;255"},
        {"--registers", "hex", "modbus", "--address", "1", "--function", "3", "--start", "1",
         "--words", "2"},
    };
    for (const auto &row : rows) {
        const auto onPty = send(direct.devicePath(), row);
        ASSERT_EQ(onPty.status, 0) << row[0] << onPty.out << onPty.err;
        for (const std::string &url : {server.rfc2217Url(), server.socketUrl()}) {
            const auto run = send(url, row);
            EXPECT_EQ(run.status, 0) << url << " " << row[0] << "\n" << run.out << run.err;
            EXPECT_EQ(untimed(run.out), untimed(onPty.out)) << url << " " << row[0];
        }
    }
    EXPECT_NE(send(server.rfc2217Url(), rows[6]).out.find("reg 1 = 0xFFFF"), std::string::npos);
    const auto json = send(server.socketUrl(), {"--json", "korvel", "--address", "01"});
    EXPECT_NE(json.out.find(R"("port_kind":"socket","settings":"ajustes del servidor")"),
              std::string::npos)
        << json.out;
}

TEST(SerialServer, TheExampleServesOneAdapterBothWaysOneClientAtATime) {
    testing::SimProcess sim;
    testing::Ser2netProcess server(sim.devicePath(), sim.devicePath());
    // Back to back: ser2net gives the adapter back some 20 ms after the
    // run before has left, and the next asks again meanwhile.
    for (const std::string &url : {server.rfc2217Url(), server.socketUrl(), server.rfc2217Url()}) {
        const auto run = send(url, {"korvel", "--address", "01", "--instruction", "D"});
        EXPECT_EQ(run.status, 0) << url << "\n" << run.out << run.err;
    }
}

TEST(SerialServer, TheBaudReachesThePtyAndEachFaultEndsWithExit4) {
    testing::PtyPair pty;
    testing::SimProcess sim;
    auto server = std::make_unique<testing::Ser2netProcess>(pty.devicePath(), sim.devicePath());
    pty.releaseDevice();
    const std::vector<std::string> korvel = {"korvel", "--address", "01", "--instruction", "D"};
    auto quiet = korvel;
    quiet.insert(quiet.begin(), {"--wait", "50"});
    EXPECT_EQ(send(server->rfc2217Url(), quiet).status, 1);  // nothing answers the bare pty
    struct termios seen {};
    ASSERT_EQ(::tcgetattr(pty.controller(), &seen), 0);
    EXPECT_EQ(::cfgetospeed(&seen), B19200);

    auto rs485 = korvel;
    rs485.insert(rs485.begin(), {"--rs485", "--connect-timeout", "200"});
    auto continuous = korvel;
    continuous.insert(continuous.begin(), {"--continuous", "--count", "300", "--interval", "5"});
    auto paced = korvel;  // the line taken between two exchanges
    paced.insert(paced.begin(), {"--continuous", "--count", "4", "--interval", "200"});
    const int nobody = testing::freeLoopbackPort();
    struct Row {
        const char *name;
        std::string device;
        std::vector<std::string> args;
        std::string says;
        bool killServer = false;
        bool kickOldUser = false;
        int status = 4;
        std::optional<int> interruptAfterMs = std::nullopt;
    };
    // Accepts (the kernel does) and never says a word.
    FileDescriptor silent(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in silentAt{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t silentSize = sizeof silentAt;
    ::bind(silent.get(), reinterpret_cast<sockaddr *>(&silentAt), silentSize);
    ::listen(silent.get(), 4);
    ::getsockname(silent.get(), reinterpret_cast<sockaddr *>(&silentAt), &silentSize);
    const std::string silentUrl = "rfc2217://127.0.0.1:" + std::to_string(ntohs(silentAt.sin_port));
    auto patient = korvel;
    patient.insert(patient.begin(), {"--connect-timeout", "20000"});
    const Row rows[] = {
        {"unresolvable host", "rfc2217://no-such-host.invalid:4001", korvel,
         "no se encuentra el servidor \"no-such-host.invalid\""},
        {"closed port", "socket://127.0.0.1:" + std::to_string(nobody), korvel,
         "127.0.0.1:" + std::to_string(nobody) + ": el equipo rechazó la conexión"},
        {"RTS not confirmed", "", rs485, "no confirmó el cambio de RTS"},
        {"raw TCP has no RTS", "socket", rs485, "no puede cambiar RTS"},
        {"server killed mid-continuous", "", continuous, "cortó|rechazó la conexión", true},
        {"line handed to another client, taken back", "", paced, "se abrió de nuevo", false, true,
         0},
        {"Ctrl-C while negotiating", silentUrl, patient, "Detenido al negociar RFC 2217", false,
         false, 130, 300},
    };
    for (const Row &row : rows) {
        const std::vector<std::string> kicks = row.kickOldUser
                                                   ? std::vector<std::string>{"kickolduser: true"}
                                                   : std::vector<std::string>{};
        server =
            std::make_unique<testing::Ser2netProcess>(sim.devicePath(), pty.devicePath(), kicks);
        const std::string device = row.device.empty()       ? server->rfc2217Url()
                                   : row.device == "socket" ? server->socketUrl()
                                                            : row.device;
        // The connection is kept between exchanges: one other client takes
        // the line from it.
        std::thread meddler([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (row.killServer)
                return server->kill();
            FileDescriptor other(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
            sockaddr_in at{
                AF_INET,
                htons(static_cast<std::uint16_t>(std::stoi(device.substr(device.rfind(':') + 1)))),
                {htonl(INADDR_LOOPBACK)},
                {}};
            if (row.kickOldUser)
                ::connect(other.get(), reinterpret_cast<sockaddr *>(&at), sizeof at);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
        testing::RunControl control;
        control.signalAfterMs = row.interruptAfterMs;
        control.signal = SIGINT;
        const auto run = send(device, row.args, control);
        meddler.join();
        EXPECT_EQ(run.status, row.status) << row.name << "\n" << run.out << run.err;
        if (row.interruptAfterMs) {
            EXPECT_LT(run.msFromSignalToExit, 500) << row.name;
        }
        EXPECT_TRUE(std::regex_search(run.err, std::regex(row.says)))
            << row.name << ": " << run.err;
    }
}

// ser2net tells a second client "Port already in use" and hangs up, before
// or after the request: never a reply a plan may pass on.
TEST(SerialServer, ALineHeldByAnotherClientFailsThePlanQuotingTheServer) {
    testing::SimProcess behindRfc2217, behindSocket;
    testing::Ser2netProcess server(behindRfc2217.devicePath(), behindSocket.devicePath());
    testing::TempFolder folder;
    folder.write("plan.toml",
                 "[line]\nwait = \"until-complete\"\n[[step]]\nname = \"reading\"\n"
                 "protocol = \"korvel\"\naddress = 1\ninstruction = \"D\"\n"
                 "expect = { verdict = \"ok\" }\n");
    const std::vector<std::string> plan = {"--plan", (folder.path() / "plan.toml").string()};
    ASSERT_EQ(send(server.socketUrl(), plan).status, 0);
    const std::string url = server.socketUrl();
    FileDescriptor other(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));  // another bench's
    sockaddr_in at{AF_INET,
                   htons(static_cast<std::uint16_t>(std::stoi(url.substr(url.rfind(':') + 1)))),
                   {htonl(INADDR_LOOPBACK)},
                   {}};
    ASSERT_EQ(::connect(other.get(), reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int run = 0; run < 10; ++run) {
        const auto held = send(server.socketUrl(), plan);
        EXPECT_EQ(held.status, 4) << held.out << held.err;
        EXPECT_NE(held.out.find("ERROR"), std::string::npos) << held.out;
        EXPECT_NE(held.out.find("\"Port already in use\""), std::string::npos) << held.out;
    }
}

// The panel moving from one accepter of a line to another: ser2net hands
// the device back a moment after our connection to the first one ends.
TEST(SerialServer, SwitchingBetweenTwoAcceptersOfOneLineLosesNoExchange) {
    testing::SimProcess sim;
    testing::Ser2netProcess server(sim.devicePath(), sim.devicePath());
    TermiosPort port;
    ASSERT_TRUE(port.setSettings("9600,n,8,1"));
    const ExchangeSetup setup = testing::korvelReading(500, true);
    ThreadSleeper sleeper;
    std::int32_t noReplies = 0;
    for (int exchange = 0; exchange < 6; ++exchange) {
        const std::string url = exchange % 2 == 0 ? server.rfc2217Url() : server.socketUrl();
        port.setDevicePath(url);
        const ExchangeOutcome outcome = runExchange(port, sleeper, setup, noReplies);
        EXPECT_EQ(outcome.kind, ExchangeOutcome::Kind::Shown) << url << ": " << outcome.failure;
        EXPECT_EQ(outcome.display, "01D+0023.4\r") << url;
    }
}

}  // namespace
}  // namespace marvalo
