#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <string_view>

#include "core/frames/bytes.h"

namespace marvalo::testing {

// Compare frames as hex text so a wrong byte or byte order shows at a glance.
inline ::testing::AssertionResult sameBytes(const Bytes &actual, const Bytes &expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "\n  got:      " << toHex(actual) << "\n  expected: " << toHex(expected);
}

inline Bytes hexBytes(std::initializer_list<int> values) {
    Bytes bytes;
    for (int v : values) {
        bytes.push_back(static_cast<std::uint8_t>(v));
    }
    return bytes;
}

}  // namespace marvalo::testing

namespace marvalo::testing {

// "01 03 C4 0B" as written in the frame tables.
inline Bytes fromHex(std::string_view hex) {
    return bytesFromHexText(hex).value();
}

}  // namespace marvalo::testing
