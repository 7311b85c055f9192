#include "core/chart/mark_reach.h"

#include <bit>

namespace marvalo {

void MarkReach::clear() {
    kinds_.clear();
    ys_.clear();
    fromBlockStart_.clear();
    toBlockEnd_.clear();
    runs_.clear();
}

void MarkReach::push(std::size_t kind, int y) {
    // A y beyond sixteen bits is drawn off the widget anyway: kept at its
    // edge, where it still counts as a mark.
    constexpr int kLimit = std::numeric_limits<std::int16_t>::max();
    const auto kept =
        static_cast<std::int16_t>(y == MarkSpread::kNone ? y : std::clamp(y, -kLimit, kLimit));
    const std::size_t index = kinds_.size();
    kinds_.push_back(static_cast<std::uint8_t>(kind));
    ys_.push_back(kept);
    MarkSpread spread = index % kBlock == 0 ? MarkSpread() : fromBlockStart_.back();
    spread.take(kind, kept);
    fromBlockStart_.push_back(spread);
    if (index % kBlock == kBlock - 1)
        closeBlock(index / kBlock);
}

void MarkReach::closeBlock(std::size_t block) {
    const std::size_t first = block * kBlock;
    toBlockEnd_.resize(first + kBlock);
    MarkSpread spread;
    for (std::size_t i = first + kBlock; i-- > first;) {
        spread.take(kinds_[i], ys_[i]);
        toBlockEnd_[i] = spread;
    }
    if (runs_.empty())
        runs_.emplace_back();
    runs_[0].push_back(spread);
    // The runs that end with this block, each the join of two half as long.
    for (std::size_t level = 1; (std::size_t{1} << level) <= block + 1; ++level) {
        if (runs_.size() == level)
            runs_.emplace_back();
        const std::size_t start = block + 1 - (std::size_t{1} << level);
        MarkSpread run = runs_[level - 1][start];
        run.take(runs_[level - 1][start + (std::size_t{1} << (level - 1))]);
        runs_[level].push_back(run);
    }
}

MarkSpread MarkReach::over(std::size_t from, std::size_t to) const {
    MarkSpread spread;
    to = std::min(to, size());
    if (from >= to)
        return spread;
    const std::size_t wholeBlocks = toBlockEnd_.size() / kBlock;
    const std::size_t firstWhole = (from + kBlock - 1) / kBlock;
    const std::size_t pastWhole = std::min(to / kBlock, wholeBlocks);
    if (firstWhole >= pastWhole) {
        // No whole block inside: a few points, one by one.
        for (std::size_t i = from; i < to; ++i)
            spread.take(kinds_[i], ys_[i]);
        return spread;
    }
    if (from % kBlock != 0)
        spread.take(toBlockEnd_[from]);
    const std::size_t blocks = pastWhole - firstWhole;
    const auto level = static_cast<std::size_t>(std::bit_width(blocks) - 1);
    spread.take(runs_[level][firstWhole]);
    spread.take(runs_[level][pastWhole - (std::size_t{1} << level)]);
    if (pastWhole * kBlock < to)
        spread.take(fromBlockStart_[to - 1]);
    return spread;
}

}  // namespace marvalo
