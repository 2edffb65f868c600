// A device that floods its adapter for ten seconds of virtual time while the
// 100 ms monitor runs a scan of the home network. Within what a tick takes
// (one receive ring, 512 frames, per adapter) the monitor keeps its schedule,
// drains every tick, holds no more memory at the end than after the first
// second, and lists the same stations with the same rates as without the
// flood. Beyond it (20,000 frames a second) every tick still takes at most a
// ring and the schedule stays the same; the rest waits.
#include "alloc_count.h"
#include "link/link.h"
#include "emulator/model.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "link/flags.h"
#include "zentrik/sim.h"
#include "emulator/sim_attach.h"
#include "platform/simclock.h"
#include "netstate/stations.h"
#include "platform/timers.h"
#include "frames/mac.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// Frames the system took through receiveFrame, counted by wrapping it at link time.
int framesTaken = 0;
extern "C" int __real__Z12receiveFramePhPj(uint8_t* buffer, uint32_t* length);
extern "C" int __wrap__Z12receiveFramePhPj(uint8_t* buffer, uint32_t* length)
{
    const int got = __real__Z12receiveFramePhPj(buffer, length);
    framesTaken += got;
    return got;
}

namespace {

constexpr uint32_t floodPerSecond = 5000;  // 500 frames a tick: within one ring
constexpr uint32_t overwhelmingPerSecond = 20000;
constexpr int ticks = 100;  // ten seconds
constexpr int settleTicks = 10;
// Blocks the monitor's own redraws may keep (the last station rows); a leak of
// one block per frame would be 2,000 a tick.
constexpr int64_t blockSlack = 64;

class RecordingView : public MonitorView {
public:
    void stepProgressBars() override { ++steps; }
    void showLinkQuality(const LinkQuality& q) override { rating = q.ratingText; }
    void fillStationList(const std::vector<StationRow>& r) override { rows = r; }
    void endScanDialog() override { ++scansEnded; }

    int steps = 0;
    int scansEnded = 0;
    std::string rating;
    std::vector<StationRow> rows;
};

struct SessionRun {
    std::vector<int> secondAfterTick;  // monitorSecond after each 100 ms
    int firings = 0;
    int maxPendingAfterTick = 0;
    int minPostedAfterTick = receiveSlotsPerAdapter;
    int64_t blocksAfterSettle = 0;
    int64_t maxBlocks = 0;
    size_t framesDelivered = 0;
    int maxTakenPerTick = 0;
    RecordingView view;
};

std::vector<std::string> sortedRows(const std::vector<StationRow>& rows)
{
    std::vector<std::string> out;
    for (const StationRow& r : rows)
        out.push_back(r.mac + " " + r.rate);
    std::sort(out.begin(), out.end());
    return out;
}

class FloodTest : public ::testing::Test {
protected:
    void TearDown() override { endSession(); }

    void endSession()
    {
        closeAdapters();
        emu::detachFromSimDriver();
        platform::clearTimers();
        setMonitorView(nullptr);
        zsim::reset();
    }

    // A session on home.json as the Device page starts it, then ten seconds of
    // monitor ticks with the device flooding at `perSecond`.
    void runSession(uint32_t perSecond, SessionRun& run)
    {
        zsim::reset();
        simclock::reset();
        platform::setTimerBackend(nullptr);
        platform::clearTimers();
        std::remove(profileFileName);
        std::memset(adapters, 0, sizeof adapters);
        busy.catchUpAndSet(true);
        sessionOpen = 0;
        selectedAdapter = 0;
        progressActive = 0;
        scanTimerId = 0;

        network.clear();
        std::string error;
        ASSERT_TRUE(emu::loadScenario(std::string(SCENARIO_DIR) + "/home.json", network, &error)) << error;
        network.adapter(0).device.faults.floodPerSecond = perSecond;
        network.adapter(0).device.faults.floodKind = emu::FloodKind::noise;
        emu::addSimAdapters(network);
        emu::attachToSimDriver(network);

        ASSERT_EQ(startSession(), 1);
        std::memcpy(profiles[0].adapterMac, adapters[0].ownMac, 6);
        setMonitorView(&run.view);
        busy.catchUpAndSet(false);
        ASSERT_NE(SetTimer(monitorIntervalMs, monitorTick), 0u);
        beginNetworkScan();
        progressActive = 1;

        for (int t = 0; t < ticks; ++t) {
            // The frames of the next 100 ms, spread evenly, all due by the tick.
            run.framesDelivered += emu::deliverFlood(network, 0, monitorIntervalMs);
            simclock::advance(monitorIntervalMs);
            framesTaken = 0;
            run.firings += platform::runDueTimers();
            run.maxTakenPerTick = std::max(run.maxTakenPerTick, framesTaken);
            zsim::clearSent();  // the driver's record of sent frames is the test's, not the system's
            run.secondAfterTick.push_back(monitorSecond);
            run.maxPendingAfterTick = std::max(run.maxPendingAfterTick, zsim::pendingFrames(0));
            run.minPostedAfterTick = std::min(run.minPostedAfterTick, zsim::postedReads(0));
            int64_t blocks = alloccount::liveBlocks();
            if (t == settleTicks)
                run.blocksAfterSettle = blocks;
            if (t >= settleTicks)
                run.maxBlocks = std::max(run.maxBlocks, blocks);
        }
        endSession();
    }

    emu::Network network;
};

TEST_F(FloodTest, MonitorKeepsScheduleMemoryAndStationsUnderFlood)
{
    SessionRun quiet;
    runSession(0, quiet);
    ASSERT_FALSE(HasFatalFailure());
    SessionRun flooded;
    runSession(floodPerSecond, flooded);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(quiet.framesDelivered, 0u);
    EXPECT_EQ(flooded.framesDelivered, size_t{floodPerSecond} * ticks / 10);

    // The monitor ticked every 100 ms and walked its numbered seconds exactly as without the flood.
    EXPECT_EQ(flooded.firings, ticks);
    EXPECT_EQ(flooded.firings, quiet.firings);
    EXPECT_EQ(flooded.secondAfterTick, quiet.secondAfterTick);
    EXPECT_GT(flooded.secondAfterTick.back(), flooded.secondAfterTick.front());

    // Each tick took everything that had arrived and re-posted every read: at
    // most the replies to the tick's own queries wait for the next one.
    EXPECT_LE(flooded.maxPendingAfterTick, 16);
    EXPECT_EQ(flooded.minPostedAfterTick, receiveSlotsPerAdapter);

    // Memory flat: no more heap blocks held after ten seconds than after one.
    EXPECT_LE(flooded.maxBlocks - flooded.blocksAfterSettle, blockSlack)
        << "held " << flooded.blocksAfterSettle << " blocks after 1 s, up to " << flooded.maxBlocks << " later";

    // The scan ended once, with the same stations, rates and rating as the quiet run.
    EXPECT_EQ(flooded.view.scansEnded, 1);
    EXPECT_EQ(flooded.view.rating, quiet.view.rating);
    EXPECT_EQ(sortedRows(flooded.view.rows), sortedRows(quiet.view.rows));

    // Those are the stations of home.json that share the device's network, at
    // the rates their link values give.
    std::vector<StationRow> expected;
    for (const emu::RemoteStation& s : network.adapter(0).stations) {
        if (!network.reaches(0, s))
            continue;
        char rate[32];
        std::snprintf(rate, sizeof rate, "%.2f", rateFromLinkValue(s.linkValue));
        expected.push_back({frames::Mac::of(s.mac.data()).text(), rate});
    }
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(sortedRows(flooded.view.rows), sortedRows(expected));
    EXPECT_FALSE(flooded.view.rating.empty());
    EXPECT_LE(flooded.maxTakenPerTick, receiveSlotsPerAdapter);
}

TEST_F(FloodTest, BeyondARingATickTakesOneRingAndKeepsTheSchedule)
{
    SessionRun quiet;
    runSession(0, quiet);
    ASSERT_FALSE(HasFatalFailure());
    SessionRun flooded;
    runSession(overwhelmingPerSecond, flooded);
    ASSERT_FALSE(HasFatalFailure());

    EXPECT_EQ(flooded.framesDelivered, size_t{overwhelmingPerSecond} * ticks / 10);
    EXPECT_EQ(flooded.maxTakenPerTick, receiveSlotsPerAdapter);
    EXPECT_EQ(flooded.secondAfterTick, quiet.secondAfterTick);
    // The scan's reply waits behind the flood: the scan timer ends it.
    EXPECT_EQ(flooded.view.scansEnded, 1);
}

}  // namespace
