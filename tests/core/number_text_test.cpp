#include "core/text/number_text.h"

#include <gtest/gtest.h>

namespace marvalo {
namespace {

TEST(ParseDecimal, AcceptsSignsDigitsAndSurroundingBlanks) {
    const std::pair<const char *, long> rows[] = {
        {"0", 0},       {"511", 511}, {"+7", 7},  {"-1", -1},
        {"  42  ", 42}, {"\t9", 9},   {"007", 7}, {"99999999999999999999", 1'000'000'000},
    };
    for (const auto &[text, expected] : rows) {
        const auto value = parseDecimal(text);
        ASSERT_TRUE(value.has_value()) << '"' << text << '"';
        EXPECT_EQ(*value, expected) << '"' << text << '"';
    }
}

TEST(ParseDecimal, RefusesEverythingElse) {
    for (const char *text :
         {"", " ", "+", "-", "1.5", "12abc", "&H10", "0x10", "1 2", "--1", "1e3", "٣"}) {
        EXPECT_FALSE(parseDecimal(text).has_value()) << '"' << text << '"';
    }
}

}  // namespace
}  // namespace marvalo
