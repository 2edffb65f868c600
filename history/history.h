#pragma once
// The link history, all of it: the store and its rows, the chart's series, the
// metrics text, and the clock, times and MACs as text.
#include "history/metrics.h"
#include "history/rows.h"
#include "history/series.h"
#include "history/store.h"
#include "history/time_text.h"

#include <cstdint>
#include <string>

namespace history {

// UTC milliseconds since 1970.
int64_t nowMs();

// ${XDG_STATE_HOME:-~/.local/state}/brennic/history.sqlite3; empty when neither is set.
std::string defaultPath();

}  // namespace history
