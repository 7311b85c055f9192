#include "tools/instrument.h"

#include <gtest/gtest.h>

#include "core/frames/check_codes.h"
#include "core/sim/faults.h"
#include "core/verdicts/verdict.h"
#include "link/exchange.h"
#include "link/termios_port.h"
#include "tests/hex_bytes.h"
#include "tests/sim_process.h"

namespace marvalo {
namespace {

using testing::hexBytes;
using testing::sameBytes;

Bytes withCrc(Bytes frame) {
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
    return frame;
}

TEST(Instrument, AnswersAsDocumented) {
    Instrument instrument(1);
    const struct {
        const char *name;
        Bytes request;
        std::optional<Bytes> reply;
    } rows[] = {
        {"korvel reading", bytesOf("*01D\r"), bytesOf("01D+0023.4\r")},
        {"korvel version", bytesOf("*01V\r"), bytesOf("01VMARVALO-SIM 1.0\r")},
        {"korvel address", bytesOf("*01A\r"), bytesOf("01A01\r")},
        {"korvel unknown", bytesOf("*01Z\r"), bytesOf("01?\r")},
        {"korvel other address", bytesOf("*02D\r"), std::nullopt},
        {"korvel without CR", bytesOf("*01D"), std::nullopt},
        {"iso reading", hexBytes({0x01, 0x30, 0x31, 0x02, 0x30, 0x44, 0x03, 0x77}),
         bytesOf("\x02"
                 "0D+0023.4\x03G")},
        {"iso wrong BCC gets NAK", hexBytes({0x01, 0x30, 0x31, 0x02, 0x30, 0x44, 0x03, 0x78}),
         hexBytes({0x15})},
        {"iso unknown", hexBytes({0x01, 0x30, 0x31, 0x02, 0x03, 0x23}), bytesOf("\x02?\x03<")},
        {"iso other address", hexBytes({0x01, 0x30, 0x32, 0x02, 0x30, 0x44, 0x03, 0x77}),
         std::nullopt},
        {"modbus read at address 1 (starts like SOH)", withCrc({1, 3, 0, 10, 0, 1}),
         withCrc({1, 3, 2, 0, 10})},
        {"modbus input registers", withCrc({1, 4, 0, 0, 0, 1}), withCrc({1, 4, 2, 0x03, 0xE8})},
        {"modbus 32-bit values at 500", withCrc({1, 3, 0x01, 0xF4, 0, 6}),
         withCrc({1, 3, 12, 0xB2, 0xD0, 0x5F, 0x6E, 0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0})},
        {"modbus negative s16 at 509", withCrc({1, 3, 0x01, 0xFD, 0, 1}),
         withCrc({1, 3, 2, 0xFB, 0x2E})},
        {"modbus beyond the bank: exception 2", withCrc({1, 3, 2, 0x58, 0, 1}),
         withCrc({1, 0x83, 2})},
        {"modbus unknown function: exception 1", withCrc({1, 0x2B, 0, 0}), withCrc({1, 0xAB, 1})},
        {"modbus damaged CRC", hexBytes({1, 3, 0, 0, 0, 1, 0, 0}), std::nullopt},
        // Frames whose CRC holds but whose length does not fit their
        // function never reach libmodbus, which would read past them.
        {"modbus read without its fields: silence", hexBytes({1, 3, 0x40, 0x21}), std::nullopt},
        {"modbus write of 123 words carrying none: exception 3",
         hexBytes({1, 0x10, 0, 0, 0, 0x7B, 0xF6, 0xAB, 0xE6}), withCrc({1, 0x90, 3})},
        {"modbus write whose byte count disagrees: exception 3",
         withCrc({1, 16, 0, 0, 0, 1, 4, 0, 1}), withCrc({1, 0x90, 3})},
        {"modbus mask write cut short: silence", withCrc({1, 0x16, 0, 0}), std::nullopt},
        {"modbus other address", withCrc({2, 3, 0, 0, 0, 1}), std::nullopt},
        {"noise", hexBytes({0x55}), std::nullopt},
    };
    for (const auto &row : rows) {
        const std::optional<Bytes> reply = instrument.answer(row.request);
        ASSERT_EQ(reply.has_value(), row.reply.has_value()) << row.name;
        if (reply) {
            EXPECT_TRUE(sameBytes(*reply, *row.reply)) << row.name;
        }
    }
}

TEST(Instrument, KeepsWhatIsWritten) {
    Instrument instrument(17);
    ASSERT_TRUE(instrument.answer(withCrc({17, 16, 0, 5, 0, 1, 2, 0xAB, 0xCD})));
    const auto reply = instrument.answer(withCrc({17, 3, 0, 5, 0, 1}));
    ASSERT_TRUE(reply);
    EXPECT_TRUE(sameBytes(*reply, withCrc({17, 3, 2, 0xAB, 0xCD})));
    // A broadcast is carried out in silence.
    EXPECT_FALSE(instrument.answer(withCrc({0, 16, 0, 5, 0, 1, 2, 0x12, 0x34})));
    EXPECT_TRUE(sameBytes(*instrument.answer(withCrc({17, 3, 0, 5, 0, 1})),
                          withCrc({17, 3, 2, 0x12, 0x34})));
}

struct SimLine {
    testing::SimProcess sim;
    TermiosPort port;
    ThreadSleeper sleeper;
    std::int32_t noReply = 0;
    explicit SimLine(std::vector<std::string> options) : sim(std::move(options)) {
        port.setDevicePath(sim.devicePath());
    }
    ExchangeOutcome send() {
        ExchangeSetup setup;
        setup.mode = ExchangeMode::Continuous;
        setup.baudIndex = 4;
        setup.baudSelection = 4;
        setup.inputs.addressText = "01";
        setup.inputs.instructionText = "D";
        return runExchange(port, sleeper, setup, noReply);
    }
};

TEST(SimulatorFaults, DropEveryNthRequest) {
    SimLine line({"--drop-every", "2"});
    EXPECT_EQ(line.send().kind, ExchangeOutcome::Kind::Shown);
    EXPECT_EQ(line.send().kind, ExchangeOutcome::Kind::NoReply);
    EXPECT_EQ(line.send().kind, ExchangeOutcome::Kind::Shown);
    EXPECT_EQ(line.noReply, 1);
}

TEST(SimulatorFaults, EchoComesBeforeTheAnswer) {
    SimLine line({"--echo"});
    EXPECT_EQ(line.send().display, "*01D\r01D+0023.4\r");
    // Scheduled with the other faults, on the requests: a silent unit's line echoes too.
    SimLine every({"--silent", "--echo", "--fault-every", "2"});
    EXPECT_EQ(every.send().record.reply, Bytes{});
    EXPECT_EQ(every.send().record.reply, bytesOf("*01D\r"));
}

TEST(SimulatorFaults, ALateAnswerMissesTheWaitAndIsDiscardedNextTime) {
    SimLine line({"--delay", "250", "--address", "01"});
    EXPECT_EQ(line.send().kind, ExchangeOutcome::Kind::NoReply);  // waits 160 ms only
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    // The late answer arrived meanwhile; the next exchange clears it first,
    // and its own answer is late again.
    EXPECT_EQ(line.send().kind, ExchangeOutcome::Kind::NoReply);
    EXPECT_EQ(line.noReply, 2);
}

TEST(SimulatorFaults, EachFaultEarnsItsVerdict) {
    const Bytes read2 = withCrc({1, 3, 0, 0, 0, 2});
    const Bytes iso = hexBytes({0x01, 0x30, 0x31, 0x02, 0x30, 0x44, 0x03, 0x77});
    const Bytes korvel = bytesOf("*01D\r");
    const struct {
        const char *name;
        Protocol protocol;
        Bytes request;
        Faults faults;
        const char *verdict;
    } rows[] = {
        {"modbus as is", Protocol::Modbus, read2, {}, "ok"},
        {"modbus exception", Protocol::Modbus, read2, {.exception = 4}, "exception"},
        {"modbus other address", Protocol::Modbus, read2, {.wrongAddress = true}, "other-address"},
        {"modbus bad CRC", Protocol::Modbus, read2, {.badCheck = true}, "bad-check"},
        {"modbus short", Protocol::Modbus, read2, {.shortTo = 4}, "incomplete"},
        {"modbus stray", Protocol::Modbus, read2, {.stray = {0x14, 0xDA}}, "stray-prefix"},
        {"modbus broadcast write", Protocol::Modbus, withCrc({0, 6, 0, 1, 0, 9}), {}, "ok"},
        {"iso as is", Protocol::Iso1745, iso, {}, "ok"},
        {"iso NAK", Protocol::Iso1745, iso, {.exception = 1}, "exception"},
        {"iso other address", Protocol::Iso1745, iso, {.wrongAddress = true}, "other-address"},
        {"iso bad BCC", Protocol::Iso1745, iso, {.badCheck = true}, "bad-check"},
        {"iso short", Protocol::Iso1745, iso, {.shortTo = 3}, "incomplete"},
        {"korvel short", Protocol::Korvel, korvel, {.shortTo = 3}, "incomplete"},
    };
    for (const auto &row : rows) {
        Instrument instrument(1);
        const Bytes answer =
            row.faults.apply(row.request, instrument.answer(row.request).value_or(Bytes{}));
        const Verdict verdict =
            judgeReply(static_cast<std::uint8_t>(row.protocol), row.request, answer);
        EXPECT_STREQ(verdictKey(verdict.kind), row.verdict) << row.name << ": " << toHex(answer);
    }
}

TEST(SimulatorFaults, DelayAndSlowBytesAreTimedAsTheyArrive) {
    SimLine line({"--delay", "60", "--slow", "5"});
    const ExchangeOutcome outcome = line.send();
    const ExchangeRecord &record = outcome.record;
    ASSERT_TRUE(record.firstByteMs() && record.lastByteMs()) << outcome.failure;
    // The simulator first waits out a 5 ms quiet line to end the request.
    // A busy machine (the suite runs in parallel) wakes either side late.
    constexpr double kWakeUpSlack = 5;
    constexpr double kBusyMachine = 40;
    EXPECT_GE(*record.firstByteMs(), 60 + 5 - kWakeUpSlack);
    EXPECT_LT(*record.firstByteMs(), 60 + 5 + kBusyMachine);
    EXPECT_GE(*record.lastByteMs() - *record.firstByteMs(), 10 * 5 - kWakeUpSlack);
    EXPECT_LT(*record.lastByteMs() - *record.firstByteMs(), 10 * 5 + kBusyMachine);
    EXPECT_EQ(outcome.display, textOf(record.reply));
    EXPECT_EQ(outcome.display, "01D+0023.4\r");
}

}  // namespace
}  // namespace marvalo
