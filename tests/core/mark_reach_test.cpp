#include <gtest/gtest.h>

#include <random>

#include "core/chart/mark_reach.h"

namespace marvalo {
namespace {

// Against the plain way, a walk over every point of the run: runs inside a
// block, across blocks, ending in the unfinished last block, at every size.
TEST(MarkReach, EveryRunAsAWalkOverItsPointsGivesIt) {
    std::mt19937 random(7);
    MarkReach reach;
    std::vector<std::pair<std::size_t, int>> points;
    for (int n = 0; n < 300; ++n) {
        const std::size_t kind = random() % 5;
        const int y = random() % 9 == 0 ? MarkSpread::kNone : static_cast<int>(random() % 400);
        points.emplace_back(kind, y);
        reach.push(kind, y);
        // Columns brought up to date point by point, as a chart's are.
        std::vector<std::size_t> ends;
        for (std::size_t column = 1; column <= 23; ++column)
            ends.push_back(column * points.size() / 23);
        const std::vector<MarkSpread> columns = reach.columns(ends);
        for (std::size_t column = 0; column < ends.size(); ++column)
            ASSERT_EQ(columns[column], reach.over(column ? ends[column - 1] : 0, ends[column]))
                << "column " << column << " of " << n + 1;
        for (std::size_t from = 0; from <= points.size(); from += 1 + random() % 7) {
            for (std::size_t to = from; to <= points.size(); to += 1 + random() % 11) {
                MarkSpread walked;
                for (std::size_t i = from; i < to; ++i)
                    walked.take(points[i].first, static_cast<std::int16_t>(points[i].second));
                ASSERT_EQ(reach.over(from, to), walked) << from << ".." << to << " of " << n + 1;
            }
        }
    }
    reach.clear();
    reach.push(2, 70'000);  // beyond sixteen bits: at the edge, still a mark
    EXPECT_TRUE(reach.over(0, 1).has(2));
    EXPECT_EQ(reach.over(0, 1).low[2], 32767);
}

}  // namespace
}  // namespace marvalo
