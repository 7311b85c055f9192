#include "core/text/time_text.h"

#include <cstdio>
#include <ctime>

namespace marvalo {
namespace {

constexpr std::int64_t kUsPerSecond = 1'000'000;
constexpr std::int64_t kUsPerMs = 1'000;

struct Split {
    struct tm local {};
    int milliseconds = 0;
};

Split split(std::int64_t wallUs) {
    Split parts;
    const auto seconds = static_cast<std::time_t>(wallUs / kUsPerSecond);
    ::localtime_r(&seconds, &parts.local);
    parts.milliseconds = static_cast<int>(wallUs % kUsPerSecond / kUsPerMs);
    return parts;
}

}  // namespace

std::string iso8601(std::int64_t wallUs) {
    const Split parts = split(wallUs);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &parts.local);
    const long offsetMinutes = parts.local.tm_gmtoff / 60;
    const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char text[64];
    std::snprintf(text, sizeof text, "%s.%03d%c%02ld:%02ld", date, parts.milliseconds,
                  offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
    return text;
}

std::string clockTime(std::int64_t wallUs) {
    const Split parts = split(wallUs);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", parts.local.tm_hour, parts.local.tm_min,
                  parts.local.tm_sec, parts.milliseconds);
    return text;
}

}  // namespace marvalo
