#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "core/frames/check_codes.h"
#include "os/line_speed.h"
#include "tests/pty_pair.h"
#include "tests/run_program.h"

namespace marvalo {
namespace {

using testing::runProgram;

// Units behind one pty, all at one rate: each answers a one-register read
// with its own address as the value, and only while the line is at their
// rate (read from the pty, as a UART would mishear any other; ptys drop
// parity, so that one they cannot tell).
class UnitsAtOneRate {
  public:
    UnitsAtOneRate(std::set<int> addresses, int baud, int turnaroundMs = 0)
        : addresses_(std::move(addresses)),
          baud_(baud),
          turnaroundMs_(turnaroundMs),
          thread_([this] { serve(); }) {}
    ~UnitsAtOneRate() {
        stop_ = true;
        thread_.join();
    }
    const std::string &devicePath() const { return pty_.devicePath(); }
    int lastRate() const { return lastRate_; }  // when the last request came

  private:
    void serve() {
        Bytes frame(256);
        std::size_t size = 0;
        while (!stop_) {
            struct pollfd ready {
                pty_.controller(), POLLIN, 0
            };
            const ssize_t n = ::poll(&ready, 1, 2) > 0
                                  ? ::read(pty_.controller(), &frame[size], frame.size() - size)
                                  : 0;
            size += n > 0 ? n : 0;
            if (n <= 0 && size == 8 && crcHolds({frame.data(), size}))
                answer(frame[0]);
            size = n > 0 ? size : 0;
        }
    }
    void answer(std::uint8_t address) {
        const int baud = lastRate_ = currentSpeed(pty_.controller()).baud;
        Bytes reply{address, 3, 2, 0, address};
        const Bytes crc = CalcCRC(reply);
        reply.insert(reply.end(), crc.begin(), crc.end());
        if (baud != baud_ || !addresses_.count(address))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(turnaroundMs_));
        (void)!::write(pty_.controller(), reply.data(), reply.size());
    }

    testing::PtyPair pty_;
    std::set<int> addresses_;
    int baud_;
    int turnaroundMs_;
    std::atomic<bool> stop_{false};
    std::atomic<int> lastRate_{0};
    std::thread thread_;
};

std::vector<nlohmann::json> jsonLines(const std::string &out) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(nlohmann::json::parse(line));
    return lines;
}

// The rate reaches the line, a custom one through termios2 as well, and
// the unit at that rate answers.
TEST(Baud, EveryRateReachesTheLine) {
    for (int baud : {300, 115200, 921600, 250000, 31250}) {
        UnitsAtOneRate unit({17}, baud);
        const auto run = runProgram({MARVALO_SEND_PATH, "--device", unit.devicePath(), "--baud",
                                     std::to_string(baud), "modbus", "--address", "17",
                                     "--function", "3", "--start", "0", "--words", "1"});
        EXPECT_EQ(run.status, 0) << baud << ": " << run.out << run.err;
        EXPECT_EQ(unit.lastRate(), baud);
    }
}

// Three units at 19200 among three rates: found once each, at their rate,
// in the JSON and in the table, though each thinks 12 ms before it answers.
TEST(Scan, FindsEveryUnitAtItsRate) {
    UnitsAtOneRate units({17, 120, 247}, 19200, 12);
    const auto json = runProgram({MARVALO_SEND_PATH, "--device", units.devicePath(), "--scan",
                                  "1-247", "--baud", "9600,19200,115200", "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    const auto lines = jsonLines(json.out);
    ASSERT_EQ(lines.size(), 4u) << json.out;
    for (int i : {0, 1, 2}) {
        const int address = std::array{17, 120, 247}[i];
        EXPECT_EQ(lines[i]["address"], address);
        EXPECT_EQ(lines[i]["baud"], 19200);
        EXPECT_EQ(lines[i]["answered"], "registro 0 = " + std::to_string(address));
    }
    EXPECT_EQ(lines[3]["summary"]["probes"], 3 * 247) << "and every rate scanned";

    const auto table = runProgram({MARVALO_SEND_PATH, "--device", units.devicePath(), "--scan",
                                   "5,120,17", "--baud", "19200", "--parity", "even,none"});
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("      120     19200  8E1    registro 0 = 120"), std::string::npos)
        << table.out;
    EXPECT_NE(table.out.find("       17     19200  8N1    registro 0 = 17"), std::string::npos);
    // The parity bit makes each character longer, and so the wait.
    EXPECT_NE(table.err.find("19200 baudios 8E1 con la función 3: hasta 31 ms por dirección"),
              std::string::npos)
        << table.err;
}

// Ctrl-C ends a scan at once with what it found; what it cannot do is
// refused before anything is sent, and stdout that fails is said.
TEST(Scan, StopsAtOnceAndRefusesWhatItCannotDo) {
    UnitsAtOneRate unit({1, 250}, 9600);
    const auto run =
        runProgram({MARVALO_SEND_PATH, "--device", unit.devicePath(), "--scan", "1-247", "--json"},
                   {false, 600, SIGINT});
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_LT(run.msFromSignalToExit, 200);
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[0]["address"], 1);
    EXPECT_EQ(lines[1]["summary"]["interrupted"], true);
    const std::tuple<const char *, int, const char *> rows[] = {
        {"--scan 0-10", 64, "no vale en \"0-10\": cada elemento es un número de 1 a 247"},
        {"--baud 12000001 modbus", 64, "--baud necesita un número de baudios de 50 a 12000000"},
        {"--scan 248-255 --any-address --json", 0, "{\"address\":250,"},
        {"--scan 1 --raw '01 03'", 64, "--raw no va con --scan"},
        {"--scan 1 --crc keep", 64, "--crc no va con --scan"},
        {"--scan 1 --value 1", 64, "--value no va con --scan"},
        {"--scan 1 --registers u16", 64, "--registers no va con --scan"},
        {"--scan 1-2 > /dev/full", 4, "la salida estándar no admite más"},
        {"--scan 2-3", 1, "una unidad más lenta puede necesitar --wait MS"},
    };
    for (const auto &[options, status, says] : rows) {
        const auto done = runProgram({"/bin/sh", "-c",
                                      std::string("exec ") + MARVALO_SEND_PATH + " --device " +
                                          unit.devicePath() + " " + options});
        EXPECT_EQ(done.status, status) << options << "\n" << done.err;
        EXPECT_NE((done.out + done.err).find(says), std::string::npos) << done.out << done.err;
    }
}

}  // namespace
}  // namespace marvalo
