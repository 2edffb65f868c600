#include "history/station_chart.h"

#include "history/history.h"

#include <utility>

namespace history {

namespace {

int64_t spanMs(HistorySpan span)
{
    constexpr int64_t hour = 3600000;
    switch (span) {
    case HistorySpan::hour: return hour;
    case HistorySpan::day: return 24 * hour;
    case HistorySpan::week: return 7 * 24 * hour;
    case HistorySpan::month: break;
    }
    return 30 * 24 * hour;
}

// Long spans are drawn as the mean of each bucket: a few hundred points
// whatever the span, where a month holds some 86,000 samples of a station.
int64_t bucketFor(HistorySpan span)
{
    constexpr int64_t minute = 60000;
    switch (span) {
    case HistorySpan::hour: return 0;
    case HistorySpan::day: return 5 * minute;
    case HistorySpan::week: return 30 * minute;
    case HistorySpan::month: break;
    }
    return 120 * minute;
}

// Samples come twice a minute while anything records; a longer silence is a gap.
constexpr int64_t sampleGapMs = 150000;

}  // namespace

StationChart loadStationChart(const std::string& path, const std::string& stationMac, HistorySpan span, int64_t nowMs)
{
    StationChart c;
    c.toMs = nowMs;
    c.fromMs = nowMs - spanMs(span);
    c.bucketMs = bucketFor(span);
    Store store;
    if (!store.open(path.empty() ? defaultPath() : path, Store::Mode::readOnly)) {
        // A store not made yet is no error: nothing was recorded.
        if (store.error().find("No such file") == std::string::npos &&
            store.error().find("holds no history yet") == std::string::npos)
            c.error = store.error();
        return c;
    }
    Filter filter;
    filter.station = stationMac;
    filter.sinceMs = c.fromMs;
    filter.untilMs = nowMs + 1;
    // One pass over the span's samples gives the figures and the buckets both.
    const std::vector<Sample> samples = store.samples(filter);
    if (store.failed())
        c.error = store.error();
    if (samples.empty())
        return c;
    Series series = seriesOf(samples, c.bucketMs, sampleGapMs);
    c.runs = std::move(series.runs);
    c.current = series.current;
    c.minimum = series.minimum;
    c.median = series.median;
    c.maximum = series.maximum;
    return c;
}

}  // namespace history
