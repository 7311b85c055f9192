#include "core/scan/bus_scan.h"

#include <gtest/gtest.h>

#include <tuple>

#include "core/frames/line_timing.h"
#include "core/settings/panel_state.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::hexBytes;

// Worked by hand: 3.5 characters of 11 bits at 9600 baud are 4010.4 us;
// a probe of 8 bytes and its answer of 7, 17187.5 us. The long wait is for
// 3 reading 125 registers (8 + 255 bytes), in a single exchange.
TEST(LineTiming, FollowsTheRateAndHoldsStillAbove19200) {
    const struct {
        int baud, bits;
        std::int64_t gapUs, withinUs;
        int holdMs, longWaitMs;
    } rows[] = {
        {9600, 11, 4011, 17188 + 4011 + 20000, 30, 1451},  // the panel's hold
        {19200, 10, 1823, 7813 + 1823 + 20000, 25, 1287},
        {19201, 10, 1750, 7813 + 1750 + 20000, 2, 1287},
        {250000, 11, 1750, 660 + 1750 + 20000, 2, 1162},
        {1200, 10, 29167, 125000 + 29167 + 20000, 80, 3342},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(frameGapUs(row.baud, row.bits), row.gapUs) << row.baud;
        EXPECT_EQ(replyWithinUs(row.baud, row.bits, 8, 7), row.withinUs) << row.baud;
        EXPECT_EQ(rs485HoldMsAt(row.baud, row.bits), row.holdMs) << row.baud;
        EXPECT_EQ(replyWaitMsFor(row.baud, row.bits, ExchangeMode::Single, 8 + 255), row.longWaitMs)
            << row.baud;
    }
    for (std::size_t i = 0; i < kBaudCount; ++i) {  // the panel's rates: its own waits
        const int baud = kBaudRates[i].bitsPerSecond;
        for (ExchangeMode mode : {ExchangeMode::Single, ExchangeMode::Continuous}) {
            EXPECT_EQ(replyWaitMsAt(baud, mode), replyWaitMs(static_cast<int>(i), mode));
            EXPECT_EQ(replyWaitMsFor(baud, 10, mode, 8 + 7),
                      replyWaitMs(static_cast<int>(i), mode));
        }
    }
}

// Frames a Modbus peer accepts: 01 03 00 00 00 01 84 0A, and what comes back.
TEST(ScanProbe, AsksRegisterZeroAndNamesTheAnswer) {
    const ScanProbe probe = *scanProbe(3);
    EXPECT_EQ(probeRequest(probe, 1), hexBytes({0x01, 0x03, 0, 0, 0, 1, 0x84, 0x0A}));
    EXPECT_FALSE(scanProbe(16)) << "a scan never writes";
    const Bytes asked = probeRequest(probe, 0x11);
    const auto behindEcho = [&](Bytes answer) {
        answer.insert(answer.begin(), asked.begin(), asked.end());
        return answer;
    };
    const std::pair<Bytes, std::optional<std::string>> rows[] = {
        {hexBytes({0x11, 0x03, 0x02, 0x00, 0x2A, 0xF8, 0x58}), "registro 0 = 42"},
        {asked, std::nullopt},  // our own probe heard back
        {behindEcho(hexBytes({0x11, 0x03, 0x02, 0x00, 0x2A, 0xF8, 0x58})), "registro 0 = 42"},
        {hexBytes({0x11, 0x83, 0x02, 0xC1, 0x34}), "excepción 02: dirección de datos no permitida"},
        {hexBytes({0x11, 0x03, 0x02, 0x00, 0x2A, 0xF8, 0x59}), std::nullopt},  // its CRC
        {hexBytes({0x12, 0x03, 0x02, 0x00, 0x2A, 0xBC, 0x58}), std::nullopt},  // a late other
    };
    for (const auto &[reply, answered] : rows)
        EXPECT_EQ(whatAnswered(probe, asked, reply), answered) << toHex(reply);
    // Identification: the server id (17) and the basic objects (43/14).
    EXPECT_EQ(probeRequest(*scanProbe(17), 1), testing::fromHex("01 11 C0 2C"));
    EXPECT_EQ(probeRequest(*scanProbe(43), 1), testing::fromHex("01 2B 0E 01 00 70 77"));
    const std::tuple<int, const char *, const char *> identities[] = {
        {17, "11 11 05 0A FF 4B 2D 31 85 18", "id 0A, en marcha, \"K-1\""},
        {17, "11 11 02 0A 00 7A 5F", "id 0A, parado"},
        {43, "11 2B 0E 01 01 00 00 02 00 03 41 43 4D 01 02 58 31 36 80",
         "VendorName \"ACM\", ProductCode \"X1\""},
    };
    for (const auto &[function, reply, answered] : identities)
        EXPECT_EQ(whatAnswered(*scanProbe(function), probeRequest(*scanProbe(function), 0x11),
                               testing::fromHex(reply)),
                  answered);
}

}  // namespace
}  // namespace marvalo
