#pragma once

#include <cstdint>
#include <string>

namespace marvalo {

// Wall-clock instants (microseconds since the Unix epoch) in local time:
// "2026-12-07T13:22:00.123+01:00" for files, "13:22:00.123" for people.
std::string iso8601(std::int64_t wallUs);
std::string clockTime(std::int64_t wallUs);

}  // namespace marvalo
