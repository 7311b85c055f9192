// The network port against serial servers written here, each misbehaving
// in one way a real one can: on loopback only.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "link/exchange.h"
#include "link/network_port.h"
#include "link/port_line.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

// The answers to SET-BAUDRATE 19200, DATASIZE 8, PARITY NONE, STOPSIZE 1.
constexpr const char *kAgreed =
    "FF FA 2C 65 00 00 4B 00 FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 68 01 FF F0";

// One connection on 127.0.0.1: a greeting, then each rule's answer once,
// when what the client sent holds its trigger; everything sent is kept.
struct FakeServer {
    FileDescriptor listener{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    int port = 0;
    std::vector<std::pair<std::string, std::string>> rules;  // trigger, answer (hex)
    std::string received;                                    // hex
    std::atomic<bool> stop{false};
    std::thread thread;

    bool hangUp = false;  // right after the greeting

    FakeServer(const char *greeting, std::vector<std::pair<std::string, std::string>> answers,
               int backlog = 4, bool hangUpAfterGreeting = false)
        : rules(std::move(answers)), hangUp(hangUpAfterGreeting) {
        sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t size = sizeof at;
        ::bind(listener.get(), reinterpret_cast<sockaddr *>(&at), size);
        ::listen(listener.get(), backlog);
        ::getsockname(listener.get(), reinterpret_cast<sockaddr *>(&at), &size);
        port = ntohs(at.sin_port);
        if (backlog > 0)
            thread = std::thread([this, greeting] { serve(fromHex(greeting)); });
    }
    ~FakeServer() {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
    void say(int client, const Bytes &bytes) {
        (void)!::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    void serve(const Bytes &greeting) {
        FileDescriptor client(::accept(listener.get(), nullptr, nullptr));
        say(client.get(), greeting);
        while (!stop && !hangUp) {
            pollfd ready{client.get(), POLLIN, 0};
            std::uint8_t chunk[4096];
            const ssize_t n =
                ::poll(&ready, 1, 20) > 0 ? ::read(client.get(), chunk, sizeof chunk) : -1;
            if (n == 0)
                return;
            if (n > 0)
                received += (received.empty() ? "" : " ") + toHex(Bytes(chunk, chunk + n));
            for (auto &[trigger, answer] : rules) {
                if (!trigger.empty() && received.find(trigger) != std::string::npos) {
                    say(client.get(), fromHex(answer));
                    trigger.clear();
                }
            }
        }
    }
    // Through the port the panel holds, so its one factory picks the backend.
    std::unique_ptr<PortLine> client(const std::string &scheme) const {
        auto network = std::make_unique<PortLine>();
        network->setDevicePath(scheme + "://127.0.0.1:" + std::to_string(port));
        network->setConnectTimeoutMs(300);
        EXPECT_TRUE(network->setSettings("19200,n,8,1"));
        return network;
    }
};

TEST(NetworkPort, EachServerFaultIsOneMessageNamingIt) {
    const struct {
        const char *name, *greeting;
        std::vector<std::pair<std::string, std::string>> rules;
        const char *says;
        int stopAfterMs = 0;  // then the wait must end well before the timeout
        bool hangUp = false;
    } rows[] = {
        {"silent accepter", "", {}, "no negoció RFC 2217 en 300 ms"},
        {"refuses the option", "FF FE 2C", {}, "no admite RFC 2217"},
        {"another baud",
         "FF FD 2C",
         {{"FF FA 2C 04", "FF FA 2C 65 00 00 25 80 FF F0"}},
         "a la velocidad 19200 con 9600"},
        {"another parity",
         "FF FD 2C",
         {{"FF FA 2C 04",
           "FF FA 2C 65 00 00 4B 00 FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 02 FF F0"}},
         "a la paridad ninguna con impar"},
        {"settings unanswered", "FF FD 2C", {}, "no respondió a la velocidad"},
        {"telnet junk", "FF FD 2C FF 05", {}, "telnet no válido: IAC seguido"},
        {"full backlog: connect times out", "", {}, "no respondió en 300 ms"},
        {"refuses binary", "FF FD 2C FF FE 00", {{"FF FA 2C 04", kAgreed}}, "modo binario"},
        // ser2net's words to a client when the line is taken, "Port's device already in use".
        {"line in use",
         "50 6F 72 74 27 73 20 64 65 76 69 63 65 20 61 6C 72 65 61 64 79 20 69 6E 20 75 73 65 0D "
         "0A",
         {},
         "tras enviar \"Port's device already in use\": la línea probablemente está ocupada",
         0,
         true},
        {"stop while negotiating", "", {}, ": detenido", 50},
        {"stop while configuring", "FF FD 2C", {}, ": detenido", 50},
        {"full backlog: stop while connecting", "", {}, ": detenido", 50},
    };
    for (const auto &row : rows) {
        const bool backlogFull = std::string(row.name).starts_with("full");
        FakeServer server(row.greeting, row.rules, backlogFull ? 0 : 4, row.hangUp);
        // Linux drops a SYN while the accept queue is full: a connect that
        // hangs, as one to a host that is off does.
        FileDescriptor filler(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (backlogFull) {
            sockaddr_in at{AF_INET,
                           htons(static_cast<std::uint16_t>(server.port)),
                           {htonl(INADDR_LOOPBACK)},
                           {}};
            ASSERT_EQ(::connect(filler.get(), reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
        }
        auto port = server.client(backlogFull ? "socket" : "rfc2217");
        const auto started = std::chrono::steady_clock::now();
        const auto stopAt = started + std::chrono::milliseconds(row.stopAfterMs);
        if (row.stopAfterMs > 0)
            port->setStopQuery([stopAt] { return std::chrono::steady_clock::now() >= stopAt; });
        auto opened = port->open();
        ASSERT_FALSE(opened) << row.name;
        if (row.stopAfterMs > 0) {
            EXPECT_EQ(opened.error().kind, LinkError::Kind::Stopped) << row.name;
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(200))
                << row.name;
        }
        const std::string message = opened.error().message();
        EXPECT_NE(message.find(row.says), std::string::npos) << row.name << ": " << message;
        EXPECT_NE(message.find("127.0.0.1:" + std::to_string(server.port)), std::string::npos)
            << message;
        EXPECT_FALSE(port->portOpen()) << row.name;
    }
}

TEST(NetworkPort, Rs485SwitchesRtsThroughTheServerAroundTheWrite) {
    FakeServer server("FF FD 2C", {{"FF FA 2C 04", kAgreed},
                                   {"FF FA 2C 05 0B", "FF FA 2C 69 0B FF F0"},
                                   {"FF FA 2C 05 0C", "FF FA 2C 69 0C FF F0"}});
    ExchangeSetup setup;
    setup.linkType = static_cast<std::uint8_t>(LinkType::Rs485);
    setup.baudIndex = 4;
    setup.baudSelection = 4;
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    setup.inputs.instructionText = "D";
    setup.waitMs = 50;
    ThreadSleeper sleeper;
    std::int32_t noReplies = 0;
    auto port = server.client("rfc2217");
    const ExchangeOutcome outcome = runExchange(*port, sleeper, setup, noReplies);
    EXPECT_EQ(outcome.failure, "");
    server.stop = true;
    server.thread.join();
    const auto on = server.received.find("FF FA 2C 05 0B FF F0");
    const auto request = server.received.find("2A 30 31 44 0D");  // *01D CR
    const auto off = server.received.find("FF FA 2C 05 0C FF F0");
    EXPECT_TRUE(on < request && request < off && off != std::string::npos) << server.received;
}

}  // namespace
}  // namespace marvalo
