#include "session/recording.h"

#include "link/flags.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "netstate/stations.h"
#include "session/internal.h"
#include "frames/mac.h"

#include <cerrno>
#include <cstdio>

namespace session {

namespace {
history::Store store;
HistoryClock clock = nullptr;
// One line per run of failures: the next one is reported after a success.
bool failing = false;
std::string problem;

void report(const std::string& what)
{
    problem = what;
    std::fprintf(stderr, "%s: history: %s; not recording\n", program_invocation_short_name, what.c_str());
}

// Runs inside the monitor tick: a local transaction, no frame.
void recordReply()
{
    if (!store.isOpen())
        return;
    const AdapterEntry& e = adapters[selectedAdapter];
    history::Reply reply;
    reply.timeMs = clock ? clock() : history::nowMs();
    reply.adapter = frames::Mac::of(e.ownMac).text();
    reply.adapterName = e.name;
    reply.device = frames::Mac::of(e.deviceMac).text();
    for (const StationRow& row : stationRows())
        reply.stations.push_back({row.mac, row.rateMbps != 0.0 ? std::optional<double>(row.rateMbps) : std::nullopt});
    const double average = averageRate();
    if (average != 0.0)
        reply.averageMbps = average;
    reply.rating = linkQualityFor(average).ratingText;
    if (store.record(reply)) {
        failing = false;
        problem.clear();
    } else if (store.damaged()) {
        // Writing on into a damaged file spreads the damage: recording stops
        // here, said once; the sheet, the frames and the configuration go on.
        const std::string why = store.error();
        closeHistory();
        report(why);
    } else if (!failing) {
        failing = true;
        report(store.error());
    }
}
}  // namespace

bool openHistory(const std::string& path, int retentionDays)
{
    failing = false;
    problem.clear();
    store.setRetentionDays(retentionDays);
    if (!store.open(path.empty() ? history::defaultPath() : path)) {
        report(store.error());
        setRatesUpdatedHook(nullptr);
        return false;
    }
    setRatesUpdatedHook(recordReply);
    return true;
}

void closeHistory()
{
    setRatesUpdatedHook(nullptr);
    store.close();
    problem.clear();
}

bool historyOpen() { return store.isOpen(); }

const std::string& historyProblem() { return problem; }

void setHistoryClock(HistoryClock c) { clock = c; }

void resetRecordingState()
{
    closeHistory();
    clock = nullptr;
    failing = false;
}

}  // namespace session
