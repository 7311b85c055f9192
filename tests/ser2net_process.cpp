#include "tests/ser2net_process.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

#include "os/file_descriptor.h"

namespace marvalo::testing {
namespace {

// Binding tells whether something listens without connecting: a connection
// would make ser2net open the device and hold it a moment after.
bool portTaken(int port) {
    FileDescriptor probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    at.sin_port = htons(static_cast<std::uint16_t>(port));
    return ::bind(probe.get(), reinterpret_cast<sockaddr *>(&at), sizeof at) != 0;
}

}  // namespace

int freeLoopbackPort() {
    FileDescriptor probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof at;
    if (::bind(probe.get(), reinterpret_cast<sockaddr *>(&at), size) != 0 ||
        ::getsockname(probe.get(), reinterpret_cast<sockaddr *>(&at), &size) != 0)
        throw std::runtime_error("no free loopback port");
    return ntohs(at.sin_port);
}

Ser2netProcess::Ser2netProcess(const std::string &rfc2217Device, const std::string &rawDevice,
                               const std::vector<std::string> &options)
    : rfc2217Port_(freeLoopbackPort()), rawPort_(freeLoopbackPort()) {
    std::string kick = options.empty() ? "" : "  options:\n";
    for (const std::string &option : options)
        kick += "    " + option + "\n";
    std::string yaml = "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                       std::to_string(rfc2217Port_) + "\n  connector: serialdev," + rfc2217Device +
                       ",9600n81,local\n" + kick + "connection: &raw\n  accepter: tcp,127.0.0.1," +
                       std::to_string(rawPort_) + "\n  connector: serialdev," + rawDevice +
                       ",9600n81,local\n" + kick;
    if (rfc2217Device == rawDevice) {
        // One adapter both ways: the configuration the README shows, as shipped.
        std::ifstream example(MARVALO_SOURCE_DIR "/examples/ser2net.yaml");
        yaml.assign(std::istreambuf_iterator<char>(example), {});
        for (const auto &[from, to] :
             {std::pair<std::string, std::string>{"tcp,4001",
                                                  "tcp,127.0.0.1," + std::to_string(rfc2217Port_)},
              {"tcp,4002", "tcp,127.0.0.1," + std::to_string(rawPort_)},
              {"/dev/ttyUSB0", rawDevice}})
            for (std::size_t at = 0; (at = yaml.find(from, at)) != std::string::npos;)
                yaml.replace(at, from.size(), to);
    }
    folder_.write("ser2net.yaml", yaml);
    const std::string config = (folder_.path() / "ser2net.yaml").string();
    const std::string pidFile = (folder_.path() / "ser2net.pid").string();
    pid_ = ::fork();
    if (pid_ == 0) {
        // It says "Unable to start mdns" and runs on: not the test's news.
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
        // -u: no UUCP lock files; the ptys are ours alone.
        ::execl("/usr/sbin/ser2net", "ser2net", "-n", "-d", "-u", "-P", pidFile.c_str(), "-c",
                config.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!(portTaken(rfc2217Port_) && portTaken(rawPort_))) {
        if (std::chrono::steady_clock::now() > until || ::waitpid(pid_, nullptr, WNOHANG) != 0)
            throw std::runtime_error("ser2net did not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Ser2netProcess::~Ser2netProcess() {
    kill();
}

void Ser2netProcess::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

std::string Ser2netProcess::rfc2217Url() const {
    return "rfc2217://127.0.0.1:" + std::to_string(rfc2217Port_);
}

std::string Ser2netProcess::socketUrl() const {
    return "socket://127.0.0.1:" + std::to_string(rawPort_);
}

}  // namespace marvalo::testing
