#include "session/degradation.h"

#include "netstate/stations.h"

#include <algorithm>

namespace session {

namespace {
// Two replies a minute while anything records: a longer silence ends a run.
constexpr int64_t heardWithinMs = 150000;
}  // namespace

std::optional<double> normalRate(const std::vector<history::Sample>& samples, int64_t nowMs,
                                 const DegradationRule& rule)
{
    std::vector<double> rates;
    int64_t firstMs = nowMs;
    for (const history::Sample& s : samples) {
        if (s.timeMs > nowMs || s.timeMs < nowMs - rule.normalMs || !s.rateMbps)
            continue;
        firstMs = std::min(firstMs, s.timeMs);
        rates.push_back(*s.rateMbps);
    }
    if (rates.empty() || nowMs - firstMs < rule.leastHistoryMs)
        return std::nullopt;
    const size_t half = rates.size() / 2;
    std::nth_element(rates.begin(), rates.begin() + static_cast<std::ptrdiff_t>(half), rates.end());
    double median = rates[half];
    if (rates.size() % 2 == 0)
        median = (median + *std::max_element(rates.begin(), rates.begin() + static_cast<std::ptrdiff_t>(half))) / 2;
    return median;
}

bool degradedNow(const std::vector<history::Sample>& samples, int64_t nowMs, std::optional<double> normal,
                 const DegradationRule& rule)
{
    const auto bad = [&](double mbps) { return mbps < fairFromMbps || (normal && mbps < rule.fraction * *normal); };
    // The newest run of bad samples, unbroken by a good one or a silence.
    int64_t runStart = -1, later = nowMs;
    for (auto s = samples.rbegin(); s != samples.rend(); ++s) {
        if (s->timeMs > nowMs || !s->rateMbps)
            continue;
        if (later - s->timeMs > heardWithinMs || !bad(*s->rateMbps))
            break;
        runStart = s->timeMs;
        later = s->timeMs;
    }
    return runStart >= 0 && nowMs - runStart >= rule.holdMs;
}

std::vector<history::Sample> stationSamples(history::Store& store, const std::string& station, int64_t sinceMs,
                                            int64_t nowMs)
{
    history::Filter filter;
    filter.station = station;
    filter.sinceMs = sinceMs;
    filter.untilMs = nowMs + 1;
    return store.samples(filter);
}

}  // namespace session
