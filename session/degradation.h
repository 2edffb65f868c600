#pragma once
// When a station's link counts as degraded: its rate below a fraction of its
// own normal (the median of its recent history, once there is enough of it)
// or rated Poor, without a break for a while. Read from the link history.
#include "history/history.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace session {

struct DegradationRule {
    double fraction = 0.5;
    int64_t normalMs = 7 * 86400000LL;  // the median is over this much history
    int64_t leastHistoryMs = 86400000;  // and counts once the station is this long known
    int64_t holdMs = 600000;            // bad this long, sample after sample
};

// The median of the rated samples within the rule's normal span before
// `nowMs`, when they reach back at least its least history.
std::optional<double> normalRate(const std::vector<history::Sample>& samples, int64_t nowMs,
                                 const DegradationRule& rule = {});

// Whether the newest samples up to `nowMs`, oldest first, have been bad for the
// rule's hold: under Poor, or under the fraction of `normal`. A station not
// heard in the last few minutes is not degraded: it is gone, another matter.
bool degradedNow(const std::vector<history::Sample>& samples, int64_t nowMs, std::optional<double> normal,
                 const DegradationRule& rule = {});

// The station's samples in `store` from `sinceMs` up to `nowMs` (none when it
// cannot be read: nothing is degraded then).
std::vector<history::Sample> stationSamples(history::Store& store, const std::string& station, int64_t sinceMs,
                                            int64_t nowMs);

}  // namespace session
