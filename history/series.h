#pragma once
// A station's samples as the chart draws them.
#include "history/rows.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace history {

// The start of the interval of `everyMs` (> 0) holding `timeMs`: intervals are
// aligned to the epoch (UTC), times before it included. The one rule of the
// command line's --every and the chart's buckets.
constexpr int64_t bucketStart(int64_t timeMs, int64_t everyMs)
{
    return timeMs - ((timeMs % everyMs) + everyMs) % everyMs;
}

// A station's rates as the chart draws them: runs of points without a gap,
// each point a sample or, with buckets, the mean, lowest and highest of one
// (bucketStart(), drawn at its middle), and the figures over every rated sample.
struct Series {
    struct Point {
        int64_t utcMs;
        double mbps;             // the sample, or the mean of the samples in a bucket
        double lowest, highest;  // within the bucket; the sample itself without one
    };
    std::vector<std::vector<Point>> runs;
    std::optional<double> current;  // the newest sample, if rated
    std::optional<double> minimum, median, maximum;
};
// `samples` of one station, oldest first. Without buckets (0) a silence longer
// than `gapMs` or a sample without a rate ends a run; with them, a bucket
// without a rated sample does.
Series seriesOf(const std::vector<Sample>& samples, int64_t bucketMs, int64_t gapMs);

}  // namespace history
