#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/records/exchange_record.h"
#include "core/verdicts/verdict.h"

namespace marvalo {

// First-byte latencies. The first kExactUpTo are kept as they are, sorted,
// and their percentiles are exact (a p95 of five exchanges is the largest
// of them). Beyond that they are counted in buckets 1 % wide, so adding one
// is constant work and the percentiles of a million exchanges cost what
// those of a thousand do; minimum and maximum stay exact, percentiles are
// then within 1 %.
class LatencyHistogram {
  public:
    void add(double milliseconds);
    std::size_t count() const { return count_; }
    std::optional<double> min() const;
    std::optional<double> max() const;
    // `share` 0..1: 0.5 the median, 0.95 the 95th percentile.
    std::optional<double> percentile(double share) const;

    static constexpr std::size_t kExactUpTo = 1000;

  private:
    std::vector<double> exact_;  // sorted; emptied once the buckets take over
    std::vector<std::uint64_t> buckets_;
    std::size_t count_ = 0;
    double min_ = 0;
    double max_ = 0;
};

// What a run of exchanges came to: how many, how they were judged, how many
// failed before a verdict, and how soon the first byte came back.
struct ExchangeStats {
    std::uint64_t exchanges = 0;
    std::uint64_t failures = 0;
    // Cut short by a stop: the unit was not let finish, so no verdict is
    // counted for them (a silence here is only the wait that was cut).
    std::uint64_t interrupted = 0;
    std::array<std::uint64_t, kVerdictKindCount> byVerdict{};
    LatencyHistogram firstByte;

    void add(const ExchangeRecord &record, bool cutShort = false);
    std::uint64_t count(VerdictKind kind) const {
        return byVerdict[static_cast<std::size_t>(kind)];
    }
    // Replies judged anything but ok or silence.
    std::uint64_t bad() const;
};

}  // namespace marvalo
