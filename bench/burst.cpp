#include "bench/burst.h"

#include "link/link.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "link/session.h"
#include "support/sim_frames.h"
#include "support/tap.h"

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace burst {

namespace {
constexpr simframes::Mac hostMac = {0x02, 0xb7, 0x1c, 0x00, 0x00, 0x61};
constexpr simframes::Mac stationMac = {0x02, 0xb7, 0x1c, 0x20, 0x00, 0x61};

// StationReply from one remote station to the adapter.
std::vector<uint8_t> stationReply() { return simframes::frame(hostMac, stationMac, 0x08, 0); }
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
    busy = 1;
    std::vector<uint8_t> frame = stationReply();
    for (int i = 0; i < frames; ++i)
        if (!tap.write(frame)) {
            r.why = "TAP write failed";
            closeAdapters();
            return r;
        }
    // The kernel hands the frames to the socket from its backlog; let it finish.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    busy = 0;
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
