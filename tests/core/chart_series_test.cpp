#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "core/frames/check_codes.h"
#include "core/records/register_series.h"
#include "tests/hex_bytes.h"

namespace marvalo {
namespace {

using testing::fromHex;

Bytes withCrc(Bytes frame) {
    const Bytes crc = CalcCRC(frame);
    frame.insert(frame.end(), crc.begin(), crc.end());
    return frame;
}

TEST(RegisterSeries, OneRegisterOutOfAGoodReadReply) {
    const Bytes request = withCrc(fromHex("01 03 00 0A 00 03"));
    const Bytes reply = withCrc(fromHex("01 03 06 FF FE 00 2A C2 C8"));
    Bytes damaged = reply;
    damaged.back() ^= 1;
    ASSERT_FALSE(readSpan(request, damaged)) << "a bad CRC gives no values";
    ASSERT_FALSE(readSpan(withCrc(fromHex("01 10 00 0A 00 03")), reply)) << "a write";
    const auto span = readSpan(request, reply);
    ASSERT_TRUE(span);
    EXPECT_EQ(*span, (ReadSpan{10, 3}));
    const struct {
        const char *view;
        int number;
        double value;  // NaN: none
    } rows[] = {
        {"u16", 10, 65534},
        {"s16", 10, -2},
        {"hex", 11, 42},
        {"u16", 9, NAN},
        {"u16", 13, NAN},
        {"text", 10, NAN},
        {"u32", 10, 4294836266},
        {"s32", 10, -131030},
        {"u32:CDAB", 10, 2818046},
        {"u32", 11, NAN},
        {"u32", 12, 0xC2C8},  // the odd last one, alone
        {"s32:BADC", 10, -16832000},
        {"f32:DCBA", 10, static_cast<double>(std::bit_cast<float>(0x2A00FEFFU))},
    };
    for (const auto &row : rows) {
        const RegisterView view = parseRegisterView(row.view).value();
        const auto value = registerValueIn(reply, *span, view, row.number);
        const std::string name = std::string(row.view) + " reg " + std::to_string(row.number);
        if (std::isnan(row.value)) {
            EXPECT_TRUE(!value || std::isnan(*value)) << name;
        } else {
            ASSERT_TRUE(value) << name;
            EXPECT_EQ(*value, row.value) << name;
        }
    }
    EXPECT_EQ(chartableRegisters({{10, 3}, {10, 3}, {40, 2}}, parseRegisterView("u16").value()),
              (std::vector<int>{10, 11, 12, 40, 41}));
    EXPECT_EQ(chartableRegisters({{10, 3}, {40, 2}}, parseRegisterView("f32").value()),
              (std::vector<int>{10, 12, 40}));
}

}  // namespace
}  // namespace marvalo
