// The network port against serial servers written here, each misbehaving
// in one way a real one can: on loopback only.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "core/net/server_address.h"
#include "link/exchange.h"
#include "link/network_port.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

// A listening socket on 127.0.0.1 with a port the system chose.
struct Listener {
    FileDescriptor fd{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    int port = 0;
    explicit Listener(int backlog = 4) {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof at;
        EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr *>(&at), size), 0);
        EXPECT_EQ(::listen(fd.get(), backlog), 0);
        ::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&at), &size);
        port = ntohs(at.sin_port);
    }
};

// One connection served by a script: a greeting, then RFC 2217 answers to
// each command (the client's code + 100, the same value unless told), and
// everything the client sent kept in order.
struct FakeServer {
    Listener listener;
    const char *greeting = "FF FD 2C FF FD 00 FF FB 00";
    bool answerSettings = true;
    bool answerControl = true;
    bool hangUp = false;
    Bytes baudAnswer;  // empty: the baud asked for
    Bytes received;
    std::atomic<bool> stop{false};
    std::thread thread;

    void start() {
        thread = std::thread([this] { serve(); });
    }
    ~FakeServer() {
        stop = true;
        if (thread.joinable())
            thread.join();
    }
    void serve() {
        FileDescriptor client(::accept(listener.fd.get(), nullptr, nullptr));
        const Bytes hello = fromHex(greeting);
        (void)!::send(client.get(), hello.data(), hello.size(), MSG_NOSIGNAL);
        if (hangUp)
            return;
        std::size_t scanned = 0;
        while (!stop) {
            pollfd ready{client.get(), POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0)
                continue;
            std::uint8_t chunk[4096];
            const ssize_t n = ::read(client.get(), chunk, sizeof chunk);
            if (n <= 0)
                return;
            received.insert(received.end(), chunk, chunk + n);
            // Whole subnegotiations only: FF FA 2C code value FF F0.
            for (std::size_t at = scanned; at + 5 < received.size(); ++at) {
                if (received[at] != 0xFF || received[at + 1] != 0xFA || received[at + 2] != 44)
                    continue;
                std::size_t end = at + 4;
                while (end + 1 < received.size() &&
                       !(received[end] == 0xFF && received[end + 1] == 0xF0))
                    ++end;
                if (end + 1 >= received.size())
                    break;
                const std::uint8_t code = received[at + 3];
                Bytes value(received.begin() + static_cast<long>(at) + 4,
                            received.begin() + static_cast<long>(end));
                if (code == 1 && !baudAnswer.empty())
                    value = baudAnswer;
                const bool answer = code == 5 ? answerControl : answerSettings;
                Bytes reply{0xFF, 0xFA, 44, static_cast<std::uint8_t>(code + 100)};
                reply.insert(reply.end(), value.begin(), value.end());
                reply.insert(reply.end(), {0xFF, 0xF0});
                if (answer)
                    (void)!::send(client.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
                scanned = end + 2;
                at = end + 1;
            }
        }
    }
};

std::unique_ptr<NetworkPort> portTo(const std::string &scheme, int port) {
    auto network = std::make_unique<NetworkPort>(
        net::parseServerAddress(scheme + "://127.0.0.1:" + std::to_string(port)).value());
    network->setConnectTimeoutMs(300);
    EXPECT_TRUE(network->setSettings("19200,n,8,1"));
    return network;
}

TEST(NetworkPort, EachServerFaultIsOneMessageNamingIt) {
    struct Row {
        const char *name;
        const char *greeting;
        bool answerSettings;
        const char *baudAnswer;
        bool hangUp;
        const char *says;
    };
    const Row rows[] = {
        {"silent accepter", "", false, "", false, "no negoció RFC 2217 en 300 ms"},
        {"refuses the option", "FF FE 2C", false, "", false, "no admite RFC 2217"},
        {"another baud", "FF FD 2C", true, "00 00 25 80", false, "a la velocidad 19200 con 9600"},
        {"settings unanswered", "FF FD 2C", false, "", false, "no respondió a la velocidad"},
        {"telnet junk", "FF FD 2C FF 05", false, "", false, "telnet no válido: IAC seguido"},
        {"hangs up at once", "FF FD 2C", false, "", true, "cortó la conexión"},
    };
    for (const Row &row : rows) {
        FakeServer server;
        server.greeting = row.greeting;
        server.answerSettings = row.answerSettings;
        server.baudAnswer = fromHex(row.baudAnswer);
        server.hangUp = row.hangUp;
        server.start();
        auto port = portTo("rfc2217", server.listener.port);
        auto opened = port->open();
        ASSERT_FALSE(opened) << row.name;
        const std::string message = opened.error().message();
        EXPECT_NE(message.find(row.says), std::string::npos) << row.name << ": " << message;
        EXPECT_NE(message.find("127.0.0.1:" + std::to_string(server.listener.port)),
                  std::string::npos)
            << row.name << ": " << message;
        EXPECT_FALSE(port->portOpen()) << row.name;
    }
}

TEST(NetworkPort, NobodyListeningAndAFullBacklogAreNamed) {
    int closedPort = 0;
    {
        Listener gone;
        closedPort = gone.port;
    }
    auto refused = portTo("socket", closedPort);
    auto refusal = refused->open();
    ASSERT_FALSE(refusal);
    EXPECT_NE(refusal.error().message().find("rechazó la conexión"), std::string::npos)
        << refusal.error().message();

    // Linux drops a SYN while the accept queue is full: a connect that hangs,
    // as one to a host that is off does.
    Listener full(0);
    FileDescriptor first(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(static_cast<std::uint16_t>(full.port));
    ASSERT_EQ(::connect(first.get(), reinterpret_cast<sockaddr *>(&at), sizeof at), 0);
    auto late = portTo("socket", full.port);
    auto timedOut = late->open();
    ASSERT_FALSE(timedOut);
    EXPECT_NE(timedOut.error().message().find("no respondió en 300 ms"), std::string::npos)
        << timedOut.error().message();
}

TEST(NetworkPort, Rs485SwitchesRtsThroughTheServerAroundTheWrite) {
    ExchangeSetup setup;
    setup.protocol = 0;
    setup.linkType = static_cast<std::uint8_t>(LinkType::Rs485);
    setup.baudIndex = 4;
    setup.baudSelection = 4;
    setup.rs485Hold = {1, 1, 1, 1, 1};
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    setup.inputs.instructionText = "D";
    setup.waitMs = 50;
    ThreadSleeper sleeper;
    std::int32_t noReplies = 0;
    const struct {
        const char *scheme;
        bool answerControl;
        const char *says;  // empty: the exchange runs
    } rows[] = {
        {"rfc2217", true, ""},
        {"rfc2217", false, "no confirmó el cambio de RTS"},
        {"socket", true, "no puede cambiar RTS"},
    };
    for (const auto &row : rows) {
        FakeServer server;
        server.answerControl = row.answerControl;
        server.start();
        auto port = portTo(row.scheme, server.listener.port);
        const ExchangeOutcome outcome = runExchange(*port, sleeper, setup, noReplies);
        const std::string failure = outcome.failure;
        server.stop = true;
        server.thread.join();
        if (*row.says != '\0') {
            EXPECT_NE(failure.find(row.says), std::string::npos) << row.scheme << ": " << failure;
            EXPECT_TRUE(outcome.nothingWritten) << row.scheme;
            continue;
        }
        const std::string sent = toHex(server.received);
        const auto on = sent.find("FF FA 2C 05 0B FF F0");
        const auto request = sent.find("2A 30 31 44 0D");  // *01D CR
        const auto off = sent.find("FF FA 2C 05 0C FF F0");
        EXPECT_TRUE(on < request && request < off && off != std::string::npos) << sent;
    }
}

}  // namespace
}  // namespace marvalo
