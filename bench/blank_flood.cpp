#include "bench/blank_flood.h"

#include "link/flags.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "support/sim_frames.h"
#include "support/tap.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>

namespace {
int framesTaken = 0;
int logRewrites = 0;
}  // namespace

extern "C" int __real__Z12receiveFramePhPj(uint8_t* buffer, uint32_t* length);
extern "C" int __wrap__Z12receiveFramePhPj(uint8_t* buffer, uint32_t* length)
{
    const int got = __real__Z12receiveFramePhPj(buffer, length);
    framesTaken += got;
    return got;
}

extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __wrap_rename(const char* from, const char* to)
{
    const int result = __real_rename(from, to);
    if (result == 0 && std::strcmp(to, "plc.log") == 0)
        ++logRewrites;
    return result;
}

namespace blankflood {

namespace {
using Clock = std::chrono::steady_clock;

constexpr simframes::Mac hostMac = {0x02, 0xb7, 0x1c, 0x00, 0x00, 0x71};
constexpr simframes::Mac stationMac = {0x02, 0xb7, 0x1c, 0x20, 0x00, 0x71};

// ParamReply (length 0x33), block kind 1, all 50 bytes 0xFF: an erased block.
std::vector<uint8_t> blankBlock()
{
    simframes::Bytes body(51, 0xFF);
    body[0] = 1;
    return simframes::frame(hostMac, stationMac, 0x19, 0x33, body, 68);
}
}  // namespace

Result run(int perSecond, int seconds)
{
    Result r;
    testsupport::TapDevice tap;
    if (!tap.create("flood0", hostMac.data(), true, &r.why))
        return r;
    std::memset(adapters, 0, sizeof adapters);
    if (!openAdapters() || adapterCount != 1) {
        r.why = "the TAP did not open as the only adapter";
        closeAdapters();
        return r;
    }
    selectedAdapter = 0;  // no local device: the tick drains, dispatches and counts
    monitorTicks = 0;
    monitorSecond = 0;
    busy.catchUpAndSet(false);

    // Frames are written on a schedule of their own, caught up in bursts when
    // the writer falls behind, so the rate holds on average.
    const long total = long(perSecond) * seconds;
    std::atomic<long> written{0};
    std::atomic<bool> failed{false};
    const Clock::time_point start = Clock::now();
    std::thread writer([&] {
        const std::vector<uint8_t> frame = blankBlock();
        long sent = 0;
        while (sent < total) {
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            const long due = std::min(total, long(elapsed * perSecond) + 1);
            for (; sent < due; ++sent)
                if (!tap.write(frame)) {
                    failed = true;
                    return;
                }
            written = sent;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });

    const int ticks = seconds * 10 + 2;
    for (int t = 1; t <= ticks; ++t) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(100 * t));
        framesTaken = 0;
        logRewrites = 0;
        const Clock::time_point before = Clock::now();
        monitorTick();
        const Clock::time_point after = Clock::now();
        r.ticks.push_back({std::chrono::duration<double, std::micro>(after - before).count(), framesTaken, logRewrites,
                           monitorTicks, monitorSecond});
    }
    writer.join();
    closeAdapters();
    r.framesWritten = written;
    if (failed) {
        r.why = "TAP write failed";
        return r;
    }
    r.ok = true;
    return r;
}

}  // namespace blankflood
