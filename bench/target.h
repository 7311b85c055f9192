#pragma once

#include <cstdio>

namespace marvalo::bench {

enum class Bound { AtMost, AtLeast };

// One figure beside its target and whether it meets it, so a missed target
// is read in the same line as the number that missed it. The run itself
// never fails: a loaded machine misses targets a quiet one meets.
inline bool figure(const char *what, double value, const char *unit, Bound bound, double target) {
    const bool met = bound == Bound::AtMost ? value <= target : value >= target;
    std::printf("  %-48s %9.3f %-5s (target %s %g %s): %s\n", what, value, unit,
                bound == Bound::AtMost ? "<=" : ">=", target, unit, met ? "met" : "MISSED");
    return met;
}

}  // namespace marvalo::bench
