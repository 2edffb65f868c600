#pragma once
#include "history/rows.h"

#include <string>
#include <vector>

namespace history {

// OpenMetrics text of the newest sample of each station, ending in "# EOF".
std::string metricsText(const std::vector<Latest>& latest);

}  // namespace history
