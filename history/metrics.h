#pragma once
#include "history/rows.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace history {

// OpenMetrics text of the newest sample of each station, ending in "# EOF";
// with brennic_station_info for those of them that `names` (by MAC) names.
std::string metricsText(const std::vector<Latest>& latest, const std::map<uint64_t, std::string>& names = {});

// brennic_station_info's family, empty when no station of `latest` is named.
std::string stationInfoText(const std::vector<Latest>& latest, const std::map<uint64_t, std::string>& names);
// A label value as the exposition quotes it: backslash, double quote and newline escaped.
std::string labelValue(std::string_view text);

}  // namespace history
