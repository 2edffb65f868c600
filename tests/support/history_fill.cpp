#include "support/history_fill.h"

#include "history/history.h"
#include "netstate/stations.h"

namespace historyfill {

namespace {
int64_t wallSeconds(int64_t utcMs) { return utcMs / 1000; }
}  // namespace

bool recordModel(emu::Network& network, const std::string& database, int64_t startUtcMs, int64_t spanMs,
                 std::string* error)
{
    history::Store store;
    if (!store.open(database)) {
        *error = store.error();
        return false;
    }
    int64_t now = startUtcMs;
    network.setClock([&now] { return wallSeconds(now); });
    for (; now < startUtcMs + spanMs; now += replyEveryMs) {
        for (int a = 0; a < network.adapterCount(); ++a) {
            const emu::EmulatedAdapter& adapter = network.adapter(a);
            history::Reply reply;
            reply.timeMs = now;
            reply.adapter = emu::formatMac(adapter.hostMac.data());
            reply.device = emu::formatMac(adapter.device.mac.data());
            double sum = 0.0;
            for (const emu::RemoteStation& s : adapter.stations) {
                if (s.silent || s.networkKey != adapter.device.key1 ||
                    reply.stations.size() == emu::maxStationsListed)
                    continue;
                const double rate = rateFromLinkValue(network.linkValue(s));
                reply.stations.push_back({emu::formatMac(s.mac.data()), rate});
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

bool runMonitor(const std::string&, const std::string&, int64_t, int64_t, std::string* error)
{
    *error = "the monitor does not record yet";
    return false;
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
