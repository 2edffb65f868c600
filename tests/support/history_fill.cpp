#include "support/history_fill.h"

#include "emulator/sim_attach.h"
#include "history/history.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "netstate/stations.h"
#include "platform/simclock.h"
#include "platform/timers.h"
#include "session/recording.h"
#include "support/system_state.h"
#include "zentrik/sim.h"
#include "frames/mac.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace historyfill {

namespace {
int64_t wallSeconds(int64_t utcMs) { return utcMs / 1000; }
int64_t virtualStartMs = 0;
}  // namespace

bool recordModel(emu::Network& network, const std::string& database, int64_t startUtcMs, int64_t spanMs,
                 std::string* error, int64_t modelAheadMs)
{
    history::Store store;
    if (!store.open(database)) {
        *error = store.error();
        return false;
    }
    int64_t now = startUtcMs;
    network.setClock([&now, modelAheadMs] { return wallSeconds(now + modelAheadMs); });
    for (; now < startUtcMs + spanMs; now += replyEveryMs) {
        for (int a = 0; a < network.adapterCount(); ++a) {
            const emu::EmulatedAdapter& adapter = network.adapter(a);
            history::Reply reply;
            reply.timeMs = now;
            reply.adapter = frames::Mac::of(adapter.hostMac.data()).text();
            reply.device = frames::Mac::of(adapter.device.mac.data()).text();
            double sum = 0.0;
            for (const emu::RemoteStation& s : adapter.stations) {
                if (s.silent || s.networkKey != adapter.device.key1 || reply.stations.size() == emu::maxStationsListed)
                    continue;
                const double rate = rateFromLinkValue(network.linkValue(s));
                reply.stations.push_back({frames::Mac::of(s.mac.data()).text(), rate});
                sum += rate;
            }
            const double average = reply.stations.empty() ? 0.0 : sum / static_cast<double>(reply.stations.size());
            reply.averageMbps = average;
            reply.rating = linkQualityFor(average).ratingText;
            if (!store.record(reply)) {
                *error = store.error();
                network.setClock({});
                return false;
            }
        }
    }
    network.setClock({});
    return true;
}

bool runMonitor(const std::string& scenario, const std::string& database, int64_t startUtcMs, int64_t spanMs,
                std::string* error)
{
    emu::Network network;
    if (!emu::loadScenario(scenario, network, error))
        return false;
    // The session reads and may write its working files in the current folder:
    // a scratch one keeps the caller's untouched.
    char scratch[] = "/tmp/history_fill.XXXXXX";
    char* back = getcwd(nullptr, 0);
    if (!mkdtemp(scratch) || !back || chdir(scratch) != 0) {
        *error = std::string("scratch folder: ") + std::strerror(errno);
        std::free(back);
        return false;
    }
    zsim::reset();
    simclock::reset();
    testsupport::resetSystemState();
    busy.catchUpAndSet(false);
    emu::addSimAdapters(network);
    // The daily curves run on local time, as plcsim's do.
    const time_t start = static_cast<time_t>(startUtcMs / 1000);
    tm local{};
    localtime_r(&start, &local);
    emu::attachToSimDriver(network, startUtcMs / 1000 + local.tm_gmtoff);
    virtualStartMs = startUtcMs;
    session::setHistoryClock([] { return virtualStartMs + static_cast<int64_t>(simclock::nowMicros() / 1000); });

    bool ok = session::openHistory(database);
    if (!ok) {
        *error = database + ": cannot be opened";
    } else {
        // Coarser polls keep the probe windows quick in real time.
        simclock::setPollCost(1000);
        ok = session::start().started;
        simclock::setPollCost(100);
        if (!ok)
            *error = scenario + ": the session did not start";
    }
    while (ok && static_cast<int64_t>(simclock::nowMicros() / 1000) < spanMs) {
        simclock::advance(monitorIntervalMs);
        platform::runDueTimers();
    }
    emu::detachFromSimDriver();
    testsupport::resetSystemState();
    zsim::reset();
    std::remove(profileFileName);
    std::remove("plc.log");
    if (chdir(back) != 0 || rmdir(scratch) != 0) {
        *error = std::string("scratch folder: ") + std::strerror(errno);
        ok = false;
    }
    std::free(back);
    return ok;
}

bool fifteenStations(const std::string& scenario, emu::Network& network, std::string* error)
{
    if (!emu::loadScenario(scenario, network, error))
        return false;
    emu::EmulatedAdapter& a = network.adapter(0);
    std::vector<emu::RemoteStation> curves;
    for (const emu::RemoteStation& s : a.stations)
        if (s.schedule && s.networkKey == a.device.key1)
            curves.push_back(s);
    if (curves.empty()) {
        *error = scenario + ": no station on a daily curve";
        return false;
    }
    a.stations.clear();
    for (uint8_t i = 0; i < emu::maxStationsListed; ++i) {
        emu::RemoteStation s = curves[i % curves.size()];
        s.mac[4] = 0x01;
        s.mac[5] = i;
        s.schedule->seed = 100u + i;
        a.stations.push_back(s);
    }
    return true;
}

}  // namespace historyfill
