// The network port against serial servers written here, each misbehaving
// in one way a real one can: on loopback only.
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <map>
#include <thread>

#include "link/exchange.h"
#include "link/network_port.h"
#include "link/port_line.h"
#include "link/termios_port.h"
#include "tests/hex_bytes.h"
#include "tests/korvel_reading.h"

namespace marvalo {
namespace {

using testing::fromHex;

std::string hexOf(const std::string &text) {
    return toHex(Bytes(text.begin(), text.end()));
}

// The answers to SET-BAUDRATE 19200, DATASIZE 8, PARITY NONE, STOPSIZE 1.
constexpr const char *kAgreed =
    "FF FA 2C 65 00 00 4B 00 FF F0 FF FA 2C 66 08 FF F0 FF FA 2C 67 01 FF F0 FF FA 2C 68 01 FF F0";

// Connections on 127.0.0.1, one after another: the first `refusals` are
// told those words (hex) and closed; each other gets a greeting, then each
// rule's answer once, when what the client sent holds its trigger (the
// answer "-" hangs up). Everything sent is kept, and when each rule fired.
struct FakeServer {
    FileDescriptor listener{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    int port = 0;
    std::vector<std::pair<std::string, std::string>> rules;  // trigger, answer (hex)
    std::string received;                                    // hex
    std::map<std::string, std::chrono::steady_clock::time_point> firedAt;
    std::vector<std::string> refusals;
    std::atomic<bool> stop{false};
    std::atomic<bool> dropNow{false};           // hang up on the connection being served
    std::atomic<const char *> sayNow{nullptr};  // said (hex) to the connection being served
    std::atomic<int> refusalDelayMs{0};         // a refusal waits this long
    std::atomic<bool> resetRefusals{false};     // and ends with a reset, not a close
    std::atomic<bool> flood{false};             // IAC NOP without a pause, once greeted
    const Bytes nops = [] {
        Bytes pairs;
        for (int n = 0; n < 32'768; ++n)
            pairs.insert(pairs.end(), {0xFF, 0xF1});
        return pairs;
    }();
    std::atomic<int> fired{0};  // rules that have fired
    std::atomic<int> accepted{0};
    std::thread thread;

    bool hangUp = false;  // right after the greeting

    FakeServer(const char *greeting, std::vector<std::pair<std::string, std::string>> answers,
               int backlog = 4, bool hangUpAfterGreeting = false,
               std::vector<std::string> refuseFirst = {})
        : rules(std::move(answers)), refusals(std::move(refuseFirst)), hangUp(hangUpAfterGreeting) {
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
        for (std::size_t served = 0; !stop; ++served) {
            pollfd waiting{listener.get(), POLLIN, 0};
            while (!stop && ::poll(&waiting, 1, 20) <= 0) {
            }
            if (stop)
                return;
            FileDescriptor client(::accept(listener.get(), nullptr, nullptr));
            ++accepted;
            if (served < refusals.size()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(refusalDelayMs));
                say(client.get(), fromHex(refusals[served].c_str()));
            } else {
                say(client.get(), greeting);
                converse(client.get());
            }
            const linger reset{1, 0};
            if (resetRefusals)
                ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        }
    }
    void converse(int client) {
        dropNow = false;
        const auto floodUntil = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (!stop && !hangUp && !dropNow) {
            if (const char *words = sayNow.exchange(nullptr))
                say(client, fromHex(words));
            if (flood && std::chrono::steady_clock::now() < floodUntil)
                say(client, nops);
            pollfd ready{client, POLLIN, 0};
            std::uint8_t chunk[4096];
            const ssize_t n =
                ::poll(&ready, 1, flood ? 0 : 20) > 0 ? ::read(client, chunk, sizeof chunk) : -1;
            if (n == 0)
                return;
            if (n > 0)
                received += (received.empty() ? "" : " ") + toHex(Bytes(chunk, chunk + n));
            for (auto &[trigger, answer] : rules) {
                if (trigger.empty() || received.find(trigger) == std::string::npos)
                    continue;
                firedAt[trigger] = std::chrono::steady_clock::now();
                trigger.clear();
                ++fired;
                if (answer == "-")
                    return;
                say(client, fromHex(answer));
            }
        }
    }
    std::string url(const std::string &scheme, const std::string &host = "127.0.0.1") const {
        return scheme + "://" + host + ":" + std::to_string(port);
    }
    // Through the port the panel holds, so its one factory picks the backend.
    std::unique_ptr<PortLine> client(const std::string &scheme,
                                     const std::string &host = "127.0.0.1") const {
        auto network = std::make_unique<PortLine>();
        network->setDevicePath(url(scheme, host));
        network->setConnectTimeoutMs(300);
        EXPECT_TRUE(network->setSettings("19200,n,8,1"));
        return network;
    }
};

// A name server that never answers: the wait ends with the timeout, or
// with a stop, not when the resolver gives up.
int hangingLookup(const char *, const char *, const struct addrinfo *, struct addrinfo **) {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return EAI_AGAIN;
}

TEST(NetworkPort, EachServerFaultIsOneMessageNamingIt) {
    const std::string endless = "FF FD 2C FF FA 2C 65 " + hexOf(std::string(300, '\0'));
    const std::string openFailure = hexOf("Device open failure: No such file\r\n");
    // ser2net's greeting, a long one, its words and a reset: what we answer
    // to the greeting finds the connection reset before the words are read.
    std::string resetAfterWords = "FF FB 03 FF FD 03";
    for (int n = 0; n < 35'000; ++n)
        resetAfterWords += " FF F1";
    resetAfterWords += " " + hexOf("Port's device already in use\r\n");
    const struct {
        const char *name, *greeting;
        std::vector<std::pair<std::string, std::string>> rules;
        const char *says;
        int stopAfterMs = 0;  // then the wait must end well before the timeout
        bool hangUp = false;
        bool hangingNameServer = false;
        bool flood = false, reset = false;
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
        {"device open failure", openFailure.c_str(), {}, "no pudo abrir su dispositivo", 0, true},
        {"in use, then a reset",
         resetAfterWords.c_str(),
         {},
         "device already in use\": la",
         0,
         true,
         false,
         false,
         true},
        {"stop while the server floods telnet", "", {}, ": detenido", 50, false, false, true},
        {"a subnegotiation that never ends", endless.c_str(), {}, "más de 256 bytes sin cerrar"},
        {"stop while negotiating", "", {}, ": detenido", 50},
        {"stop while configuring", "FF FD 2C", {}, ": detenido", 50},
        {"full backlog: stop while connecting", "", {}, ": detenido", 50},
        {"name server silent", "", {}, "\"localhost\" en 300 ms", 0, false, true},
        {"name server silent: stop", "", {}, ": detenido", 50, false, true},
    };
    for (const auto &row : rows) {
        const bool backlogFull = std::string(row.name).starts_with("full");
        FakeServer server(row.greeting, row.rules, backlogFull ? 0 : 4, row.hangUp);
        server.flood = row.flood;
        server.resetRefusals = row.reset;
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
        // The backend itself: only it can be handed a name lookup that hangs.
        auto port = std::make_unique<NetworkPort>(
            net::parseServerAddress(server.url(backlogFull ? "socket" : "rfc2217",
                                               row.hangingNameServer ? "localhost" : "127.0.0.1"))
                .value());
        port->setConnectTimeoutMs(300);
        ASSERT_TRUE(port->setSettings("19200,n,8,1"));
        port->setNameLookup(hangingLookup);
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
        EXPECT_NE(message.find(":" + std::to_string(server.port)), std::string::npos) << message;
        EXPECT_FALSE(port->portOpen()) << row.name;
    }
}

TEST(NetworkPort, Rs485SwitchesRtsThroughTheServerAroundTheWrite) {
    FakeServer server("FF FD 2C", {{"FF FA 2C 04", kAgreed},
                                   {"FF FA 2C 05 0B", "FF FA 2C 69 0B FF F0"},
                                   {"44 44 0D", ""},
                                   {"FF FA 2C 05 0C", "FF FA 2C 69 0C FF F0"}});
    ExchangeSetup setup;
    setup.linkType = static_cast<std::uint8_t>(LinkType::Rs485);
    setup.baudIndex = 4;
    setup.baudSelection = 4;
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    // 40 bytes: 20.8 ms on the line at 19200, all before RTS may fall (the
    // hold, 0 here, counts from there).
    setup.inputs.instructionText = std::string(36, 'D');
    setup.waitMs = 50;
    ThreadSleeper sleeper;
    std::int32_t noReplies = 0;
    auto port = server.client("rfc2217");
    const ExchangeOutcome outcome = runExchange(*port, sleeper, setup, noReplies);
    EXPECT_EQ(outcome.failure, "");
    server.stop = true;
    server.thread.join();
    const auto on = server.received.find("FF FA 2C 05 0B FF F0");
    const auto request = server.received.find("44 44 0D");  // the request's end
    const auto off = server.received.find("FF FA 2C 05 0C FF F0");
    EXPECT_TRUE(on < request && request < off && off != std::string::npos) << server.received;
    EXPECT_GE(server.firedAt["FF FA 2C 05 0C"] - server.firedAt["44 44 0D"],
              std::chrono::microseconds(20'833 - 1'000));
    // A stop cutting the wait for a long frame to leave still lets RTS down.
    FakeServer cut("FF FD 2C", {{"FF FA 2C 04", kAgreed},
                                {"FF FA 2C 05 0B", "FF FA 2C 69 0B FF F0"},
                                {"44 44 0D", ""},
                                {"FF FA 2C 05 0C", "FF FA 2C 69 0C FF F0"}});
    setup.inputs.instructionText = std::string(200, 'D');  // 106 ms at 19200
    setup.stopRequested = [&cut] { return cut.fired >= 3; };
    EXPECT_EQ(runExchange(*cut.client("rfc2217"), sleeper, setup, noReplies).failure,
              "Detenido al esperar a que la petición salga por " + cut.url("rfc2217") + ".");
    EXPECT_EQ(cut.fired, 4);  // RTS OFF came, and was answered
}

constexpr const char *kRequest = "2A 30 31 44 0D";  // *01D CR
constexpr const char *kReply = "30 31 44 2B 30 30 32 33 2E 34 0D";

// COM 1 leads to the server, as the ports table keeps one: by its address.
struct ServerMap final : PortMap {
    std::string address;
    Result<MappedDevice, std::string> resolve(int) override {
        return MappedDevice{address, address, false, std::nullopt, std::nullopt, std::nullopt};
    }
};

// What a server says is the line's only when it is: a refusal, a hang-up,
// broken telnet are faults quoting it, never a reply to judge.
TEST(NetworkPort, WhatTheServerSaysIsAReplyOnlyWhenItIsOne) {
    using Rules = std::vector<std::pair<std::string, std::string>>;
    auto agreedThen = [](const std::string &answer) {
        return Rules{{"FF FA 2C 04", kAgreed}, {kRequest, answer}};
    };
    const std::string inUse = hexOf("Port already in use\r\n");
    const Rules raw = {{kRequest, kReply}};
    const Rules junk = agreedThen(kReply + std::string(" FF 05")), plain = agreedThen(kReply);
    const Rules leftOpen = agreedThen(std::string("FF FA 2C 06 ") + kReply);
    const std::vector<std::string> taken = {hexOf("Port's device already in use\r\n")};
    const std::string stale = hexOf("01D+0099.9\r");  // held by the server from before
    const struct {
        const char *name, *scheme;
        std::string greeting;
        Rules rules;
        const char *fails;  // empty: the reply is shown, and recorded
        std::vector<std::string> refuseFirst = {};
        bool afterOurRelease = false, wholeWait = false;  // as the panel waits
        const char *host = "127.0.0.1";  // "localhost": none of ours released lately
        int refusalDelayMs = 0;          // past our settle: after the request
        bool flood = false;
    } rows[] = {
        // First, while none of ours was let go: a line held for good, or one
        // another marvalo-send left a moment ago, is asked again a few times.
        {"raw: held for good by another client", "socket", "", raw, "se pidió de nuevo 4 veces",
         std::vector(100, taken[0]), false, false, "localhost"},
        {"raw: in use, none of ours left", "socket", "", raw, "", taken, false, false, "localhost"},
        {"refusal after the request, again and again", "socket", "", raw, "no llegó a la línea; ",
         std::vector(100, inUse), false, false, "localhost", 70},
        {"refusal after the request, once", "socket", "", raw, "", std::vector(1, inUse), false,
         false, "localhost", 70},
        {"raw: a telnet server", "socket", "FF FB 03 FF FD 03 FF FB 00 FF FD 2C", raw,
         "habla telnet (envió FF FB 03 FF FD 03 FF FB 00 FF FD 2C antes de la petición): es un "
         "servidor RFC 2217; use rfc2217://"},
        {"telnet: NOP all through the wait", "rfc2217", "FF FD 2C", plain, "",
         std::vector<std::string>(), false, true, "127.0.0.1", 0, true},
        {"refusal before the request, not closed", "socket", inUse, {}, "Port already in use"},
        {"junk after a whole reply", "rfc2217", "FF FD 2C", junk, "no válido", {}, false, true},
        {"a subnegotiation left open", "rfc2217", "FF FD 2C", leftOpen, "no la cerró en 200 ms"},
        {"a baud answer first", "rfc2217", "FF FD 2C FF FA 2C 65 00 00 25 80 FF F0", plain, ""},
        {"WONT BINARY, then agreeing", "rfc2217", "FF FD 2C FF FC 00 FF FB 00", plain, ""},
        {"raw: held from before", "socket", stale, raw, "", {}, false, false, "localhost"},
        {"raw: in use after our own release", "socket", "", raw, "", taken, true},
        {"refusal again and again after our own release", "socket", "", raw,
         "soltó hace un momento y el servidor no devolvió", std::vector(100, taken[0]), true},
        {"telnet: in use after our own release", "rfc2217", "FF FD 2C", plain, "", taken, true},
    };
    for (const auto &row : rows) {
        if (row.afterOurRelease) {
            FakeServer otherAccepter("", {});
            ASSERT_TRUE(otherAccepter.client("socket")->open()) << row.name;
        }
        FakeServer server(row.greeting.c_str(), row.rules, 4, false, row.refuseFirst);
        server.refusalDelayMs = row.refusalDelayMs;
        server.flood = row.flood;
        ServerMap map;
        map.address = server.url(row.scheme, row.host);
        TermiosPort port;
        port.setPortMap(map);
        port.setConnectTimeoutMs(300);
        ASSERT_TRUE(port.setSettings("19200,n,8,1"));
        ThreadSleeper sleeper;
        std::int32_t noReplies = 0;
        const ExchangeOutcome outcome =
            runExchange(port, sleeper, testing::korvelReading(250, !row.wholeWait), noReplies);
        EXPECT_TRUE(*row.fails ? outcome.failure.find(row.fails) != std::string::npos
                               : outcome.failure.empty())
            << row.name << ": " << outcome.failure;
        EXPECT_EQ(outcome.kind == ExchangeOutcome::Kind::Failed, *row.fails != '\0') << row.name;
        const bool replied = *row.fails == '\0' || row.wholeWait;
        EXPECT_EQ(toHex(outcome.record.reply), replied ? kReply : "") << row.name;
        EXPECT_EQ(outcome.record.port, "COM 1 (" + map.address + ")");
        EXPECT_LE(server.accepted, 14) << row.name;  // asked again at a pace, not flooded
        EXPECT_LT(outcome.record.durationMs(), 500) << row.name;
        // The rows named "refusal…": what was written never reached the line.
        EXPECT_EQ(outcome.record.lineSawRequest, *row.fails && *row.name != 'r') << row.name;
    }
}

// However soon after a reply the server closes a held connection, the next
// exchange finds it before writing, connects again and says so.
TEST(NetworkPort, AHeldConnectionDroppedBeforeAWriteIsOpenedAgainAndSaid) {
    for (const int idleMs : {1100, 100}) {
        FakeServer server("",
                          {{kRequest, kReply}, {std::string(kRequest) + " " + kRequest, kReply}});
        auto port = server.client("socket");
        ThreadSleeper sleeper;
        std::int32_t noReplies = 0;
        ASSERT_EQ(runExchange(*port, sleeper, testing::korvelReading(250, true), noReplies).failure,
                  "");
        server.sayNow = "6B 69 63 6B 65 64 0D 0A";  // "kicked" CR LF, as kickolduser says
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        server.dropNow = true;  // a server restarted, its idle timeout, or kickolduser
        std::this_thread::sleep_for(std::chrono::milliseconds(idleMs));
        const ExchangeOutcome again =
            runExchange(*port, sleeper, testing::korvelReading(250, true), noReplies);
        EXPECT_EQ(toHex(again.record.reply), kReply) << idleMs << ": " << again.failure;
        EXPECT_NE(again.record.warning.value_or("").find("estaba cerrada y se abrió de nuevo"),
                  std::string::npos)
            << idleMs;
        EXPECT_NE(again.record.warning.value_or("").find("dijo \"kicked\""), std::string::npos);
    }
    // Words of the server's to a held connection it keeps open are no stale
    // bytes of the line: the next exchange ends on them before writing.
    FakeServer server("", {{kRequest, kReply}, {std::string(kRequest) + " " + kRequest, kReply}});
    auto port = server.client("socket");
    ThreadSleeper sleeper;
    std::int32_t noReplies = 0;
    ASSERT_EQ(runExchange(*port, sleeper, testing::korvelReading(250, true), noReplies).failure,
              "");
    const std::string inUse = hexOf("Port already in use\r\n");
    server.sayNow = inUse.c_str();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const ExchangeOutcome next =
        runExchange(*port, sleeper, testing::korvelReading(250, true), noReplies);
    EXPECT_NE(next.failure.find("\"Port already in use\" a la conexión"), std::string::npos)
        << next.failure;
    EXPECT_FALSE(next.record.lineSawRequest);
}

}  // namespace
}  // namespace marvalo
