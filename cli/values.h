#pragma once
// The values brennicctl's options take: times, spans and intervals.
#include "cli/cli.h"

#include <string>

namespace cli {

// ISO 8601: a date, with a time or not, with a zone or local.
bool parseIsoTime(const std::string& text, long long* ms);
// "30s", "5m", "1h", "7d", "2w": a whole number and its unit, at most ten years.
bool parseDuration(const std::string& text, long long* ms);
// A span before now, or an ISO 8601 time.
bool parseTime(const std::string& text, HistoryTime* time);
// Seconds, fractions allowed, at most a day.
bool parseInterval(const std::string& text, double* seconds);

}  // namespace cli
