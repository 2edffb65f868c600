#include "history/series.h"

#include <algorithm>

namespace history {

Series seriesOf(const std::vector<Sample>& samples, int64_t bucketMs, int64_t gapMs)
{
    Series c;
    if (samples.empty())
        return c;
    c.current = samples.back().rateMbps;

    std::vector<double> rated;
    rated.reserve(samples.size());
    std::vector<Series::Point> run;
    const auto endRun = [&] {
        if (!run.empty())
            c.runs.push_back(std::move(run));
        run.clear();
    };
    if (bucketMs == 0) {
        int64_t last = samples.front().timeMs;
        for (const Sample& s : samples) {
            if (!s.rateMbps || s.timeMs - last > gapMs)
                endRun();
            last = s.timeMs;
            if (s.rateMbps) {
                rated.push_back(*s.rateMbps);
                run.push_back({s.timeMs, *s.rateMbps, *s.rateMbps, *s.rateMbps});
            }
        }
    } else {
        // Buckets aligned to the epoch, each drawn at its middle; one without a
        // rated sample is a gap.
        int64_t bucket = INT64_MIN;
        double sum = 0.0, lowest = 0.0, highest = 0.0;
        int count = 0;
        const auto endBucket = [&] {
            if (count > 0)
                run.push_back({bucket + bucketMs / 2, sum / count, lowest, highest});
            sum = 0.0;
            count = 0;
        };
        for (const Sample& s : samples) {
            const int64_t b = bucketStart(s.timeMs, bucketMs);
            if (b != bucket) {
                const bool follows = count > 0 && b == bucket + bucketMs;
                endBucket();
                if (!follows)
                    endRun();
                bucket = b;
            }
            if (s.rateMbps) {
                const double r = *s.rateMbps;
                rated.push_back(r);
                lowest = count == 0 ? r : std::min(lowest, r);
                highest = count == 0 ? r : std::max(highest, r);
                sum += r;
                ++count;
            }
        }
        endBucket();
    }
    endRun();
    if (!rated.empty()) {
        const auto [lo, hi] = std::minmax_element(rated.begin(), rated.end());
        c.minimum = *lo;
        c.maximum = *hi;
        const size_t half = rated.size() / 2;
        std::nth_element(rated.begin(), rated.begin() + static_cast<std::ptrdiff_t>(half), rated.end());
        double median = rated[half];
        if (rated.size() % 2 == 0)
            median = (median + *std::max_element(rated.begin(), rated.begin() + static_cast<std::ptrdiff_t>(half))) / 2;
        c.median = median;
    }
    return c;
}

}  // namespace history
