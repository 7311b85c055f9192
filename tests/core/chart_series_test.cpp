#include <gtest/gtest.h>

#include <bit>
#include <cmath>

#include "core/chart/axis_scale.h"
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

TEST(AxisScale, RoundTicksOverTheValuesNegativesIncluded) {
    const struct {
        double lowest, highest;
        int mostTicks;
        double low, high, step;
        const char *lowText;
    } rows[] = {
        {-5, 5, 6, -5, 5, 5, "-5"},         // a signed sine: both humps
        {15, 25, 6, 15, 25, 5, "15"},       // an f32 of 20 ± 5: not from 0
        {0.13, 0.87, 5, 0, 1, 0.5, "0.0"},  // 1, 2 or 5 times a power of ten
        {6.3, 6.9, 6, 6.2, 7, 0.2, "6.2"},
        {42, 42, 5, 35, 50, 5, "35"},  // one value alone: an axis around it
        {0, 4294967295, 6, 0, 5e9, 1e9, "0"},
        {-2147483648.0, -2147483648.0, 5, -2.4e9, -1.8e9, 2e8, "-2400000000"},
        {NAN, 3, 5, 0, 1, 0.5, "0.0"},  // nothing finite: a plain 0 to 1
    };
    for (const auto &row : rows) {
        const AxisScale scale = roundAxis(row.lowest, row.highest, row.mostTicks);
        const std::string name = std::to_string(row.lowest) + " .. " + std::to_string(row.highest);
        EXPECT_NEAR(scale.low, row.low, 1e-9 * std::abs(row.step)) << name;
        EXPECT_NEAR(scale.high, row.high, 1e-9 * std::abs(row.step)) << name;
        EXPECT_NEAR(scale.step, row.step, 1e-12 * std::abs(row.step)) << name;
        EXPECT_LE(static_cast<int>(scale.ticks.size()), row.mostTicks) << name;
        if (std::isfinite(row.lowest)) {
            EXPECT_LE(scale.low, row.lowest) << name;
            EXPECT_GE(scale.high, row.highest) << name;
        }
        EXPECT_EQ(tickText(scale.ticks.front(), scale.step), row.lowText) << name;
    }
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
