#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

namespace marvalo {

// The lowest and the highest y of each kind of mark among some points; a
// kind with none has its low above its high. Sixteen-bit lanes, eight of
// them, so that joining two is a pair of vector instructions: a chart joins
// thousands at every paint.
struct MarkSpread {
    static constexpr std::size_t kKinds = 8;
    static constexpr int kNone = std::numeric_limits<std::int16_t>::min();
    std::array<std::int16_t, kKinds> low;
    std::array<std::int16_t, kKinds> high;

    MarkSpread() {
        low.fill(std::numeric_limits<std::int16_t>::min());
        high.fill(std::numeric_limits<std::int16_t>::max());
    }
    bool has(std::size_t kind) const { return low[kind] >= high[kind]; }
    void take(std::size_t kind, std::int16_t y) {
        if (y == kNone)
            return;
        low[kind] = std::max(low[kind], y);
        high[kind] = std::min(high[kind], y);
    }
    void take(const MarkSpread &other) {
        for (std::size_t k = 0; k < kKinds; ++k) {
            low[k] = std::max(low[k], other.low[k]);
            high[k] = std::min(high[k], other.high[k]);
        }
    }
    bool operator==(const MarkSpread &) const = default;
};

// The spread of any run of points appended so far, at a cost that does not
// grow with the run: a chart asks it once per pixel column, however many
// points each column holds. Points go in blocks; each block keeps its
// spread from its start to each point and from each point to its end, and
// whole blocks are joined by a table of runs of 1, 2, 4… blocks.
class MarkReach {
  public:
    void clear();
    // `y` is MarkSpread::kNone for a point with no mark among the values.
    void push(std::size_t kind, int y);
    std::size_t size() const { return kinds_.size(); }
    // The spread of points [from, to).
    MarkSpread over(std::size_t from, std::size_t to) const;
    // The spread of each column's points, column c holding those from
    // ends[c - 1] (0 for the first) up to ends[c]. Asked again after a few
    // points came, most columns have moved by a point or two; one that
    // lost none of its extremes is brought up to date from its last
    // spread, near in memory, rather than looked up anew, far away.
    const std::vector<MarkSpread> &columns(const std::vector<std::size_t> &ends);

  private:
    static constexpr std::size_t kBlock = 16;
    void closeBlock(std::size_t block);
    std::optional<MarkSpread> moved(std::size_t column, std::size_t from, std::size_t to) const;
    std::vector<std::uint8_t> kinds_;
    std::vector<std::int16_t> ys_;
    // A column's run starts where the one before it ended: the two spreads
    // of a point share a cache line, and the run's two ends are next door.
    struct alignas(64) Ends {
        MarkSpread fromBlockStart;
        MarkSpread toBlockEnd;  // in whole blocks only
    };
    std::vector<Ends> ends_;  // every point
    std::size_t wholeBlocks_ = 0;
    // runs_[k][b]: blocks b to b + 2^k - 1, all whole.
    std::vector<std::vector<MarkSpread>> runs_;
    // What columns() last gave, and for which points; none after a clear.
    std::vector<std::pair<std::size_t, std::size_t>> columnPoints_;
    std::vector<MarkSpread> columnSpreads_;
};

}  // namespace marvalo
