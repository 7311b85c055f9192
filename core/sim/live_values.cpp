#include "core/sim/live_values.h"

#include <bit>
#include <cmath>
#include <numbers>

namespace marvalo::sim {
namespace {

struct IntegerRange {
    double low, high;
};

std::optional<IntegerRange> integerRange(RegisterFormat format) {
    switch (format) {
        case RegisterFormat::U16:
            return IntegerRange{0, 65535};
        case RegisterFormat::S16:
            return IntegerRange{-32768, 32767};
        case RegisterFormat::U32:
            return IntegerRange{0, 4294967295.0};
        case RegisterFormat::S32:
            return IntegerRange{-2147483648.0, 2147483647};
        default:
            return std::nullopt;
    }
}

// splitmix64: one well-mixed number a request, repeatable from the seed.
std::uint64_t mixed(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

}  // namespace

double drawnFraction(std::uint64_t seed, std::uint64_t n) {
    return static_cast<double>(mixed(seed * 0x100000001B3ULL + n) >> 11) /
           9007199254740992.0;  // 2^53
}

std::optional<std::string> valueProblem(double value, RegisterFormat format) {
    if (!std::isfinite(value))
        return "no es finito";
    if (const auto range = integerRange(format)) {
        if (value != std::floor(value) || value < range->low || value > range->high)
            return "se admite un entero de " + std::to_string(static_cast<long long>(range->low)) +
                   " a " + std::to_string(static_cast<long long>(range->high));
    } else if (std::fabs(value) > 3.4028234663852886e38) {
        return "se admite un número de 32 bits (hasta 3.4e38)";
    }
    return std::nullopt;
}

std::vector<std::uint16_t> wordsOf(double value, RegisterView view) {
    std::uint32_t bits = 0;
    if (view.format == RegisterFormat::F32) {
        bits = std::bit_cast<std::uint32_t>(static_cast<float>(value));
    } else {
        // Two's complement at the format's width: wrapping is exact in 64 bits.
        const double whole = std::isfinite(value) ? std::round(value) : 0;
        const double span = 18446744073709551616.0;  // 2^64
        const double reduced = std::fmod(whole, span);
        bits = static_cast<std::uint32_t>(
            reduced < 0 ? static_cast<std::uint64_t>(static_cast<std::int64_t>(reduced))
                        : static_cast<std::uint64_t>(reduced));
    }
    if (!isWideFormat(view.format))
        return {static_cast<std::uint16_t>(bits)};
    const std::uint16_t high = static_cast<std::uint16_t>(bits >> 16);
    const std::uint16_t low = static_cast<std::uint16_t>(bits);
    auto swapped = [](std::uint16_t word) {
        return static_cast<std::uint16_t>((word << 8) | (word >> 8));
    };
    switch (view.order) {
        case WordOrder::ABCD:
            return {high, low};
        case WordOrder::CDAB:
            return {low, high};
        case WordOrder::BADC:
            return {swapped(high), swapped(low)};
        case WordOrder::DCBA:
            return {swapped(low), swapped(high)};
    }
    return {high, low};
}

double valueAt(const LiveValue &live, std::uint64_t requests, double seconds) {
    switch (live.behaviour) {
        case Behaviour::Constant:
            return live.value;
        case Behaviour::Counter:
            return live.value + live.step * static_cast<double>(requests);
        case Behaviour::Ramp:
            return live.value + live.step * seconds;
        case Behaviour::Sine: {
            const double turns = live.periodRequests
                                     ? static_cast<double>(requests % static_cast<std::uint64_t>(
                                                                          *live.periodRequests)) /
                                           *live.periodRequests
                                     : seconds / live.periodS;
            const double wave = live.mean + live.amplitude * std::sin(2 * std::numbers::pi * turns);
            return isWideFormat(live.view.format) && live.view.format == RegisterFormat::F32
                       ? wave
                       : std::round(wave);
        }
        case Behaviour::Random: {
            const double unit = drawnFraction(live.seed, requests);
            const double drawn = live.min + unit * (live.max - live.min);
            return live.view.format == RegisterFormat::F32 ? drawn : std::round(drawn);
        }
    }
    return live.value;
}

}  // namespace marvalo::sim
