#pragma once
// Link history the emulator produced, in seconds of real time: the monitor run
// on the simulated driver and the virtual clock through a day of evening.json,
// or the model's link values recorded straight into the store for spans too
// long to tick through (a month of fifteen stations).
#include "emulator/model.h"

#include <cstdint>
#include <string>

namespace historyfill {

constexpr int64_t dayMs = 86400000;
constexpr int64_t replyEveryMs = 30000;  // the monitor's two replies a minute

// brennic's monitor, its session recording into `database`, through `spanMs`
// of virtual time against `scenario` (a path), the model's and the history's
// clocks both starting at `startUtcMs`. False with a reason on failure.
bool runMonitor(const std::string& scenario, const std::string& database, int64_t startUtcMs, int64_t spanMs,
                std::string* error);

// One reply a `replyEveryMs` per adapter from `startUtcMs` for `spanMs`, with
// the link values the model gives at each time, recorded as the monitor would.
// The model's clock may run `modelAheadMs` ahead of the history's, so that a
// history ending now can end at any time of the scenario's day.
bool recordModel(emu::Network& network, const std::string& database, int64_t startUtcMs, int64_t spanMs,
                 std::string* error, int64_t modelAheadMs = 0);

// evening.json's device with fifteen stations on its network, each on one of
// the scenario's daily curves with a seed of its own.
bool fifteenStations(const std::string& scenario, emu::Network& network, std::string* error);

}  // namespace historyfill
