#pragma once

#include <string>
#include <string_view>

#include "core/frames/line_timing.h"
#include "core/line/line_types.h"
#include "core/result.h"

namespace marvalo {

// A settings string such as " 9600,e,7,1", parsed once and passed around as
// a value. The rate may carry a leading blank (the baud list's items do) and
// the parity letter may be in either case; this is all the panel builds.
struct LineSettings {
    using Parity = marvalo::Parity;
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    int stopBits = 1;

    bool operator==(const LineSettings &) const = default;
};

// On failure: a Spanish sentence naming the part of the string that is wrong
// and what it may be.
Result<LineSettings, std::string> parseLineSettings(std::string_view text);

// kMinBaud .. kMaxBaud; whether the adapter can is known only when it is set.
bool isSupportedBaud(long baud);

}  // namespace marvalo
