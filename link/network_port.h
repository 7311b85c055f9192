#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

struct pollfd;
struct addrinfo;

#include "core/net/server_address.h"
#include "core/net/telnet_codec.h"
#include "link/line_io.h"
#include "os/file_descriptor.h"

namespace marvalo {

inline constexpr int kDefaultConnectTimeoutMs = 3000;
// What records show for the line settings of a raw TCP server.
inline constexpr const char *kServerSettings = "ajustes del servidor";
// The settings a record shows for a line of `kind` when `asked` was asked
// for: a raw TCP server ("socket") runs its own.
inline std::string recordedSettingsOf(std::string_view kind, const std::string &asked) {
    return kind == "socket" ? kServerSettings : asked;
}

// A serial line behind a TCP serial server: RFC 2217 (telnet with
// COM-PORT-OPTION, the line settings and RTS ours) or raw TCP (the server's
// settings, no RTS). Every wait on the server is bounded by the connect
// timeout; every failure names HOST:PORT and what happened. It knows only
// its address and the settings it is to run at: which COM number led here
// is the port above's business.
class NetworkPort final : public LineIo {
  public:
    explicit NetworkPort(net::ServerAddress address);
    ~NetworkPort() override;

    void setConnectTimeoutMs(int ms) { timeoutMs_ = ms; }
    // How a server's name becomes addresses (getaddrinfo's form); a test
    // hands over one that hangs, as a name server that never answers does.
    using NameLookup = int (*)(const char *host, const char *service, const struct addrinfo *hints,
                               struct addrinfo **found);
    void setNameLookup(NameLookup lookup) { nameLookup_ = lookup; }
    // How messages name the port when it came through a COM number.
    // A server reached through a COM number is named by it; one given by its
    // address alone, by the address.
    void retarget(const LineTarget &target) override {
        label_ = target.commPort ? target.label : std::string();
    }
    std::string describe() const override;
    std::string kind() const override { return address_.kindName(); }
    std::string recordedSettings(const std::string &asked) const override;
    // Asked while waiting on the server, so a stop is not held up by it.
    void setStopQuery(std::function<bool()> query) { stopQuery_ = std::move(query); }
    LinkStatus applySettings(const LineSettings &line) override;
    // The same from a settings string (" 9600,e,7,1").
    LinkStatus setSettings(const std::string &text);

    bool portOpen() const override { return socket_.valid() && !parked_; }
    // Reopening within the same run takes up the connection close() kept,
    // once it is found alive: connecting and negotiating again for every
    // exchange would cost more than the exchange. A connection the server
    // dropped meanwhile is connected again before anything is written.
    LinkStatus open() override;
    void close() override;
    // Lets the server go: the connection ends.
    void release();
    const net::ServerAddress &address() const { return address_; }
    LinkStatus setRts(bool raised) override;
    LinkStatus discardInput() override;
    LinkStatus write(const Bytes &request) override;
    LinkStatus drain() override;
    Result<bool, LinkError> waitForInput(std::int64_t timeoutUs) override;
    Result<Bytes, LinkError> readAvailable() override;
    std::optional<std::string> takeNotice() override { return std::exchange(notice_, {}); }

  private:
    LinkStatus applyLine(const LineSettings &line);
    const LineSettings &line() const { return line_; }
    LinkError error(LinkError::Kind kind, std::string operation, std::string reason) const {
        return LinkError{kind, std::move(operation), describe(), std::move(reason)};
    }
    bool stopAsked() const { return stopQuery_ && stopQuery_(); }
    using Clock = std::chrono::steady_clock;
    bool telnet() const { return address_.kind == net::ServerAddress::Kind::Rfc2217; }
    LinkError fault(LinkError::Kind kind, const std::string &operation, const std::string &what);
    LinkError lost(const std::string &operation, int err);
    // A server that spoke and then reset the connection: its words are in
    // our receive queue still, and they are its reason.
    void hearWhatIsLeft();
    LinkError turnedAway(const std::string &operation, const std::string &words, bool lineInUse,
                         const std::string &meaning);
    LinkStatus connectSocket();
    Result<struct addrinfo *, LinkError> lookUp(Clock::time_point deadline);
    LinkStatus connectAndNegotiate(bool afterOurRelease);
    // Connected and negotiated, an "in use" asked again as far as it may be
    // the server still handing the line back.
    LinkStatus connectAskingAgain();
    // Waits out the pause before the next try at an "in use" line, or says
    // why there is none: too many tries, the connect timeout, a stop.
    std::optional<LinkError> pauseBeforeAskingAgain(LinkError why);
    // A raw server that speaks telnet: refused before the request goes.
    LinkError speaksTelnet(const std::string &operation);
    // What the server's words said before a held connection ended, quoted.
    std::string idleWords() const;
    // A held connection found closed by the server, with nothing written
    // since it was last used: connected again, and said.
    LinkStatus reopenIfDropped(const LinkError &why, bool nothingWritten);
    // True when a stop cut the pause short.
    bool stoppedDuring(std::chrono::microseconds time) const;
    // The line's bytes of one read: held back while the connection's first
    // bytes may still be the server turning us away.
    std::optional<LinkError> takeLineBytes(const std::string &operation, const Bytes &data);
    // Answers that came before a request are no answer to it.
    LinkStatus forgetEarlyAnswers(const std::string &operation);
    // ppoll until `ready` or `deadline` (0), a failure (-1, errno set) or a
    // stop request (kStoppedWait).
    static constexpr int kStoppedWait = -2;
    int waitFor(struct pollfd &ready, Clock::time_point deadline, bool heedStop) const;
    LinkError stopped(const std::string &operation);
    // A server that took binary mode back: refused before a byte of ours
    // goes to the line.
    LinkStatus refuseTextMode(const std::string &operation);
    LinkStatus dropWhatArrived(const std::string &operation);
    void hear(const Bytes &data);
    std::string heardText() const;
    LinkStatus sendRaw(const std::string &operation, const Bytes &bytes);
    // One look at the socket, waiting at most until `deadline`: what came
    // is taken apart; the line's bytes go to pending_, answers to answers_.
    // False when nothing came in time.
    // A stop ends a look that would wait, unless `heedStop` leaves it to the
    // caller.
    Result<bool, LinkError> pump(const std::string &operation, Clock::time_point deadline,
                                 bool heedStop = true);
    Result<Bytes, LinkError> awaitAnswer(const std::string &operation, const std::string &setting,
                                         net::ComPortCommand command, Clock::time_point deadline,
                                         bool heedStop);

    net::ServerAddress address_;
    std::string label_;
    int timeoutMs_ = kDefaultConnectTimeoutMs;
    LineSettings line_;  // the settings this connection is to run at
    std::function<bool()> stopQuery_;
    FileDescriptor socket_;
    net::TelnetReader reader_;
    Bytes pending_;
    std::deque<net::ComPortAnswer> answers_;
    // What the server said before the connection carried a whole exchange,
    // kept for the message if it then hangs up (a line in use): the line's
    // bytes only, made safe when shown.
    static constexpr std::size_t kMostHeardKept = 120;
    Bytes heard_;
    bool requested_ = false;
    bool proven_ = false;        // an exchange ended with the connection alive
    bool screening_ = false;     // the first bytes are not told apart from a refusal yet
    Bytes held_;                 // the line's bytes meanwhile
    std::size_t heldStale_ = 0;  // of which came before the last discard
    bool refused_ = false;       // the server turned this connection away
    bool closedByServer_ = false;
    bool rtsRaised_ = false;
    bool wroteSinceLook_ = false;        // a request went and nothing was read since
    std::optional<std::string> notice_;  // a reopened connection, until taken
    // The line's bytes dropped since the last request: a server's words
    // to a held connection are read before anything is written to it.
    Bytes idleHeard_;
    // An "in use" being asked again: one connect timeout and a few pauses
    // from the first refusal, whether it came at the connect or only once
    // the connection was handed over.
    struct Asking {
        Clock::time_point deadline;
        bool afterOurRelease = false;
        int retries = 0;
        std::chrono::milliseconds pause{};
    };
    std::optional<Asking> asking_;
    bool handedOver_ = false;    // open, and the exchange may write
    bool resumeAsking_ = false;  // the next connect goes on with asking_
    std::optional<Clock::time_point> subnegotiationSince_;
    std::string junkAfterData_;           // reported once the line's bytes before it are read
    NameLookup nameLookup_ = nullptr;     // null: getaddrinfo
    bool parked_ = false;                 // closed for the exchange, connection kept
    std::optional<LineSettings> agreed_;  // what the server confirmed last
};

}  // namespace marvalo
