// Counts of whole-pixel offsets, -offset .. offset, and their ranks: the
// analysis takes medians and percentiles this way, exactly and without sorting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ocuvex {

// Where `value` is counted, in counts of the values -offset .. offset.
inline std::size_t slot(std::int32_t value, std::int32_t offset) {
    return static_cast<std::size_t>(std::int64_t{value} + offset);
}

// The number of counts for the values -offset .. offset.
inline std::size_t slots(std::int32_t offset) { return static_cast<std::size_t>(2 * std::int64_t{offset} + 1); }

// The value at `rank` (0-based) in counts of the values -offset .. offset;
// 0 when there are no more than `rank` values.
template <typename Count>
std::int32_t value_at_rank(const std::vector<Count>& counts, std::int32_t offset, std::int64_t rank) {
    std::int64_t seen = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        seen += counts[i];
        if (seen > rank) {
            return static_cast<std::int32_t>(i) - offset;
        }
    }
    return 0;
}

// The value below which `share` (0..1) of the counted values lie: the
// 0-based rank floor(share * (n - 1)), so that 0 is the least and 1 the greatest.
template <typename Count>
std::int32_t percentile(const std::vector<Count>& counts, std::int32_t offset, std::int64_t n, double share) {
    return value_at_rank(counts, offset, static_cast<std::int64_t>(share * static_cast<double>(n - 1)));
}

}  // namespace ocuvex
