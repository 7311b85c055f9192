#include "tools/sim_line.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iostream>

#include "core/net/server_address.h"
#include "core/text/system_error_text.h"
#include "os/write_all.h"

namespace marvalo {
namespace {

std::string systemError(const std::string &what) {
    return what + ": " + systemErrorText(errno);
}

// Reads all there is now from a non-blocking descriptor. EOF is `closed`.
bool readAvailable(int fd, Bytes &into, bool &closed) {
    std::uint8_t chunk[1024];
    constexpr std::size_t kMostPerCall = 64 * 1024;  // a flood must not keep us here
    for (std::size_t taken = 0; taken < kMostPerCall;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n > 0) {
            into.insert(into.end(), chunk, chunk + n);
            taken += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return true;
        closed = true;
        // EIO on a pty: nobody holds the other end, which we keep open
        // ourselves, so only a torn-down pty does this.
        return n == 0 || errno == EIO || errno == ECONNRESET;
    }
    return true;
}

// Through the program's one write loop: a full descriptor is waited on,
// never spun on.
bool writeAll(int fd, const Bytes &bytes) {
    return os::writeAll(fd, bytes.data(), bytes.size()).error == 0;
}

class PtyLine : public SimLine {
  public:
    PtyLine(int controller, int device, std::string name)
        : controller_(controller), device_(device), name_(std::move(name)) {}
    int pollFd() const override { return controller_.get(); }
    bool read(Bytes &into) override {
        bool closed = false;
        return readAvailable(controller_.get(), into, closed);
    }
    bool write(const Bytes &bytes) override { return writeAll(controller_.get(), bytes); }
    std::string where() const override { return name_; }

  private:
    FileDescriptor controller_;
    FileDescriptor device_;
    std::string name_;
};

class DeviceLine : public SimLine {
  public:
    explicit DeviceLine(std::string path) : path_(std::move(path)) { port_.setDevicePath(path_); }
    TermiosPort &port() { return port_; }
    int pollFd() const override { return port_.fd(); }
    bool read(Bytes &into) override {
        auto got = port_.readAvailable();
        if (!got) {
            std::cerr << "marvalo-sim: " << got.error().message() << "\n";
            return false;
        }
        into.insert(into.end(), got.value().begin(), got.value().end());
        return true;
    }
    bool write(const Bytes &bytes) override {
        auto written = port_.write(bytes);
        if (!written)
            std::cerr << "marvalo-sim: " << written.error().message() << "\n";
        return written.ok();
    }
    std::string where() const override { return path_; }
    bool timed() const override { return true; }

  private:
    std::string path_;
    TermiosPort port_;
};

class TcpLine : public SimLine {
  public:
    TcpLine(FileDescriptor listener, std::string where, bool rfc2217)
        : listener_(std::move(listener)), where_(std::move(where)), rfc2217_(rfc2217) {}
    int pollFd() const override { return client_.valid() ? client_.get() : listener_.get(); }
    bool read(Bytes &into) override {
        if (!client_.valid()) {
            const int fd =
                ::accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (fd < 0)
                return errno == EAGAIN || errno == EINTR || errno == ECONNABORTED;
            client_ = FileDescriptor(fd);
            const int one = 1;
            // A reply goes out as one segment, at once.
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            telnet_ = net::TelnetReader();
            telnet_.serve();
            return true;
        }
        Bytes received;
        bool closed = false;
        if (!readAvailable(client_.get(), received, closed))
            return false;
        if (rfc2217_) {
            net::TelnetInput input = telnet_.feed(received);
            Bytes back = input.reply;
            for (const net::ComPortAnswer &command : input.answers) {
                Bytes value = command.value;
                if (command.command == net::ComPortCommand::SetBaudrate && value.size() == 4) {
                    const int baud =
                        (value[0] << 24) | (value[1] << 16) | (value[2] << 8) | value[3];
                    if (baud > 0)
                        baud_ = baud;
                }
                const Bytes answer = net::serverAnswer(command.command, value);
                back.insert(back.end(), answer.begin(), answer.end());
            }
            if (!back.empty())
                writeAll(client_.get(), back);
            into.insert(into.end(), input.data.begin(), input.data.end());
            if (!input.junk.empty())
                closed = true;
        } else {
            into.insert(into.end(), received.begin(), received.end());
        }
        if (closed)
            client_ = FileDescriptor();  // the next client may come
        return true;
    }
    bool write(const Bytes &bytes) override {
        if (!client_.valid())
            return true;  // the master left: the reply has nobody to reach
        if (!writeAll(client_.get(), rfc2217_ ? net::escapeData(bytes) : bytes))
            client_ = FileDescriptor();
        return true;
    }
    std::string where() const override { return where_; }
    std::optional<int> takeBaudChange() override {
        auto baud = baud_;
        baud_.reset();
        return baud;
    }

  private:
    FileDescriptor listener_;
    FileDescriptor client_;
    std::string where_;
    bool rfc2217_;
    net::TelnetReader telnet_;
    std::optional<int> baud_;
};

}  // namespace

Result<std::unique_ptr<SimLine>, std::string> openPtyLine() {
    int controller = -1;
    int device = -1;
    char name[256] = {};
    if (::openpty(&controller, &device, name, nullptr, nullptr) != 0)
        return systemError("no se puede abrir un pseudoterminal");
    struct termios raw {};
    ::tcgetattr(device, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(device, TCSANOW, &raw);
    ::fcntl(controller, F_SETFL, ::fcntl(controller, F_GETFL) | O_NONBLOCK);
    ::fcntl(controller, F_SETFD, FD_CLOEXEC);
    ::fcntl(device, F_SETFD, FD_CLOEXEC);
    return std::unique_ptr<SimLine>(std::make_unique<PtyLine>(controller, device, name));
}

Result<std::unique_ptr<SimLine>, std::string> openDeviceLine(const std::string &path,
                                                             const std::string &settings) {
    auto line = std::make_unique<DeviceLine>(path);
    if (auto set = line->port().setSettings(settings); !set)
        return set.error().message();
    if (auto opened = line->port().open(); !opened)
        return opened.error().message();
    return std::unique_ptr<SimLine>(std::move(line));
}

Result<net::ServerAddress, std::string> listenAddress(const std::string &hostPort, bool rfc2217,
                                                      bool anyAddress) {
    // Port 0 asks the system for a free one; a client's address never has it.
    const bool anyPort = hostPort.ends_with(":0");
    auto address = net::parseServerAddress(
        "socket://" + (anyPort ? hostPort.substr(0, hostPort.size() - 1) + "1" : hostPort));
    if (address && anyPort)
        address.value().port = 0;
    const std::string option = rfc2217 ? "--listen-rfc2217" : "--listen";
    if (!address)
        return option + " es \"" + hostPort +
               "\"; se admite HOST:PUERTO, como 127.0.0.1:5020 o [::1]:5020";
    const std::string &host = address.value().host;
    const bool loopback = host == "127.0.0.1" || host == "::1" || host == "localhost";
    if (!loopback && !anyAddress)
        return option + " es \"" + hostPort +
               "\", que no es de esta máquina; se admite 127.0.0.1 o ::1, o cualquier dirección "
               "con --listen-any";
    return address;
}

Result<std::unique_ptr<SimLine>, std::string> openTcpLine(const net::ServerAddress &address,
                                                          bool rfc2217) {
    const std::string option = rfc2217 ? "--listen-rfc2217" : "--listen";
    const std::string &host = address.host;
    const bool loopback = host == "127.0.0.1" || host == "::1" || host == "localhost";
    struct addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
    struct addrinfo *found = nullptr;
    const std::string port = std::to_string(address.port);
    if (const int problem = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &found); problem != 0)
        return option + ": no se encuentra \"" + host + "\": " + lookupErrorText(problem, errno);
    FileDescriptor listener(
        ::socket(found->ai_family, found->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const int one = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const bool bound = listener.valid() &&
                       ::bind(listener.get(), found->ai_addr, found->ai_addrlen) == 0 &&
                       ::listen(listener.get(), 4) == 0;
    const int family = found->ai_family;
    ::freeaddrinfo(found);
    if (!bound)
        return systemError(option + ": no se puede escuchar en " + address.hostPort());
    struct sockaddr_storage local {};
    socklen_t length = sizeof local;
    ::getsockname(listener.get(), reinterpret_cast<sockaddr *>(&local), &length);
    const int actual = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6 &>(local).sin6_port
                                                : reinterpret_cast<sockaddr_in &>(local).sin_port);
    const std::string shown = (host.find(':') != std::string::npos ? "[" + host + "]" : host) +
                              ":" + std::to_string(actual);
    if (!loopback)
        std::cerr << "marvalo-sim: aviso: escucha en " << shown
                  << ", abierto a cualquiera que llegue a esta máquina por la red\n";
    return std::unique_ptr<SimLine>(std::make_unique<TcpLine>(
        std::move(listener), (rfc2217 ? "rfc2217://" : "socket://") + shown, rfc2217));
}

}  // namespace marvalo
