#include "core/verdicts/exchange_stats.h"

#include <algorithm>
#include <cmath>

namespace marvalo {
namespace {

constexpr double kBucketGrowth = 1.01;
constexpr double kSmallestMs = 0.001;  // everything below 1 µs shares bucket 0

std::size_t bucketOf(double milliseconds) {
    if (milliseconds <= kSmallestMs)
        return 0;
    return 1 +
           static_cast<std::size_t>(std::log(milliseconds / kSmallestMs) / std::log(kBucketGrowth));
}

double middleOf(std::size_t bucket) {
    if (bucket == 0)
        return kSmallestMs;
    return kSmallestMs * std::pow(kBucketGrowth, static_cast<double>(bucket) - 0.5);
}

}  // namespace

void LatencyHistogram::add(double milliseconds) {
    milliseconds = std::max(milliseconds, 0.0);
    const std::size_t bucket = bucketOf(milliseconds);
    if (bucket >= buckets_.size())
        buckets_.resize(bucket + 1);
    ++buckets_[bucket];
    if (count_ < kExactUpTo) {
        exact_.insert(std::upper_bound(exact_.begin(), exact_.end(), milliseconds), milliseconds);
    } else {
        exact_ = {};
    }
    min_ = count_ == 0 ? milliseconds : std::min(min_, milliseconds);
    max_ = count_ == 0 ? milliseconds : std::max(max_, milliseconds);
    ++count_;
}

std::optional<double> LatencyHistogram::min() const {
    return count_ == 0 ? std::nullopt : std::optional<double>(min_);
}

std::optional<double> LatencyHistogram::max() const {
    return count_ == 0 ? std::nullopt : std::optional<double>(max_);
}

std::optional<double> LatencyHistogram::percentile(double share) const {
    if (count_ == 0)
        return std::nullopt;
    // The nearest-rank definition: the smallest value with at least `share`
    // of all values at or below it.
    const auto rank =
        static_cast<std::uint64_t>(std::max(1.0, std::ceil(share * static_cast<double>(count_))));
    if (count_ <= kExactUpTo)
        return exact_[std::min<std::size_t>(rank, count_) - 1];
    std::uint64_t seen = 0;
    for (std::size_t bucket = 0; bucket < buckets_.size(); ++bucket) {
        seen += buckets_[bucket];
        if (seen >= rank)
            return std::clamp(middleOf(bucket), min_, max_);
    }
    return max_;
}

void ExchangeStats::add(const ExchangeRecord &record, bool cutShort) {
    ++exchanges;
    if (!record.verdict) {
        ++failures;
        return;
    }
    if (cutShort) {
        ++interrupted;
        return;
    }
    ++byVerdict[static_cast<std::size_t>(record.verdict->kind)];
    if (auto latency = record.firstByteMs())
        firstByte.add(*latency);
}

std::uint64_t ExchangeStats::bad() const {
    std::uint64_t total = 0;
    for (std::size_t kind = 0; kind < kVerdictKindCount; ++kind) {
        const auto verdict = static_cast<VerdictKind>(kind);
        if (verdict != VerdictKind::Ok && verdict != VerdictKind::Silence)
            total += byVerdict[kind];
    }
    return total;
}

}  // namespace marvalo
