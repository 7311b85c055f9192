#include "core/chart/axis_scale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <utility>

namespace marvalo {

namespace {

// What the axis spans: a value alone gets a flat line in the middle of an
// axis one unit (or a tenth of the value) either side.
std::pair<double, double> span(double lowest, double highest) {
    if (!std::isfinite(lowest) || !std::isfinite(highest) || lowest > highest)
        return {0, 1};
    if (lowest == highest) {
        const double half = std::max(1.0, std::abs(lowest) / 10);
        return {lowest - half, highest + half};
    }
    return {lowest, highest};
}

long long intervals(double lowest, double highest, double step) {
    return std::llround((std::ceil(highest / step) - std::floor(lowest / step)));
}

AxisScale ticked(double lowest, double highest, double step) {
    AxisScale scale;
    scale.step = step;
    scale.low = std::floor(lowest / step) * step;
    scale.high = std::ceil(highest / step) * step;
    const long long count = std::llround((scale.high - scale.low) / scale.step);
    for (long long i = 0; i <= count; ++i) {
        // Counted from the low end, not summed: no creeping error.
        const double tick = scale.low + static_cast<double>(i) * scale.step;
        scale.ticks.push_back(std::abs(tick) < scale.step / 1e6 ? 0.0 : tick);
    }
    return scale;
}

}  // namespace

AxisScale roundAxis(double lowest, double highest, int mostTicks) {
    mostTicks = std::max(mostTicks, 2);
    std::tie(lowest, highest) = span(lowest, highest);
    const double rough = (highest - lowest) / (mostTicks - 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (const double multiple : std::array{1.0, 2.0, 5.0, 10.0, 20.0}) {
        step = multiple * power;
        if (intervals(lowest, highest, step) + 1 <= mostTicks)
            break;
    }
    return ticked(lowest, highest, step);
}

AxisScale roundHexAxis(double lowest, double highest, int mostTicks) {
    mostTicks = std::max(mostTicks, 2);
    std::tie(lowest, highest) = span(lowest, highest);
    double step = 1;
    while (intervals(lowest, highest, step) + 1 > mostTicks)
        step *= 2;
    return ticked(lowest, highest, step);
}

std::string hexTickText(double value) {
    char text[32];
    std::snprintf(text, sizeof text, value < 0 ? "-0x%04llX" : "0x%04llX",
                  static_cast<unsigned long long>(std::llround(std::abs(value))));
    return text;
}

std::string tickText(double value, double step) {
    const double stepPower = std::floor(std::log10(step) + 1e-9);
    char text[64];
    // Past these, fixed digits run long (a f32 near its ends is 39 digits,
    // a denormal 44 zeros): the mantissa the step needs and an exponent.
    // Whole numbers of a 32-bit register stay below them and read exactly.
    if (stepPower < -6 || std::max(std::abs(value), step) >= 1e12) {
        if (value == 0)
            return "0";
        const double valuePower = std::floor(std::log10(std::abs(value)) + 1e-9);
        const int digits = static_cast<int>(std::clamp(valuePower - stepPower + 1, 1.0, 17.0));
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        return text;
    }
    const int decimals = stepPower >= 0 ? 0 : static_cast<int>(-stepPower);
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace marvalo
