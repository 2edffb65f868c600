#include "bench/burst.h"

#include "link/link.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "link/flags.h"
#include "support/sim_frames.h"
#include "support/tap.h"

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace burst {

namespace {
constexpr simframes::Mac hostMac = {0x02, 0xb7, 0x1c, 0x00, 0x00, 0x61};
constexpr simframes::Mac stationMac = {0x02, 0xb7, 0x1c, 0x20, 0x00, 0x61};

// StationReply from one remote station to the adapter.
std::vector<uint8_t> stationReply() { return simframes::frame(hostMac, stationMac, 0x08, 0); }

// True once no packet socket of this namespace holds a frame in its queue: the
// helper has moved the burst into the ring it shares with us. Read from the
// kernel's own table, so a helper slowed by a busy machine is waited for.
bool socketQueuesEmpty()
{
    std::ifstream table("/proc/net/packet");
    std::string line;
    std::getline(table, line);  // sk RefCnt Type Proto Iface R Rmem User Inode
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string sk, refs, type, proto, iface, running;
        unsigned long rmem = 0;
        if (fields >> sk >> refs >> type >> proto >> iface >> running >> rmem && rmem != 0)
            return false;
    }
    return true;
}
}  // namespace

Result run(int frames)
{
    Result r;
    testsupport::TapDevice tap;
    if (!tap.create("burst0", hostMac.data(), true, &r.why))
        return r;
    std::memset(profiles, 0, sizeof profiles);
    std::memset(adapters, 0, sizeof adapters);
    if (!openAdapters() || adapterCount != 1) {
        r.why = "the TAP did not open as the only adapter";
        closeAdapters();
        return r;
    }
    selectedAdapter = 0;  // no local device: the tick only drains and dispatches
    busy.catchUpAndSet(true);
    std::vector<uint8_t> frame = stationReply();
    for (int i = 0; i < frames; ++i)
        if (!tap.write(frame)) {
            r.why = "TAP write failed";
            closeAdapters();
            return r;
        }
    // The kernel hands the frames to the helper's socket from its backlog, and
    // the helper moves them into the shared ring: wait for both, however loaded
    // the machine, then a little for the last batch's slots to be marked.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    while (!socketQueuesEmpty() && std::chrono::steady_clock::now() < giveUp);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    busy.catchUpAndSet(false);
    auto start = std::chrono::steady_clock::now();
    monitorTick();
    auto end = std::chrono::steady_clock::now();
    r.drainMicros = std::chrono::duration<double, std::micro>(end - start).count();

    // The first reply makes the entry, every further one counts a sighting.
    const RemoteStation& s = profiles[0].stations[0];
    if (s.inUse && std::memcmp(s.mac, stationMac.data(), 6) == 0)
        r.handled = 1 + s.seenCount;
    closeAdapters();
    r.ok = true;
    return r;
}

}  // namespace burst
