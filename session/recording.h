#pragma once
// The link history: every link-statistics reply that updates the rates is
// recorded into the store while it is open. A record, never a dependency: a
// store that cannot be opened or written costs one line on standard error.
#include "history/history.h"

#include <cstdint>
#include <string>

namespace session {

// Opens the store at `path` (empty: history::defaultPath()) and records from
// then on; false, after the line on stderr, when it could not be opened.
bool openHistory(const std::string& path = {}, int retentionDays = history::defaultRetentionDays);
void closeHistory();
bool historyOpen();
// Why nothing is being recorded, as the line on stderr said it ("…: unable to
// open database file"); empty while the store records or before it is opened.
const std::string& historyProblem();

// Where the samples' times come from; nullptr: the system's UTC clock.
using HistoryClock = int64_t (*)();
void setHistoryClock(HistoryClock clock);

}  // namespace session
