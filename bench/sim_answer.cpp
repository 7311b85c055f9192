// How fast marvalo-sim answers and reads its files: the time from a
// request's last byte to the reply's first on a pty at 19200 baud (target:
// the 3.5 characters that end a frame plus at most 1 ms), beside pymodbus's
// serial server on a socat pty pair; and the load time of a file of 10
// addresses of 10,000 registers (target: 50 ms).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "core/frames/check_codes.h"
#include "core/sim/frame_timing.h"
#include "core/sim/instrument_file.h"

#include "bench/target.h"
#include "tests/sim_process.h"

extern char **environ;

namespace {

using namespace marvalo;
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Spread {
    double median, p95, max;
};
Spread spreadOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values[values.size() * 95 / 100], values.back()};
}

void loadTime() {
    std::string text = "[line]\nbaud = 19200\n";
    for (int address = 1; address <= 10; ++address) {
        text += "\n[[instrument]]\naddress = " + std::to_string(address) +
                "\nprotocol = \"modbus\"\n[[instrument.block]]\ntable = \"holding\"\nstart = "
                "0\ncount = 10000\nvalues = [";
        for (int n = 0; n < 10000; ++n)
            text += (n ? "," : "") + std::to_string((n * 7919 + address) % 65536);
        text += "]\n";
    }
    std::vector<double> ms;
    for (int i = 0; i < 7; ++i) {
        const auto start = Clock::now();
        const auto file = sim::parseInstrumentFile(text, "big.toml");
        ms.push_back(msSince(start));
        if (!file || file.value().instruments.size() != 10)
            std::fprintf(stderr, "the file was refused\n");
    }
    const Spread spread = spreadOf(ms);
    std::printf("load 10 x 10000 registers (%zu KiB): median %.1f ms\n", text.size() / 1024,
                spread.median);
    marvalo::bench::figure("load, the slowest of 7", spread.max, "ms",
                           marvalo::bench::Bound::AtMost, 50);
}

// A master on the device end of a pty: the request goes out in one write,
// the clock runs from the write's return to the reply's first byte.
std::optional<Spread> answerLatency(const std::string &path, int requests) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct termios raw {};
    ::tcgetattr(fd, &raw);
    ::cfmakeraw(&raw);
    ::cfsetspeed(&raw, B19200);
    ::tcsetattr(fd, TCSANOW, &raw);
    Bytes request{1, 3, 0, 0, 0, 10};
    const Bytes crc = CalcCRC(request);
    request.insert(request.end(), crc.begin(), crc.end());
    constexpr std::size_t kReplyLength = 5 + 20;
    std::vector<double> ms;
    for (int i = 0; i < requests; ++i) {
        std::uint8_t junk[512];
        while (::read(fd, junk, sizeof junk) > 0) {
        }
        if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
            break;
        const auto sent = Clock::now();
        struct pollfd ready {
            fd, POLLIN, 0
        };
        if (::poll(&ready, 1, 1000) <= 0)
            continue;
        ms.push_back(msSince(sent));
        std::size_t got = 0;
        const auto deadline = Clock::now() + std::chrono::milliseconds(200);
        while (got < kReplyLength && Clock::now() < deadline) {
            const ssize_t n = ::read(fd, junk, sizeof junk);
            if (n > 0)
                got += static_cast<std::size_t>(n);
            else
                std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fd);
    if (ms.empty())
        return std::nullopt;
    return spreadOf(ms);
}

pid_t spawn(const std::vector<std::string> &argv, const char *errFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errFile, O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char *> args;
    std::vector<std::string> copy = argv;
    for (auto &arg : copy)
        args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void stop(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

// pymodbus 3.0's serial server on one end of a socat pair, the master on the other.
std::optional<Spread> pymodbusLatency(int requests) {
    const char *socatErr = "/tmp/marvalo-bench-socat.err";
    const pid_t socat =
        spawn({"/usr/bin/socat", "-d", "-d", "pty,raw,echo=0", "pty,raw,echo=0"}, socatErr);
    std::vector<std::string> ptys;
    for (int i = 0; i < 50 && ptys.size() < 2; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::ifstream in(socatErr);
        std::string line;
        ptys.clear();
        const std::regex name("PTY is (/dev/pts/[0-9]+)");
        std::smatch found;
        while (std::getline(in, line)) {
            if (std::regex_search(line, found, name))
                ptys.push_back(found[1]);
        }
    }
    if (ptys.size() < 2) {
        stop(socat);
        return std::nullopt;
    }
    const std::string script =
        "import sys\n"
        "from pymodbus.server import StartSerialServer\n"
        "from pymodbus.framer.rtu_framer import ModbusRtuFramer\n"
        "from pymodbus.datastore import ModbusSequentialDataBlock, ModbusSlaveContext, "
        "ModbusServerContext\n"
        "block = ModbusSequentialDataBlock(0, [0] * 100)\n"
        "context = ModbusServerContext(slaves={1: ModbusSlaveContext(hr=block, zero_mode=True)}, "
        "single=False)\n"
        "StartSerialServer(context=context, framer=ModbusRtuFramer, port=sys.argv[1], "
        "baudrate=19200)\n";
    const pid_t server =
        spawn({"/usr/bin/python3", "-c", script, ptys[0]}, "/tmp/marvalo-bench-pymodbus.err");
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    auto spread = answerLatency(ptys[1], requests);
    stop(server);
    stop(socat);
    return spread;
}

}  // namespace

int main() {
    loadTime();
    const double t35 = sim::charTiming(19200, false, 1).t35Us / 1000;
    constexpr int kRequests = 200;
    {
        testing::SimProcess sim({"--settings", "19200,n,8,1"});
        if (auto spread = answerLatency(sim.devicePath(), kRequests))
            std::printf(
                "marvalo-sim answer latency at 19200 (t3.5 = %.2f ms): median %.2f ms, "
                "p95 %.2f ms, max %.2f ms (target <= %.2f)\n",
                t35, spread->median, spread->p95, spread->max, t35 + 1);
        else
            std::printf("marvalo-sim answer latency: no answers\n");
    }
    if (auto spread = pymodbusLatency(kRequests))
        std::printf(
            "pymodbus serial server, same request on a socat pair: median %.2f ms, "
            "p95 %.2f ms, max %.2f ms\n",
            spread->median, spread->p95, spread->max);
    else
        std::printf("pymodbus serial server: not measured (socat or python3-pymodbus missing)\n");
}
