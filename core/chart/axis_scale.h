#pragma once

#include <string>
#include <vector>

namespace marvalo {

// A chart axis people can read: ticks at round steps (1, 2 or 5 times a
// power of ten), the axis running from the round tick at or below the
// lowest value to the one at or above the highest, so every value sits on
// the axis and the ends are labelled.
struct AxisScale {
    double low = 0;
    double high = 1;
    double step = 1;
    std::vector<double> ticks;  // low, low + step, ..., high
    bool operator==(const AxisScale &) const = default;
};

// At most `mostTicks` ticks (at least 2) over [lowest, highest]. One value
// alone gets an axis around it; a value that is not finite gets none of the
// axis (callers leave such points out).
AxisScale roundAxis(double lowest, double highest, int mostTicks);
// The same at steps of a power of two, for registers shown in hex, whose
// ticks then read round: 0x0000, 0x4000, 0x8000; never beyond 0..0xFFFF,
// the top tick 0xFFFF when a step would pass it.
AxisScale roundHexAxis(double lowest, double highest, int mostTicks);

// A tick's label with as many decimals as the step needs: "-0.5", "20",
// "1.25"; with an exponent where plain digits would run long: "-4e+38",
// "2e-44". Always a point, whatever the process's locale.
std::string tickText(double value, double step);
// A hex axis's tick, four digits: "0x4000".
std::string hexTickText(double value);

}  // namespace marvalo
