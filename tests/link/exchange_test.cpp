#include "link/exchange.h"

#include <gtest/gtest.h>

#include "link/fake_port.h"

namespace marvalo {
namespace {

constexpr std::uint8_t kRs232 = 0;
constexpr std::uint8_t kRs485 = 1;

// "*01D" CR and a plausible reading.
const std::string kKorvelWrite = "write 2A 30 31 44 0D";
const Bytes kReading = bytesOf("01D+0023.4\r");

struct Rig {
    OperationLog log;
    FakePort port{log};
    FakeSleeper sleeper{log};
    std::int32_t noReplyCount = 0;

    ExchangeOutcome run(const ExchangeSetup &setup) {
        return runExchange(port, sleeper, setup, noReplyCount);
    }
};

ExchangeSetup korvel(ExchangeMode mode, std::uint8_t link, int baudIndex = 3,
                     int baudSelection = 3) {
    ExchangeSetup setup;
    setup.mode = mode;
    setup.protocol = 0;
    setup.linkType = link;
    setup.baudIndex = static_cast<std::uint8_t>(baudIndex);
    setup.baudSelection = baudSelection;
    setup.rs485Hold = {80, 60, 30, 30, 25};
    setup.inputs.addressText = "01";
    setup.inputs.addressNumber = 1;
    setup.inputs.instructionText = "D";
    return setup;
}

std::string joined(const OperationLog &log) {
    std::string text;
    for (const auto &entry : log)
        text += (text.empty() ? "" : " | ") + entry;
    return text;
}

TEST(Exchange, OrderOfOperationsAndWaits) {
    const struct {
        const char *name;
        ExchangeSetup setup;
        OperationLog expected;
        bool kernelRs485 = false;
    } rows[] = {
        {"RS232 single: one clear, RTS untouched",
         korvel(ExchangeMode::Single, kRs232),
         {"open", "clear", kKorvelWrite, "sleep 1171", "read", "close"}},
        {"RS232 continuous: 1000 ms shorter",
         korvel(ExchangeMode::Continuous, kRs232),
         {"open", "clear", kKorvelWrite, "sleep 171", "read", "close"}},
        {"RS485 single: RTS 50 ms ahead, hold, drain, drop, second clear",
         korvel(ExchangeMode::Single, kRs485),
         {"open", "clear", "rts on", "sleep 50", kKorvelWrite, "sleep 30", "drain", "rts off",
          "clear", "sleep 1171", "read", "close"}},
        {"RS485 continuous at 19200",
         korvel(ExchangeMode::Continuous, kRs485, 4, 4),
         {"open", "clear", "rts on", "sleep 50", kKorvelWrite, "sleep 25", "drain", "rts off",
          "clear", "sleep 160", "read", "close"}},
        {"hold follows the list, wait follows the start-up rate",
         korvel(ExchangeMode::Single, kRs485, 3, 0),
         {"open", "clear", "rts on", "sleep 50", kKorvelWrite, "sleep 80", "drain", "rts off",
          "clear", "sleep 1171", "read", "close"}},
        {"RS485 switched by the driver: no timed RTS, still drained and cleared",
         korvel(ExchangeMode::Single, kRs485),
         {"open", "clear", kKorvelWrite, "drain", "clear", "sleep 1171", "read", "close"},
         true},
    };
    for (const auto &row : rows) {
        Rig rig;
        rig.port.queueReply(kReading);
        rig.port.switchRs485InKernel(row.kernelRs485);
        const ExchangeOutcome outcome = rig.run(row.setup);
        EXPECT_EQ(joined(rig.log), joined(row.expected)) << row.name;
        EXPECT_EQ(outcome.kind, ExchangeOutcome::Kind::Shown) << row.name;
        EXPECT_EQ(outcome.display, textOf(kReading)) << row.name;
        EXPECT_FALSE(rig.port.portOpen()) << row.name;
        EXPECT_FALSE(rig.port.rtsRaised()) << row.name;
    }
}

TEST(Exchange, FiveReplyWaitsInBothModes) {
    const int single[] = {1317, 1233, 1192, 1171, 1160};
    for (int baud = 0; baud < 5; ++baud) {
        for (ExchangeMode mode : {ExchangeMode::Single, ExchangeMode::Continuous}) {
            Rig rig;
            rig.port.queueReply(kReading);
            (void)rig.run(korvel(mode, kRs232, baud, baud));
            const int expected = single[baud] - (mode == ExchangeMode::Continuous ? 1000 : 0);
            EXPECT_EQ(rig.log[3], "sleep " + std::to_string(expected)) << "baud index " << baud;
        }
    }
}

TEST(Exchange, EmptyContinuousReplyIsCountedAndKeepsThePortOpen) {
    Rig rig;
    const ExchangeSetup setup = korvel(ExchangeMode::Continuous, kRs232);
    const ExchangeOutcome first = rig.run(setup);
    EXPECT_EQ(first.kind, ExchangeOutcome::Kind::NoReply);
    EXPECT_EQ(first.noReplyCount, 1);
    EXPECT_TRUE(rig.port.portOpen());

    rig.log.clear();
    const ExchangeOutcome second = rig.run(setup);
    EXPECT_EQ(second.noReplyCount, 2);
    EXPECT_EQ(joined(rig.log), joined({"clear", kKorvelWrite, "sleep 171", "read"}))
        << "the open port is reused, not reopened";

    rig.log.clear();
    rig.port.queueReply(kReading);
    const ExchangeOutcome third = rig.run(setup);
    EXPECT_EQ(third.kind, ExchangeOutcome::Kind::Shown);
    EXPECT_EQ(joined(rig.log), joined({"clear", kKorvelWrite, "sleep 171", "read", "close"}));
    EXPECT_EQ(rig.noReplyCount, 2);
}

TEST(Exchange, EmptySingleReplyClearsTheDisplayAndIsNotCounted) {
    Rig rig;
    rig.noReplyCount = 5;
    const ExchangeOutcome outcome = rig.run(korvel(ExchangeMode::Single, kRs232));
    EXPECT_EQ(outcome.kind, ExchangeOutcome::Kind::Shown);
    EXPECT_EQ(outcome.display, "");
    EXPECT_EQ(rig.noReplyCount, 5);
    EXPECT_FALSE(rig.port.portOpen());
}

TEST(Exchange, CounterStopsAtItsMaximum) {
    Rig rig;
    rig.noReplyCount = kMaxNoReplyCount - 1;
    const ExchangeSetup setup = korvel(ExchangeMode::Continuous, kRs232);
    EXPECT_FALSE(rig.run(setup).counterAtMaximum);
    EXPECT_EQ(rig.noReplyCount, kMaxNoReplyCount);
    const ExchangeOutcome atMax = rig.run(setup);
    EXPECT_TRUE(atMax.counterAtMaximum);
    EXPECT_EQ(atMax.noReplyCount, kMaxNoReplyCount);
    EXPECT_EQ(rig.noReplyCount, kMaxNoReplyCount);
}

TEST(Exchange, RepliesAreRenderedPerProtocol) {
    Bytes twoHundredFiftyFive(255, 0x11);
    const struct {
        const char *name;
        std::uint8_t protocol;
        Bytes reply;
        std::string expected;
    } rows[] = {
        {"modbus bytes", 2, {1, 3, 2, 0, 10}, "1.3.2.0.10."},
        {"modbus 255", 2, {255}, "255."},
        {"modbus 255-byte reply in full", 2, twoHundredFiftyFive,
         [] {
             std::string s;
             for (int i = 0; i < 255; ++i)
                 s += "17.";
             return s;
         }()},
        {"korvel as read, control characters included", 0,
         bytesOf("\x02"
                 "01\r\n\x7f"),
         "\x02"
         "01\r\n\x7f"},
        {"iso 1745 as read, high bytes included", 1, {0x02, 0xB0, 0xFF, 0x03}, "\x02\xB0\xFF\x03"},
    };
    for (const auto &row : rows) {
        Rig rig;
        ExchangeSetup setup = korvel(ExchangeMode::Single, kRs232);
        setup.protocol = row.protocol;
        setup.inputs.instructionText = row.protocol == 2 ? "0" : "D";
        setup.inputs.wordCountText = "1";
        rig.port.queueReply(row.reply);
        const ExchangeOutcome outcome = rig.run(setup);
        ASSERT_EQ(outcome.kind, ExchangeOutcome::Kind::Shown)
            << row.name << ": " << outcome.failure;
        EXPECT_EQ(outcome.display, row.expected) << row.name;
        EXPECT_FALSE(rig.port.portOpen()) << row.name;
    }
}

TEST(Exchange, Rs485DiscardsItsOwnEchoButRs232ShowsIt) {
    for (std::uint8_t link : {kRs232, kRs485}) {
        Rig rig;
        rig.port.echoWrites(true);
        rig.port.receiveNow(bytesOf("stale"));
        rig.port.queueReply(kReading);
        const ExchangeOutcome outcome = rig.run(korvel(ExchangeMode::Single, link));
        const std::string echoed = link == kRs232 ? "*01D\r" : "";
        EXPECT_EQ(outcome.display, echoed + textOf(kReading)) << "link " << int(link);
    }
}

TEST(Exchange, FailuresCloseThePortDropRtsAndSayWhy) {
    using Op = FakePort::Op;
    using Kind = LinkError::Kind;
    const struct {
        const char *name;
        std::uint8_t link;
        Op op;
        Kind kind;
        OperationLog expected;
        bool nothingWritten;
    } rows[] = {
        {"open refused", kRs232, Op::Open, Kind::Busy, {"open"}, true},
        {"clear fails", kRs232, Op::Clear, Kind::Io, {"open", "clear", "close"}, true},
        {"no RTS line",
         kRs485,
         Op::Rts,
         Kind::NoRts,
         {"open", "clear", "rts on", "rts off", "close"},
         true},
        {"write fails on RS485",
         kRs485,
         Op::Write,
         Kind::Vanished,
         {"open", "clear", "rts on", "sleep 50", kKorvelWrite, "rts off", "close"},
         false},
        {"drain fails",
         kRs485,
         Op::Drain,
         Kind::Io,
         {"open", "clear", "rts on", "sleep 50", kKorvelWrite, "sleep 30", "drain", "rts off",
          "close"},
         false},
        {"device vanishes before the read",
         kRs232,
         Op::Read,
         Kind::Vanished,
         {"open", "clear", kKorvelWrite, "sleep 1171", "read", "close"},
         false},
    };
    for (const auto &row : rows) {
        Rig rig;
        rig.port.failNext(row.op, row.kind);
        const ExchangeOutcome outcome = rig.run(korvel(ExchangeMode::Single, row.link));
        EXPECT_EQ(outcome.kind, ExchangeOutcome::Kind::Failed) << row.name;
        EXPECT_EQ(joined(rig.log), joined(row.expected)) << row.name;
        EXPECT_FALSE(rig.port.portOpen()) << row.name;
        EXPECT_FALSE(rig.port.rtsRaised()) << row.name;
        EXPECT_EQ(outcome.nothingWritten, row.nothingWritten) << row.name;
        EXPECT_NE(outcome.failure.find("COM 1"), std::string::npos) << outcome.failure;
        EXPECT_EQ(rig.noReplyCount, 0);
    }
}

TEST(Exchange, RejectedRequestOrMissingBaudNeverTouchesThePort) {
    Rig rig;
    ExchangeSetup rejected = korvel(ExchangeMode::Continuous, kRs232);
    rejected.protocol = 2;
    rejected.inputs.instructionText = "600";
    const ExchangeOutcome first = rig.run(rejected);
    EXPECT_EQ(first.kind, ExchangeOutcome::Kind::Failed);
    EXPECT_NE(first.failure.find("entre 0 y 511"), std::string::npos);

    const ExchangeOutcome second = rig.run(korvel(ExchangeMode::Single, kRs485, 3, -1));
    EXPECT_EQ(second.kind, ExchangeOutcome::Kind::Failed);
    EXPECT_NE(second.failure.find("Baud Rate"), std::string::npos);
    EXPECT_TRUE(rig.log.empty()) << joined(rig.log);
}

TEST(Exchange, FailureAfterAnEmptyContinuousReplyClosesTheKeptPort) {
    Rig rig;
    const ExchangeSetup setup = korvel(ExchangeMode::Continuous, kRs232);
    (void)rig.run(setup);
    ASSERT_TRUE(rig.port.portOpen());
    rig.port.failNext(FakePort::Op::Write, LinkError::Kind::Vanished);
    const ExchangeOutcome outcome = rig.run(setup);
    EXPECT_EQ(outcome.kind, ExchangeOutcome::Kind::Failed);
    EXPECT_FALSE(rig.port.portOpen());
    EXPECT_EQ(rig.noReplyCount, 1);
}

TEST(Exchange, RecordTimesTheReplyAsItArrivesWithoutShorteningTheWait) {
    const std::vector<TimedBytes> twoPieces = {{5, bytesOf("01D+")}, {12, bytesOf("0023.4\r")}};
    const struct {
        const char *name;
        std::uint8_t link;
        bool endWhenComplete;
        std::vector<TimedBytes> pieces;  // after the write
        const char *log;                 // after the write
        double firstByteMs, lastByteMs;  // after the request left
        double durationMs;
    } rows[] = {
        {"RS232: the wait runs whole", kRs232, false, twoPieces,
         "sleep 5 | read | sleep 7 | read | sleep 159 | read | close", 5, 12, 171},
        {"RS232: ending once the line is complete", kRs232, true, twoPieces,
         "sleep 5 | read | sleep 7 | read | close", 5, 12, 12},
        {"RS485: the echo in the hold is dropped, times count from the drain",
         kRs485,
         false,
         {{5, bytesOf("*01D\r")}, {37, kReading}},
         "sleep 30 | drain | rts off | clear | sleep 7 | read | sleep 164 | read | close",
         7,
         7,
         50 + 30 + 171},
    };
    for (const auto &row : rows) {
        Rig rig;
        rig.port.queueTimedReply(row.pieces);
        ExchangeSetup setup = korvel(ExchangeMode::Continuous, row.link);
        setup.sequence = 7;
        setup.endWhenComplete = row.endWhenComplete;
        const ExchangeOutcome outcome = rig.run(setup);
        const std::string log = joined(rig.log);
        EXPECT_EQ(log.substr(log.find(kKorvelWrite) + std::string(kKorvelWrite).size() + 3),
                  row.log)
            << row.name;
        const ExchangeRecord &record = outcome.record;
        EXPECT_EQ(record.sequence, 7U);
        EXPECT_EQ(record.port, "COM 1 (fake)");
        EXPECT_EQ(toHex(record.request), "2A 30 31 44 0D");
        EXPECT_EQ(record.firstByteMs(), row.firstByteMs) << row.name;
        EXPECT_EQ(record.lastByteMs(), row.lastByteMs) << row.name;
        EXPECT_EQ(record.durationMs(), row.durationMs) << row.name;
        EXPECT_EQ(outcome.display, textOf(kReading)) << row.name;
        EXPECT_EQ(record.reply, kReading) << row.name;
        EXPECT_STREQ(verdictKey(record.verdict->kind), "ok") << row.name;
    }
    Rig rig;
    rig.port.failNext(FakePort::Op::Wait, LinkError::Kind::Vanished);
    const ExchangeRecord failed = rig.run(korvel(ExchangeMode::Single, kRs232)).record;
    EXPECT_TRUE(failed.failure && failed.lineSawRequest && !failed.verdict);
}

}  // namespace
}  // namespace marvalo
