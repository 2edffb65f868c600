#pragma once
// What the link history records and answers: replies, samples, buckets and
// each link's latest.
#include "frames/mac.h"
#include "netstate/rating.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace history {

// The MAC type and the ratings of the layers below, for the history's callers above them.
using frames::Mac;
namespace rating = ::rating;

// MACs are "aa:bb:cc:dd:ee:ff" throughout; rates are Mbps, nullopt for no estimate.
struct StationRate {
    std::string station;
    std::optional<double> rateMbps;
};

// One link-statistics reply as the monitor saw it.
struct Reply {
    int64_t timeMs = 0;
    std::string adapter;  // the adapter's own MAC
    std::string device;   // the local powerline device behind it
    std::vector<StationRate> stations;
    std::optional<double> averageMbps;
    std::string rating;            // "Link Quality: Poor", "... Fair" or "... Excellent"
    std::string adapterName = {};  // the adapter's interface name; empty: not known
};

// What a query looks at; empty strings match everything.
struct Filter {
    std::string station;
    std::string adapter;
    std::string adapterName;  // every adapter recorded under this interface name
    std::string device;
    int64_t sinceMs = 0;          // inclusive
    int64_t untilMs = INT64_MAX;  // exclusive
};

// Rows carry MACs as 48-bit numbers (Mac(number).text() gives the text): a month is a
// million rows, and three strings each would cost more than the query.

// One station's rate at one reply.
struct Sample {
    int64_t timeMs = 0;
    uint64_t adapter = 0, device = 0, station = 0;
    std::optional<double> rateMbps;
};

// The samples of one station within [startMs, startMs + every): rated ones only count.
struct Bucket {
    int64_t startMs = 0;
    uint64_t adapter = 0, device = 0, station = 0;
    int count = 0;  // samples with a rate
    int total = 0;  // samples, null rates included
    std::optional<double> minMbps, avgMbps, maxMbps;
};

// One reply's average and rating.
struct ReplyRow {
    int64_t timeMs = 0;
    uint64_t adapter = 0, device = 0;
    int stations = 0;  // samples recorded with it
    std::optional<double> averageMbps;
    std::string rating;
};

// A link's newest reply and the newest sample of each station it has listed.
struct Latest {
    ReplyRow reply;
    std::vector<Sample> stations;  // by station MAC
};

}  // namespace history
