#include "link/network_port.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/net/com_port_text.h"
#include "core/net/server_refusal.h"
#include "core/text/byte_text.h"
#include "core/text/system_error_text.h"
#include "os/write_all.h"

namespace marvalo {
namespace {

using net::ComPortCommand;

constexpr std::size_t kMostPerRead = 64 * 1024;
// Answers nobody waits for (a late PURGE-DATA's) are dropped beyond this.
constexpr std::size_t kMostAnswersKept = 16;
constexpr int kStopLookMs = 20;

struct SettingAsked {
    ComPortCommand command;
    const char *name;
    const char *it;  // the pronoun that stands for it: "la", "los"
    Bytes request;   // the whole subnegotiation
    Bytes value;     // what the server must answer
};

net::ComPortParity parityOf(LineSettings::Parity parity) {
    switch (parity) {
        case LineSettings::Parity::Odd:
            return net::ComPortParity::Odd;
        case LineSettings::Parity::Even:
            return net::ComPortParity::Even;
        default:
            return net::ComPortParity::None;
    }
}

Bytes baudValue(int baud) {
    const auto rate = static_cast<std::uint32_t>(baud);
    return {static_cast<std::uint8_t>(rate >> 24), static_cast<std::uint8_t>(rate >> 16),
            static_cast<std::uint8_t>(rate >> 8), static_cast<std::uint8_t>(rate)};
}

struct timespec timespecUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(
                                      deadline - std::chrono::steady_clock::now())
                                      .count());
    constexpr std::int64_t kUsPerSecond = 1'000'000;
    return {static_cast<time_t>(left / kUsPerSecond),
            static_cast<long>(left % kUsPerSecond) * 1000};
}

// ser2net gives a device back up to ~20 ms after a client leaves: another
// accepter of the same line refuses "in use" until then. Our own release
// is remembered so that refusal is tried again, not reported.
constexpr auto kHandBackWindow = std::chrono::milliseconds(1000);
// Asking again every few milliseconds would only flood the server.
constexpr auto kRetryPause = std::chrono::milliseconds(25);
// "In use" with no release of ours to explain it: another process of ours
// may have left the line a moment ago. Asked again after 10, 20, 40 and
// 80 ms: ser2net's ~20 ms hand-back is covered several times over, and a
// line truly held costs at most 150 ms of pauses more (and never more than
// the connect timeout) before its refusal is reported.
constexpr auto kFirstHandBackPause = std::chrono::milliseconds(10);
constexpr int kMostHandBackRetries = 4;
// How long a raw accepter is given to refuse right after our own release.
constexpr auto kRefusalSettle = std::chrono::milliseconds(50);
// A fresh raw connection is first listened to until quiet this long, and
// at most kMostSettle when the line streams.
constexpr auto kQuietBeforeRequest = std::chrono::milliseconds(20);
constexpr auto kMostSettle = std::chrono::milliseconds(200);
// A subnegotiation left open this long holds back every byte after it.
constexpr auto kMostSubnegotiationTime = std::chrono::milliseconds(200);

struct OwnRelease {
    std::mutex lock;
    std::string host;
    std::chrono::steady_clock::time_point at{};
};

OwnRelease &ownRelease() {
    static OwnRelease last;
    return last;
}

bool releasedLately(const std::string &host) {
    OwnRelease &last = ownRelease();
    const std::lock_guard hold(last.lock);
    return last.host == host && std::chrono::steady_clock::now() - last.at < kHandBackWindow;
}

// A name lookup runs on a thread of its own, so the wait for it can end
// with the timeout or a stop; one given up on finishes and frees itself.
struct PendingLookup {
    std::mutex lock;
    std::condition_variable done;
    bool finished = false;
    int result = 0;
    int err = 0;
    struct addrinfo *found = nullptr;
    ~PendingLookup() {
        if (found != nullptr)
            ::freeaddrinfo(found);
    }
};

}  // namespace

NetworkPort::NetworkPort(net::ServerAddress address) : address_(std::move(address)) {}

LinkStatus NetworkPort::applySettings(const LineSettings &line) {
    if (portOpen()) {
        if (auto applied = applyLine(line); !applied)
            return applied;
    }
    line_ = line;
    return Done{};
}

LinkStatus NetworkPort::setSettings(const std::string &text) {
    auto parsed = parseLineSettings(text);
    if (!parsed)
        return error(LinkError::Kind::BadSettings, "configurar", parsed.error());
    return applySettings(parsed.value());
}

NetworkPort::~NetworkPort() {
    release();
}

std::string NetworkPort::describe() const {
    return label_.empty() ? address_.written : label_;
}

std::string NetworkPort::recordedSettings(const std::string &asked) const {
    return recordedSettingsOf(kind(), asked);
}

LinkError NetworkPort::fault(LinkError::Kind kind, const std::string &operation,
                             const std::string &what) {
    // Whatever went wrong, the connection is no longer one to trust: the
    // next exchange starts from a fresh connect and negotiation.
    release();
    return error(kind, operation, what);
}

// A server's words as a message quotes them: without the line end, made
// safe, "…" where only the first `most` bytes were kept.
std::string wordsOf(const Bytes &heard, std::size_t most) {
    std::string said(heard.begin(), heard.end());
    while (!said.empty() && (said.back() == '\r' || said.back() == '\n'))
        said.pop_back();
    return safeText(said) + (heard.size() >= most ? "…" : "");
}

std::string NetworkPort::heardText() const {
    return wordsOf(heard_, kMostHeardKept);
}

std::string NetworkPort::idleWords() const {
    return idleHeard_.empty() ? std::string() : wordsOf(idleHeard_, 2 * kMostHeardKept);
}

LinkError NetworkPort::turnedAway(const std::string &operation, const std::string &words,
                                  bool lineInUse, const std::string &meaning) {
    refused_ = true;
    // The server never gave us the line, so nothing of ours reached it,
    // even when the refusal is read only after the request was written.
    const bool handedOver = std::exchange(handedOver_, false);
    LinkError why =
        fault(lineInUse ? LinkError::Kind::Busy : LinkError::Kind::NoSuchPort,
              requested_ ? operation : "abrir",
              "el servidor rechazó la conexión tras enviar \"" + words + "\": " + meaning +
                  (requested_ ? "; la petición escrita no llegó a la línea"
                              : "; no se envió nada a la línea"));
    why.lineUntouched = true;
    // Behind a relay, or slow to hand a line back, a server may refuse
    // after our settle, even after the request went: a connection that
    // never carried an exchange is asked for again as one refused at once.
    if (!lineInUse || !handedOver || proven_ || !asking_)
        return why;
    if (auto gaveUp = pauseBeforeAskingAgain(std::move(why)))
        return *gaveUp;
    resumeAsking_ = true;
    notice_ = "el servidor rechazó con \"" + words +
              "\" una conexión que ya se daba por abierta; nada llegó a la línea y el "
              "intercambio se hizo de nuevo por otra conexión";
    LinkError again = error(LinkError::Kind::Busy, "abrir", "el servidor rechazó la conexión");
    again.lineUntouched = true;
    again.askAgain = true;
    return again;
}

LinkError NetworkPort::speaksTelnet(const std::string &operation) {
    const std::size_t shown = std::min<std::size_t>(held_.size(), 12);
    LinkError why =
        fault(LinkError::Kind::NotASerialPort, requested_ ? operation : "abrir",
              "el servidor habla telnet (envió " +
                  toHex(Bytes(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(shown))) +
                  (held_.size() > shown ? " …" : "") +
                  " antes de la petición): es un servidor RFC 2217; use rfc2217://" +
                  address_.hostPort() + (requested_ ? "" : "; no se envió nada a la línea"));
    why.lineUntouched = !requested_;
    return why;
}

void NetworkPort::hearWhatIsLeft() {
    // Bounded by what the kernel keeps for us: a few buffers' worth.
    constexpr int kMostReads = 16;
    Bytes chunk(kMostPerRead);
    for (int read = 0; read < kMostReads && socket_.valid(); ++read) {
        const ssize_t n = ::recv(socket_.get(), chunk.data(), chunk.size(), MSG_DONTWAIT);
        if (n <= 0)
            return;
        const Bytes received(chunk.begin(), chunk.begin() + n);
        hear(telnet() ? reader_.feed(received).data : received);
    }
}

LinkError NetworkPort::lost(const std::string &operation, int err) {
    closedByServer_ = true;
    hearWhatIsLeft();
    // ser2net turns a client away by saying why and closing, before or
    // after our request: what it said is its reason, never a reply.
    const bool spokeFirst = !proven_ && !heard_.empty();
    if (spokeFirst) {
        const net::ServerRefusal said = net::readRefusal(heard_);
        if (said.verdict == net::ServerRefusal::Verdict::Refusal)
            return turnedAway(operation, said.words, said.lineInUse, said.meaning);
        if (!requested_)
            return turnedAway(operation, heardText(), true, net::kLineLikelyTaken);
    }
    // ser2net hands the line to a new client (kickolduser) by closing ours.
    std::string what = "el servidor cortó la conexión" +
                       (spokeFirst ? " tras enviar \"" + heardText() + "\"" : std::string()) +
                       " (¿se detuvo el servidor serie, o dio la línea a otro cliente?)";
    if (err != 0)
        what += ": " + systemErrorText(err);
    if (requested_)
        what += "; lo recibido en este intercambio no se toma como respuesta";
    return fault(LinkError::Kind::Vanished, operation, what);
}

int NetworkPort::waitFor(struct pollfd &ready, Clock::time_point deadline, bool heedStop) const {
    // In short looks: a signal may land between two of them (or be taken by
    // another thread), and a stop must not wait out the whole timeout. It
    // is asked before every look that may wait, however busy the server
    // keeps the socket.
    while (true) {
        if (heedStop && Clock::now() < deadline && stopAsked())
            return kStoppedWait;
        const auto look = std::min(deadline, Clock::now() + std::chrono::milliseconds(kStopLookMs));
        const struct timespec left = timespecUntil(look);
        const int polled = ::ppoll(&ready, 1, &left, nullptr);
        if (polled > 0 || (polled < 0 && errno != EINTR))
            return polled;
        if (Clock::now() >= deadline)
            return 0;
    }
}

LinkError NetworkPort::stopped(const std::string &operation) {
    return fault(LinkError::Kind::Stopped, operation, "detenido");
}

bool NetworkPort::stoppedDuring(std::chrono::microseconds time) const {
    const auto until = Clock::now() + time;
    while (Clock::now() < until) {
        if (stopAsked())
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(
            until - Clock::now(), std::chrono::milliseconds(kStopLookMs)));
    }
    return false;
}

Result<struct addrinfo *, LinkError> NetworkPort::lookUp(Clock::time_point deadline) {
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    const std::string service = std::to_string(address_.port);
    auto refused = [this](int looked, int err) {
        return error(LinkError::Kind::NoSuchPort, "abrir",
                     "no se encuentra el servidor \"" + address_.host +
                         "\": " + lookupErrorText(looked, err) +
                         "; compruebe el nombre o use su dirección IP");
    };
    // An address written as numbers needs no name server: no thread, no wait.
    struct addrinfo numericHints = hints;
    numericHints.ai_flags |= AI_NUMERICHOST;
    struct addrinfo *found = nullptr;
    const int numeric =
        ::getaddrinfo(address_.host.c_str(), service.c_str(), &numericHints, &found);
    if (numeric == 0)
        return found;
    if (numeric != EAI_NONAME)
        return refused(numeric, errno);
    const NameLookup call = nameLookup_ ? nameLookup_ : &::getaddrinfo;
    auto pending = std::make_shared<PendingLookup>();
    try {
        std::thread([pending, call, host = address_.host, service, hints] {
            struct addrinfo *answer = nullptr;
            const int result = call(host.c_str(), service.c_str(), &hints, &answer);
            const int err = errno;
            const std::lock_guard hold(pending->lock);
            pending->found = answer;
            pending->result = result;
            pending->err = err;
            pending->finished = true;
            pending->done.notify_all();
        }).detach();
    } catch (const std::system_error &) {
        return error(LinkError::Kind::NoSuchPort, "abrir",
                     "no se pudo buscar el servidor \"" + address_.host +
                         "\": el sistema no deja crear otro hilo; use su dirección IP");
    }
    std::unique_lock hold(pending->lock);
    while (!pending->finished) {
        if (Clock::now() >= deadline) {
            return error(LinkError::Kind::NoSuchPort, "abrir",
                         "no se encontró el servidor \"" + address_.host + "\" en " +
                             std::to_string(timeoutMs_) +
                             " ms: el servidor de nombres no respondió; compruebe la red o use su "
                             "dirección IP");
        }
        if (stopAsked())
            return stopped("buscar el servidor de");
        pending->done.wait_until(
            hold, std::min(deadline, Clock::now() + std::chrono::milliseconds(kStopLookMs)));
    }
    if (pending->result != 0)
        return refused(pending->result, pending->err);
    found = pending->found;
    pending->found = nullptr;
    return found;
}

LinkStatus NetworkPort::connectSocket() {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    auto looked = lookUp(deadline);
    if (!looked)
        return looked.error();
    const std::unique_ptr<struct addrinfo, void (*)(struct addrinfo *)> found(looked.value(),
                                                                              ::freeaddrinfo);
    int lastError = ETIMEDOUT;
    for (const struct addrinfo *at = found.get(); at != nullptr; at = at->ai_next) {
        FileDescriptor fd(::socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                   at->ai_protocol));
        if (!fd.valid()) {
            lastError = errno;
            continue;
        }
        if (::connect(fd.get(), at->ai_addr, at->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                lastError = errno;
                continue;
            }
            struct pollfd ready {
                fd.get(), POLLOUT, 0
            };
            const int polled = waitFor(ready, deadline, true);
            if (polled == kStoppedWait)
                return stopped("abrir");
            if (polled <= 0) {
                lastError = polled == 0 ? ETIMEDOUT : errno;
                continue;
            }
            int err = 0;
            socklen_t size = sizeof err;
            if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &size) != 0)
                err = errno;
            // Reset once connected: what the server said first is still
            // ours to read, and says why.
            if (err != 0 && err != ECONNRESET) {
                lastError = err;
                continue;
            }
        }
        // Requests are small and whole: Nagle would hold each one back for
        // the previous one's acknowledgement.
        const int on = 1;
        ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        socket_ = std::move(fd);
        return Done{};
    }
    switch (lastError) {
        case ECONNREFUSED:
            return error(LinkError::Kind::NoSuchPort, "abrir",
                         "el equipo rechazó la conexión (" + errnoName(ECONNREFUSED) +
                             "): ¿está en marcha el servidor serie y escucha en ese puerto?");
        case ETIMEDOUT:
            return error(LinkError::Kind::NoSuchPort, "abrir",
                         "el servidor no respondió en " + std::to_string(timeoutMs_) +
                             " ms: compruebe la dirección y la red");
        default:
            return error(LinkError::Kind::NoSuchPort, "abrir",
                         "no se pudo conectar con el servidor: " + systemErrorText(lastError));
    }
}

LinkStatus NetworkPort::open() {
    if (portOpen())
        return Done{};
    if (parked_) {
        parked_ = false;
        // Whatever came while parked is stale; an end of the connection
        // (a server stopped, the line given to another client) shows here.
        if (auto dropped = dropWhatArrived("abrir"); !dropped)
            return reopenIfDropped(dropped.error(), true);
        pending_.clear();
        if (telnet() && agreed_ != line())
            return applyLine(line());
        return Done{};
    }
    return connectAskingAgain();
}

LinkStatus NetworkPort::connectAskingAgain() {
    if (!std::exchange(resumeAsking_, false) || !asking_) {
        asking_ = Asking{Clock::now() + std::chrono::milliseconds(timeoutMs_),
                         releasedLately(address_.host), 0, kFirstHandBackPause};
    }
    while (true) {
        auto opened = connectAndNegotiate(asking_->afterOurRelease);
        if (opened) {
            handedOver_ = true;
            return opened;
        }
        if (opened.error().kind != LinkError::Kind::Busy)
            return opened;
        if (auto gaveUp = pauseBeforeAskingAgain(opened.error()))
            return *gaveUp;
    }
}

std::optional<LinkError> NetworkPort::pauseBeforeAskingAgain(LinkError why) {
    // "In use" right after we let a line go is most likely ourselves, a
    // moment ago: asked again until the server has handed it back. Anyone
    // else's leaving (another marvalo-send a moment before) we cannot know
    // of: asked again a few times, so a line truly held is reported within
    // a fraction of a second.
    Asking &asking = *asking_;
    const auto wait = asking.afterOurRelease ? kRetryPause : asking.pause;
    if ((!asking.afterOurRelease && asking.retries == kMostHandBackRetries) ||
        Clock::now() + wait >= asking.deadline) {
        if (asking.afterOurRelease) {
            why.reason +=
                "; esta conexión se soltó hace un momento y el servidor no "
                "devolvió la línea en " +
                std::to_string(timeoutMs_) + " ms";
        } else if (asking.retries > 0) {
            why.reason += "; se pidió de nuevo " + std::to_string(asking.retries) +
                          (asking.retries == 1 ? " vez" : " veces") + " sin que la soltara";
        }
        asking_.reset();
        return why;
    }
    if (stoppedDuring(wait))
        return stopped("abrir");
    ++asking.retries;
    asking.pause *= 2;
    return std::nullopt;
}

LinkStatus NetworkPort::reopenIfDropped(const LinkError &why, bool nothingWritten) {
    // However soon after the last reply it came, a close found before a
    // byte of this exchange went cost nothing but the connection: a restart,
    // an idle timeout, or the line given to another client. Only the last
    // is news, and it cannot be told from the others, so each is said.
    if (why.kind != LinkError::Kind::Vanished || !nothingWritten)
        return why;
    const std::string said = idleWords();
    if (auto reopened = connectAskingAgain(); !reopened)
        return reopened;
    notice_ =
        "la conexión que se mantenía con el servidor serie estaba cerrada y se abrió de nuevo "
        "antes de enviar (el servidor se reinició, la cerró por inactividad o dio la línea a otro "
        "cliente, que la acaba de perder si usa kickolduser)" +
        (said.empty() ? std::string() : "; antes de cerrarla dijo \"" + said + "\"");
    return Done{};
}

LinkStatus NetworkPort::connectAndNegotiate(bool afterOurRelease) {
    release();
    handedOver_ = false;
    idleHeard_.clear();
    reader_ = net::TelnetReader{};
    requested_ = false;
    proven_ = false;
    screening_ = true;
    refused_ = false;
    closedByServer_ = false;
    heard_.clear();
    if (auto connected = connectSocket(); !connected)
        return connected;
    if (!telnet()) {
        // A raw accepter says nothing when it takes us, yet may hand over at
        // once what it held from the line before we came (or a banner): no
        // reply to a request not written yet. Waited for until the line is
        // quiet, it is dropped with the exchange's first discard, not judged.
        // A refusal is waited for longer only when one is likely.
        const auto start = Clock::now();
        const auto refusalBy = afterOurRelease ? start + kRefusalSettle : start;
        auto quietBy = start + kQuietBeforeRequest;
        while (true) {
            const auto until =
                std::min(start + kMostSettle, std::max(quietBy, screening_ ? refusalBy : start));
            if (Clock::now() >= until)
                return Done{};
            auto looked = pump("abrir", until);
            if (!looked)
                return looked.error();
            if (looked.value())
                quietBy = Clock::now() + kQuietBeforeRequest;
        }
    }
    if (auto sent = sendRaw("negociar RFC 2217 con", reader_.start(true)); !sent)
        return sent;
    // RFC 2217: no COM-PORT-OPTION subnegotiation before the server agreed.
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    while (!reader_.comPortAgreed()) {
        if (reader_.comPortRefused()) {
            return fault(
                LinkError::Kind::NotASerialPort, "abrir",
                "el servidor no admite RFC 2217 (COM-PORT-OPTION): si es un servidor TCP sin "
                "telnet, use socket://" +
                    address_.hostPort());
        }
        auto looked = pump("negociar RFC 2217 con", deadline);
        if (!looked)
            return looked.error();
        if (!reader_.comPortAgreed() && Clock::now() >= deadline) {
            return fault(LinkError::Kind::NoSuchPort, "abrir",
                         "el servidor aceptó la conexión pero no negoció RFC 2217 en " +
                             std::to_string(timeoutMs_) + " ms");
        }
    }
    if (auto applied = applyLine(line()); !applied)
        return applied;
    // A refusal in the greeting has arrived by the time the settings are
    // answered.
    return refuseTextMode("abrir");
}

LinkStatus NetworkPort::refuseTextMode(const std::string &operation) {
    if (!telnet() || !reader_.binaryRefused())
        return Done{};
    return fault(
        LinkError::Kind::NotASerialPort, operation,
        "el servidor rechazó el modo binario de telnet (RFC 856): sin él los bytes 0D y FF no "
        "llegan intactos a la línea; active el modo binario en el servidor. No se "
        "envió nada a la línea");
}

void NetworkPort::close() {
    // Telnet the server broke is no connection to keep.
    if (!junkAfterData_.empty()) {
        release();
        return;
    }
    if (socket_.valid() && requested_)
        proven_ = true;
    parked_ = socket_.valid();
    pending_.clear();
}

void NetworkPort::release() {
    if (socket_.valid() && !refused_ && !closedByServer_) {
        OwnRelease &last = ownRelease();
        const std::lock_guard hold(last.lock);
        last.host = address_.host;
        last.at = Clock::now();
    }
    socket_.reset();
    parked_ = false;
    agreed_.reset();
    pending_.clear();
    answers_.clear();
    held_.clear();
    heldStale_ = 0;
    rtsRaised_ = false;
    wroteSinceLook_ = false;
    subnegotiationSince_.reset();
    junkAfterData_.clear();
}

LinkStatus NetworkPort::sendRaw(const std::string &operation, const Bytes &bytes) {
    const os::WriteProgress sent =
        os::writeAll(socket_.get(), bytes.data(), bytes.size(),
                     Clock::now() + std::chrono::milliseconds(timeoutMs_), stopQuery_);
    if (sent.written == bytes.size())
        return Done{};
    const std::string part =
        std::to_string(sent.written) + " de " + std::to_string(bytes.size()) + " bytes";
    if (sent.stopped && sent.written == 0)
        return stopped(operation);
    if (sent.stopped)
        return fault(LinkError::Kind::Io, operation,
                     "detenido tras enviar " + part + " al servidor");
    if (sent.timedOut)
        return fault(LinkError::Kind::Io, operation,
                     "se enviaron " + part + " y el servidor dejó de aceptar datos");
    return lost(operation, sent.error);
}

void NetworkPort::hear(const Bytes &data) {
    if (proven_)
        return;
    const std::size_t room = kMostHeardKept - std::min(kMostHeardKept, heard_.size());
    const std::size_t kept = std::min(room, data.size());
    heard_.insert(heard_.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(kept));
}

std::optional<LinkError> NetworkPort::takeLineBytes(const std::string &operation,
                                                    const Bytes &data) {
    hear(data);
    if (!screening_) {
        pending_.insert(pending_.end(), data.begin(), data.end());
        return std::nullopt;
    }
    held_.insert(held_.end(), data.begin(), data.end());
    if (!telnet() && net::opensNegotiation(held_))
        return speaksTelnet(operation);
    const net::ServerRefusal said = net::readRefusal(held_);
    switch (said.verdict) {
        case net::ServerRefusal::Verdict::Unsure:
            return std::nullopt;
        case net::ServerRefusal::Verdict::Refusal:
            return turnedAway(operation, said.words, said.lineInUse, said.meaning);
        case net::ServerRefusal::Verdict::NotOne:
            break;
    }
    screening_ = false;
    pending_.insert(pending_.end(), held_.begin() + static_cast<std::ptrdiff_t>(heldStale_),
                    held_.end());
    held_.clear();
    heldStale_ = 0;
    return std::nullopt;
}

Result<bool, LinkError> NetworkPort::pump(const std::string &operation, Clock::time_point deadline,
                                          bool heedStop) {
    if (!junkAfterData_.empty()) {
        return fault(
            LinkError::Kind::Io, operation,
            "el servidor envió telnet no válido tras los datos ya recibidos: " + junkAfterData_);
    }
    struct pollfd ready {
        socket_.get(), POLLIN, 0
    };
    const int polled = waitFor(ready, deadline, heedStop);
    if (polled == kStoppedWait)
        return stopped(operation);
    if (polled < 0)
        return fault(LinkError::Kind::Io, operation, systemErrorText(errno));
    if (polled == 0)
        return false;
    std::uint8_t chunk[kMostPerRead];
    const ssize_t n = ::recv(socket_.get(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (n == 0) {
        return lost(operation, 0);
    }
    if (n < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EINTR)
            return true;
        return lost(operation, err);
    }
    // A server that does not set TCP_NODELAY holds a reply back until the
    // telnet answer before it is acknowledged, and Linux delays that
    // acknowledgement by up to 40 ms: acknowledge at once, every read (the
    // kernel forgets the setting).
    const int on = 1;
    ::setsockopt(socket_.get(), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    const Bytes received(chunk, chunk + n);
    if (!telnet()) {
        if (auto refused = takeLineBytes(operation, received))
            return *refused;
        return true;
    }
    net::TelnetInput input = reader_.feed(received);
    if (auto refused = takeLineBytes(operation, input.data))
        return *refused;
    if (!input.junk.empty()) {
        // What came whole before the junk is the line's: it reaches the
        // record, and the fault follows at the next look.
        if (!pending_.empty()) {
            junkAfterData_ = input.junk;
            return true;
        }
        return fault(LinkError::Kind::Io, operation,
                     "el servidor envió telnet no válido: " + input.junk);
    }
    if (!reader_.insideSubnegotiation())
        subnegotiationSince_.reset();
    else if (!subnegotiationSince_)
        subnegotiationSince_ = Clock::now();
    for (net::ComPortAnswer &answer : input.answers) {
        if (answer.command == ComPortCommand::PurgeData)
            continue;  // nobody waits for it
        answers_.push_back(std::move(answer));
        if (answers_.size() > kMostAnswersKept)
            answers_.pop_front();
    }
    if (!input.reply.empty()) {
        if (auto sent = sendRaw(operation, input.reply); !sent)
            return sent.error();
    }
    return true;
}

Result<Bytes, LinkError> NetworkPort::awaitAnswer(const std::string &operation,
                                                  const std::string &setting,
                                                  ComPortCommand command,
                                                  Clock::time_point deadline, bool heedStop) {
    while (true) {
        const auto found = std::find_if(answers_.begin(), answers_.end(),
                                        [command](const auto &a) { return a.command == command; });
        if (found != answers_.end()) {
            Bytes value = found->value;
            answers_.erase(found);
            return value;
        }
        if (Clock::now() >= deadline) {
            return fault(LinkError::Kind::BadSettings, operation,
                         "el servidor no respondió a " + setting + " en " +
                             std::to_string(timeoutMs_) + " ms");
        }
        if (auto looked = pump(operation, deadline, heedStop); !looked)
            return looked.error();
    }
}

LinkStatus NetworkPort::forgetEarlyAnswers(const std::string &operation) {
    // Bounded: a line that streams without pause would keep it going.
    constexpr int kMostReads = 16;
    for (int read = 0; read < kMostReads; ++read) {
        auto looked = pump(operation, Clock::now());
        if (!looked)
            return looked.error();
        if (!looked.value())
            break;
    }
    answers_.clear();
    return Done{};
}

LinkStatus NetworkPort::applyLine(const LineSettings &line) {
    if (!telnet() || !portOpen())
        return Done{};  // raw TCP: the server's own settings
    const SettingAsked asked[] = {
        {ComPortCommand::SetBaudrate, "la velocidad", "la",
         net::setBaudrate(static_cast<std::uint32_t>(line.baud)), baudValue(line.baud)},
        {ComPortCommand::SetDatasize,
         "los bits de datos",
         "los",
         net::setDatasize(static_cast<std::uint8_t>(line.dataBits)),
         {static_cast<std::uint8_t>(line.dataBits)}},
        {ComPortCommand::SetParity,
         "la paridad",
         "la",
         net::setParity(parityOf(line.parity)),
         {static_cast<std::uint8_t>(parityOf(line.parity))}},
        {ComPortCommand::SetStopsize,
         "los bits de parada",
         "los",
         net::setStopsize(static_cast<std::uint8_t>(line.stopBits)),
         {static_cast<std::uint8_t>(line.stopBits)}},
    };
    if (auto forgotten = forgetEarlyAnswers("configurar"); !forgotten)
        return forgotten;
    // All four at once: one round trip instead of four.
    Bytes requests;
    for (const SettingAsked &setting : asked)
        requests.insert(requests.end(), setting.request.begin(), setting.request.end());
    if (auto sent = sendRaw("configurar", requests); !sent)
        return sent;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    for (const SettingAsked &setting : asked) {
        auto answer = awaitAnswer("configurar", setting.name, setting.command, deadline, true);
        if (!answer)
            return answer.error();
        if (answer.value() != setting.value) {
            return fault(LinkError::Kind::BadSettings, "configurar",
                         "el servidor respondió a " + std::string(setting.name) + " " +
                             net::comPortValueText(setting.command, setting.value) + " con " +
                             net::comPortValueText(setting.command, answer.value()) +
                             ": el servidor no " + setting.it + " admite; no se envió nada");
        }
    }
    agreed_ = line;
    return Done{};
}

LinkStatus NetworkPort::setRts(bool raised) {
    const std::string operation = raised ? "activar RTS en" : "desactivar RTS en";
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, operation, "el puerto está cerrado");
    if (!telnet()) {
        return error(LinkError::Kind::NoRts, operation,
                     "un servidor TCP sin RFC 2217 (socket://) no puede cambiar RTS; RS485 "
                     "necesita rfc2217:// con un servidor que maneje RTS, o use RS232");
    }
    const std::uint8_t control = raised ? net::kControlRtsOn : net::kControlRtsOff;
    if (auto forgotten = forgetEarlyAnswers(operation); !forgotten)
        return forgotten;
    if (auto sent = sendRaw(operation, net::setControl(control)); !sent)
        return sent;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
    // RTS comes down whatever stopped the exchange: a raised one would hold
    // the bus for every other device.
    auto answer = awaitAnswer(operation, "RTS", ComPortCommand::SetControl, deadline, raised);
    if (!answer) {
        if (answer.error().kind != LinkError::Kind::BadSettings)
            return answer.error();
        return error(LinkError::Kind::NoRts, operation,
                     "el servidor no confirmó el cambio de RTS en " + std::to_string(timeoutMs_) +
                         " ms; RS485 necesita un servidor que maneje RTS, o use RS232");
    }
    if (answer.value() != Bytes{control}) {
        return fault(LinkError::Kind::NoRts, operation,
                     "al pedirle " +
                         net::comPortValueText(ComPortCommand::SetControl, Bytes{control}) +
                         ", el servidor respondió " +
                         net::comPortValueText(ComPortCommand::SetControl, answer.value()) +
                         "; RS485 necesita un servidor que maneje RTS, o use RS232");
    }
    rtsRaised_ = raised;
    return Done{};
}

LinkStatus NetworkPort::dropWhatArrived(const std::string &operation) {
    // Bounded: a line that streams without pause would keep it going.
    constexpr int kMostReads = 16;
    for (int read = 0; read < kMostReads; ++read) {
        auto looked = pump(operation, Clock::now());
        const std::size_t room =
            2 * kMostHeardKept - std::min(2 * kMostHeardKept, idleHeard_.size());
        idleHeard_.insert(
            idleHeard_.end(), pending_.begin(),
            pending_.begin() + static_cast<std::ptrdiff_t>(std::min(room, pending_.size())));
        pending_.clear();
        heldStale_ = held_.size();
        if (!looked)
            return looked.error();
        if (!looked.value())
            break;
    }
    return Done{};
}

LinkStatus NetworkPort::discardInput() {
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "vaciar la entrada de", "el puerto está cerrado");
    // Found closed as an exchange begins, nothing of it has gone yet.
    const bool exchangeStarts = !wroteSinceLook_;
    if (auto dropped = dropWhatArrived("vaciar la entrada de"); !dropped) {
        if (auto reopened = reopenIfDropped(dropped.error(), exchangeStarts); !reopened)
            return reopened;
    }
    // A server's words to a held connection are no stale bytes of the line:
    // the exchange ends on them before writing.
    if (const net::ServerRefusal said = net::readRefusal(idleHeard_);
        exchangeStarts && said.verdict == net::ServerRefusal::Verdict::Refusal) {
        LinkError why =
            fault(said.lineInUse ? LinkError::Kind::Busy : LinkError::Kind::NoSuchPort, "abrir",
                  "el servidor envió \"" + said.words +
                      "\" a la conexión que se mantenía, antes de la petición: " + said.meaning +
                      "; no se envió nada a la línea");
        why.lineUntouched = true;
        return why;
    }
    // What the server still holds from the line is the server's to drop.
    if (telnet())
        return sendRaw("vaciar la entrada de", net::purgeData(net::kPurgeReceive));
    return Done{};
}

LinkStatus NetworkPort::write(const Bytes &request) {
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "escribir en", "el puerto está cerrado");
    if (auto refused = refuseTextMode("escribir en"); !refused)
        return refused;
    if (requested_)
        proven_ = true;
    requested_ = true;
    wroteSinceLook_ = true;
    idleHeard_.clear();
    if (auto sent = sendRaw("escribir en", telnet() ? net::escapeData(request) : request); !sent)
        return sent;
    if (!rtsRaised_)
        return Done{};
    // The server has no drain to offer: RTS may only fall once the frame
    // has left its UART, bytes × bits per character / baud from now, and
    // the RS485 hold is counted from there.
    const LineSettings &settings = line();
    const std::int64_t bitsPerByte = 1 + settings.dataBits +
                                     (settings.parity == LineSettings::Parity::None ? 0 : 1) +
                                     settings.stopBits;
    constexpr std::int64_t kUsPerSecond = 1'000'000;
    const std::int64_t frameUs =
        (static_cast<std::int64_t>(request.size()) * bitsPerByte * kUsPerSecond + settings.baud -
         1) /
        settings.baud;
    // A stop here finds the request written and RTS up: the connection is
    // kept, so the exchange can still lower RTS before it lets go.
    if (stoppedDuring(std::chrono::microseconds(frameUs)))
        return error(LinkError::Kind::Stopped, "esperar a que la petición salga por", "detenido");
    return Done{};
}

LinkStatus NetworkPort::drain() {
    // The server writes the line itself; write() waited the frame's time
    // when RTS is ours to lower.
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "terminar de enviar por", "el puerto está cerrado");
    return Done{};
}

Result<bool, LinkError> NetworkPort::waitForInput(std::int64_t timeoutUs) {
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "esperar datos de", "el puerto está cerrado");
    wroteSinceLook_ = false;
    const auto deadline = Clock::now() + std::chrono::microseconds(timeoutUs);
    // Telnet alone (an answer, a line state) wakes the socket but brings
    // nothing for the reply: keep waiting until data or the deadline.
    // Each pass ends at the deadline, or at a stop, which the caller tells
    // apart and takes as its own: however much telnet the server sends.
    while (pending_.empty()) {
        auto looked = pump("esperar datos de", deadline, false);
        if (!looked)
            return looked.error();
        if (subnegotiationSince_ &&
            Clock::now() - *subnegotiationSince_ > kMostSubnegotiationTime) {
            return fault(LinkError::Kind::Io, "esperar datos de",
                         "el servidor abrió una subnegociación telnet (IAC SB) y no la cerró en " +
                             std::to_string(kMostSubnegotiationTime.count()) +
                             " ms: los datos que siguen no se pueden leer");
        }
        if (pending_.empty() && (!looked.value() || Clock::now() >= deadline || stopAsked()))
            return false;
    }
    return true;
}

Result<Bytes, LinkError> NetworkPort::readAvailable() {
    if (!portOpen())
        return error(LinkError::Kind::NotOpen, "leer de", "el puerto está cerrado");
    wroteSinceLook_ = false;
    // One more look, never a wait: a server that hung up right after what it
    // sent must not have that taken for a reply. Bytes before junk are
    // handed over first.
    if (junkAfterData_.empty() || pending_.empty()) {
        auto looked = pump("leer de", Clock::now());
        if (!looked)
            return looked.error();
    }
    const std::size_t taken = std::min(pending_.size(), kMostPerRead);
    Bytes out(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(taken));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(taken));
    return out;
}

}  // namespace marvalo
