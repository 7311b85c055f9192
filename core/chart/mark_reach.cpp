#include "core/chart/mark_reach.h"

#include <bit>

namespace marvalo {

void MarkReach::clear() {
    kinds_.clear();
    ys_.clear();
    ends_.clear();
    wholeBlocks_ = 0;
    columnPoints_.clear();
    columnSpreads_.clear();
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
    MarkSpread spread = index % kBlock == 0 ? MarkSpread() : ends_.back().fromBlockStart;
    spread.take(kind, kept);
    ends_.push_back({spread, MarkSpread()});
    if (index % kBlock == kBlock - 1)
        closeBlock(index / kBlock);
}

void MarkReach::closeBlock(std::size_t block) {
    const std::size_t first = block * kBlock;
    MarkSpread spread;
    for (std::size_t i = first + kBlock; i-- > first;) {
        spread.take(kinds_[i], ys_[i]);
        ends_[i].toBlockEnd = spread;
    }
    wholeBlocks_ = block + 1;
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
    const std::size_t firstWhole = (from + kBlock - 1) / kBlock;
    const std::size_t pastWhole = std::min(to / kBlock, wholeBlocks_);
    if (firstWhole >= pastWhole) {
        // No whole block inside: a few points, one by one.
        for (std::size_t i = from; i < to; ++i)
            spread.take(kinds_[i], ys_[i]);
        return spread;
    }
    if (from % kBlock != 0)
        spread.take(ends_[from].toBlockEnd);
    const std::size_t blocks = pastWhole - firstWhole;
    const auto level = static_cast<std::size_t>(std::bit_width(blocks) - 1);
    spread.take(runs_[level][firstWhole]);
    spread.take(runs_[level][pastWhole - (std::size_t{1} << level)]);
    if (pastWhole * kBlock < to)
        spread.take(ends_[to - 1].fromBlockStart);
    return spread;
}

}  // namespace marvalo

namespace marvalo {

const std::vector<MarkSpread> &MarkReach::columns(const std::vector<std::size_t> &ends) {
    const bool kept = columnPoints_.size() == ends.size();
    columnPoints_.resize(ends.size());
    columnSpreads_.resize(ends.size());
    std::size_t from = 0;
    for (std::size_t column = 0; column < ends.size(); ++column) {
        const std::size_t to = std::max(from, std::min(ends[column], size()));
        const std::optional<MarkSpread> near = kept ? moved(column, from, to) : std::nullopt;
        columnSpreads_[column] = near ? *near : over(from, to);
        columnPoints_[column] = {from, to};
        from = to;
    }
    return columnSpreads_;
}

std::optional<MarkSpread> MarkReach::moved(std::size_t column, std::size_t from,
                                           std::size_t to) const {
    constexpr std::size_t kFew = 4;
    const auto [wasFrom, wasTo] = columnPoints_[column];
    if (from < wasFrom || to < wasTo || from > wasTo || from - wasFrom > kFew || to - wasTo > kFew)
        return std::nullopt;
    MarkSpread spread = columnSpreads_[column];
    for (std::size_t i = wasFrom; i < from; ++i) {
        // A point at an extreme of its kind may have been the only one there.
        if (ys_[i] != MarkSpread::kNone &&
            (ys_[i] == spread.low[kinds_[i]] || ys_[i] == spread.high[kinds_[i]]))
            return std::nullopt;
    }
    for (std::size_t i = wasTo; i < to; ++i)
        spread.take(kinds_[i], ys_[i]);
    return spread;
}

}  // namespace marvalo
