#pragma once
// A station's rates over the last hour, day, week or month as the history
// window draws them, read from the store: the window's data without the window.
#include "history/series.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace history {

enum class HistorySpan { hour, day, week, month };

// What the window draws for one station and span, read from the history.
struct StationChart {
    using Point = Series::Point;
    // Runs of points without a gap; a station that was not heard breaks the line.
    std::vector<std::vector<Point>> runs;
    std::optional<double> current;                   // the newest sample of the station, if rated
    std::optional<double> minimum, median, maximum;  // over every sample of the span
    int64_t fromMs = 0, toMs = 0;
    int64_t bucketMs = 0;  // 0: every sample
    std::string error;     // the store could not be read: why, in one line
};

// The chart of `stationMac` ("aa:bb:..") over `span` ending at `nowMs`, from
// the history database at `path`. No database or no samples give empty runs;
// a store that cannot be read gives them too, with the reason in `error`.
StationChart loadStationChart(const std::string& path, const std::string& stationMac, HistorySpan span, int64_t nowMs);

}  // namespace history
