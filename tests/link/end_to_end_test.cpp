// The exchange through the real termios layer, against the simulator and
// against libmodbus, a Modbus server that is not ours.
#include <gtest/gtest.h>
#include <modbus.h>

#include <atomic>
#include <thread>

#include "core/frames/check_codes.h"
#include "link/exchange.h"
#include "link/termios_port.h"
#include "tests/pty_pair.h"
#include "tests/sim_process.h"

namespace marvalo {
namespace {

using testing::PtyPair;
using testing::SimProcess;

constexpr int kFastest = 4;  // 19200 baud: the shortest waits

ExchangeSetup setupFor(std::uint8_t protocol, ExchangeMode mode = ExchangeMode::Continuous) {
    ExchangeSetup setup;
    setup.mode = mode;
    setup.protocol = protocol;
    setup.linkType = 0;
    setup.baudIndex = kFastest;
    setup.baudSelection = kFastest;
    setup.rs485Hold = {80, 60, 30, 30, 25};
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    return setup;
}

struct Line {
    TermiosPort port;
    ThreadSleeper sleeper;
    std::int32_t noReplyCount = 0;
    explicit Line(const std::string &path, const std::string &settings = "19200,n,8,1") {
        port.setDevicePath(path);
        EXPECT_TRUE(port.setSettings(settings).ok());
    }
    ExchangeOutcome run(const ExchangeSetup &setup) {
        return runExchange(port, sleeper, setup, noReplyCount);
    }
};

TEST(EndToEnd, SimulatorAnswersEachProtocol) {
    SimProcess sim;
    Line line(sim.devicePath());

    ExchangeSetup korvel = setupFor(0);
    korvel.inputs.instructionText = "D";
    ExchangeSetup iso = setupFor(1);
    iso.inputs.instructionText = "0D";
    ExchangeSetup modbus = setupFor(2);
    modbus.inputs.instructionText = "0";
    modbus.inputs.wordCountText = "2";
    const struct {
        const char *name;
        ExchangeSetup setup;
        std::string settings;
        std::string expected;
    } rows[] = {
        {"korvel", korvel, "19200,n,8,1", "01D+0023.4\r"},
        {"iso 1745", iso, "19200,e,7,1",
         "\x02"
         "0D+0023.4\x03G"},
        {"modbus read 0..1", modbus, "19200,n,8,1", "1.3.4.0.0.0.1.59.243."},
    };
    for (const auto &row : rows) {
        ASSERT_TRUE(line.port.setSettings(row.settings).ok());
        const ExchangeOutcome outcome = line.run(row.setup);
        ASSERT_EQ(outcome.kind, ExchangeOutcome::Kind::Shown)
            << row.name << ": " << outcome.failure;
        EXPECT_EQ(outcome.display, row.expected) << row.name;
        EXPECT_FALSE(line.port.portOpen());
    }
}

TEST(EndToEnd, SilentInstrumentIsCountedThenVanishedDeviceReported) {
    auto sim = std::make_unique<SimProcess>(std::vector<std::string>{"--silent"});
    Line line(sim->devicePath());
    ExchangeSetup korvel = setupFor(0);
    korvel.inputs.instructionText = "D";
    EXPECT_EQ(line.run(korvel).kind, ExchangeOutcome::Kind::NoReply);
    EXPECT_EQ(line.run(korvel).noReplyCount, 2);
    EXPECT_TRUE(line.port.portOpen());

    sim.reset();  // the instrument is unplugged while the port is held open
    const ExchangeOutcome gone = line.run(korvel);
    EXPECT_EQ(gone.kind, ExchangeOutcome::Kind::Failed);
    EXPECT_FALSE(gone.failure.empty());
    EXPECT_FALSE(line.port.portOpen());
}

// libmodbus serving the controller end of a pty from a thread.
class ModbusPeer {
  public:
    explicit ModbusPeer(int slave) {
        ctx_ = modbus_new_rtu("/dev/null", 19200, 'N', 8, 1);
        bank_ = modbus_mapping_new(64, 0, 600, 600);
        for (int n = 0; n < 600; ++n) {
            bank_->tab_registers[n] = static_cast<std::uint16_t>(0x0100 + n);
            bank_->tab_input_registers[n] = static_cast<std::uint16_t>(0x2000 + n);
        }
        modbus_set_slave(ctx_, slave);
        modbus_set_socket(ctx_, pty_.controller());
        modbus_set_indication_timeout(ctx_, 0, 100000);
        thread_ = std::thread([this] {
            std::uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
            while (!stop_) {
                const int length = modbus_receive(ctx_, request);
                if (length > 0)
                    modbus_reply(ctx_, request, length, bank_);
            }
        });
    }
    ~ModbusPeer() {
        stop_ = true;
        thread_.join();
        modbus_mapping_free(bank_);
        modbus_free(ctx_);
    }
    const std::string &devicePath() const { return pty_.devicePath(); }
    modbus_mapping_t *bank() { return bank_; }

  private:
    PtyPair pty_;
    modbus_t *ctx_ = nullptr;
    modbus_mapping_t *bank_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string rendered(Bytes frame) {
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
    std::string text;
    for (auto b : frame)
        text += std::to_string(b) + ".";
    return text;
}

TEST(EndToEnd, LibmodbusPeerAnswersAllFourFunctions) {
    ModbusPeer peer(7);
    Line line(peer.devicePath());
    auto modbus = [](int function, const char *start, const char *words, const char *data) {
        ExchangeSetup setup = setupFor(2);
        setup.inputs.addressNumber = 7;
        setup.inputs.functionIndex = function;
        setup.inputs.instructionText = start;
        setup.inputs.wordCountText = words;
        setup.inputs.dataText = data;
        return setup;
    };
    const struct {
        const char *name;
        ExchangeSetup setup;
        std::string expected;
    } rows[] = {
        {"3: read holding 300..301", modbus(0, "300", "2", ""),
         rendered({7, 3, 4, 0x02, 0x2C, 0x02, 0x2D})},
        {"4: read input 0", modbus(3, "0", "1", ""), rendered({7, 4, 2, 0x20, 0x00})},
        {"16: write 10..11", modbus(1, "10", "2", "0;100;1;44"), rendered({7, 16, 0, 10, 0, 2})},
        {"5: force coil 9 on", modbus(2, "", "", "9"), rendered({7, 5, 0, 9, 0xFF, 0})},
        {"3: read back what 16 wrote", modbus(0, "10", "2", ""),
         rendered({7, 3, 4, 0, 100, 1, 44})},
        {"3: beyond the bank gets an exception", modbus(0, "511", "125", ""),
         rendered({7, 0x83, 2})},
    };
    for (const auto &row : rows) {
        const ExchangeOutcome outcome = line.run(row.setup);
        ASSERT_EQ(outcome.kind, ExchangeOutcome::Kind::Shown)
            << row.name << ": " << outcome.failure;
        EXPECT_EQ(outcome.display, row.expected) << row.name;
    }
    EXPECT_EQ(peer.bank()->tab_bits[9], 1);
}

TEST(EndToEnd, ReadingAHundredAndTwentyFiveWordsShowsAllTwoHundredFiftyFiveBytes) {
    ModbusPeer peer(1);
    Line line(peer.devicePath());
    ExchangeSetup setup = setupFor(2);
    setup.inputs.instructionText = "0";
    setup.inputs.wordCountText = "125";
    const ExchangeOutcome outcome = line.run(setup);
    ASSERT_EQ(outcome.kind, ExchangeOutcome::Kind::Shown) << outcome.failure;
    Bytes expected{1, 3, 250};
    for (int n = 0; n < 125; ++n) {
        expected.push_back(0x01);
        expected.push_back(static_cast<std::uint8_t>(n));
    }
    EXPECT_EQ(outcome.display, rendered(expected));
}

}  // namespace
}  // namespace marvalo
