#include "core/chart/axis_scale.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <tuple>
#include <utility>

#include "core/text/number_text.h"

namespace marvalo {

namespace {

constexpr double kHexTop = 0xFFFF;

// What the axis spans: a value alone gets a flat line in the middle of an
// axis one unit (or a tenth of the value) either side, but never one that
// goes below zero for a value that does not: a u16 or a delay of 0 read on
// an axis from -1 would suggest values no reading can have.
std::pair<double, double> span(double lowest, double highest) {
    if (!std::isfinite(lowest) || !std::isfinite(highest) || lowest > highest)
        return {0, 1};
    if (lowest == highest) {
        const double half = std::max(1.0, std::abs(lowest) / 10);
        return {lowest >= 0 ? std::max(0.0, lowest - half) : lowest - half, highest + half};
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
    // A hex register is 16 bits: the axis stays inside them, whatever room
    // a lone value or a round step would give it.
    lowest = std::clamp(lowest, 0.0, kHexTop);
    highest = std::clamp(highest, lowest, kHexTop);
    double step = 1;
    while (intervals(lowest, highest, step) + 1 > mostTicks)
        step *= 2;
    AxisScale scale = ticked(lowest, highest, step);
    if (scale.high > kHexTop) {
        scale.high = kHexTop;
        scale.ticks.back() = kHexTop;
        if (scale.ticks.size() > 2 && scale.ticks[scale.ticks.size() - 2] == kHexTop)
            scale.ticks.pop_back();
    }
    return scale;
}

std::string hexTickText(double value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04llX",
                  static_cast<unsigned long long>(std::llround(std::clamp(value, 0.0, kHexTop))));
    return text;
}

std::string tickText(double value, double step) {
    const double stepPower = std::floor(std::log10(step) + 1e-9);
    // Past these, fixed digits run long (a f32 near its ends is 39 digits,
    // a denormal 44 zeros): the mantissa the step needs and an exponent.
    // Whole numbers of a 32-bit register stay below them and read exactly.
    if (stepPower < -6 || std::max(std::abs(value), step) >= 1e12) {
        if (value == 0)
            return "0";
        const double valuePower = std::floor(std::log10(std::abs(value)) + 1e-9);
        const int digits = static_cast<int>(std::clamp(valuePower - stepPower + 1, 1.0, 17.0));
        return generalDecimal(value, digits);
    }
    // Never printf's "%f": it follows LC_NUMERIC, and a Spanish desktop
    // would label the axis "17,5" beside a table that says 17.5.
    return fixedDecimal(value, stepPower >= 0 ? 0 : static_cast<int>(-stepPower));
}

}  // namespace marvalo
