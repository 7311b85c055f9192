#include "core/frames/reply.h"

#include <gtest/gtest.h>

#include "core/settings/panel_state.h"
#include "core/text/latin1.h"

namespace marvalo {
namespace {

TEST(ReplyWait, FiveRatesBothModes) {
    const struct {
        int baudIndex;
        int single;
        int continuous;
    } rows[] = {{0, 1317, 317}, {1, 1233, 233}, {2, 1192, 192}, {3, 1171, 171}, {4, 1160, 160}};
    for (const auto &row : rows) {
        EXPECT_EQ(replyWaitMs(row.baudIndex, ExchangeMode::Single), row.single) << row.baudIndex;
        EXPECT_EQ(replyWaitMs(row.baudIndex, ExchangeMode::Continuous), row.continuous)
            << row.baudIndex;
    }
}

TEST(ModbusRendering, EveryByteFollowedByADot) {
    EXPECT_EQ(renderModbusReply({1, 3, 2, 0, 10}), "1.3.2.0.10.");
    EXPECT_EQ(renderModbusReply({255}), "255.");
    EXPECT_EQ(renderModbusReply({}), "");
}

TEST(ModbusRendering, LongRepliesAreRenderedInFull) {
    for (std::size_t length : {254u, 255u, 256u, 300u}) {
        const Bytes reply(length, 7);
        EXPECT_EQ(renderModbusReply(reply).size(), 2 * length) << length << " bytes";
    }
}

TEST(Latin1, RoundTripsEveryByte) {
    Bytes all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<std::uint8_t>(b));
    const Latin1Result back = latin1FromUtf8(utf8FromLatin1(all));
    ASSERT_FALSE(back.failure.has_value());
    EXPECT_EQ(back.bytes, all);
}

TEST(Latin1, RefusesWhatHasNoByte) {
    for (const char *text : {"€", "a\xc3", "\xc0\x80", "\xed\xa0\x80", "𝄞"}) {
        EXPECT_TRUE(latin1FromUtf8(text).failure.has_value()) << text;
    }
}

TEST(PanelTables, CaptionsAndAddressTexts) {
    EXPECT_EQ(portCaption(2), "COM 3");
    EXPECT_EQ(addressText(0), "00");
    EXPECT_EQ(addressText(9), "09");
    EXPECT_EQ(addressText(10), "10");
    EXPECT_EQ(kPortItems[1], " 2  ");
    EXPECT_EQ(kModbusFunctions[1].itemText, "Escribir Variables de Prog  ");
    PanelState state;
    fillRs485Hold(state);
    EXPECT_EQ(state.rs485Hold, (std::array<std::int16_t, 5>{80, 60, 30, 30, 25}));
}

}  // namespace
}  // namespace marvalo
