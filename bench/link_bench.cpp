// The receive ring's cost on the simulated driver: what a take costs the link
// itself, without the kernel.
#include "link/link.h"
#include "zentrik/sim.h"
#include "platform/simclock.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> mgmtFrame()
{
    std::vector<uint8_t> f(60, 0);
    std::memset(f.data(), 0xFF, 6);
    f[12] = 0x88;
    f[13] = 0x7B;
    return f;
}

void openOne()
{
    closeAdapters();
    zsim::reset();
    simclock::reset();
    const uint8_t mac[6] = {0x02, 0x50, 0x8B, 0, 0, 1};
    zsim::addAdapter("sim0", mac);
    openAdapters();
    currentAdapterHandle = adapters[0].handle;
}

// The monitor's last take of every tick: all 512 slots queried, none done.
void BM_TakeEmptyRing(benchmark::State& state)
{
    openOne();
    for (auto _ : state)
        benchmark::DoNotOptimize(takeReceived(0));
    closeAdapters();
}
BENCHMARK(BM_TakeEmptyRing);

// Every slot completed: the take stops at slot 0. Marking slot 0 done again
// stands in for the driver so the ring stays full.
void BM_TakeFullRing(benchmark::State& state)
{
    openOne();
    std::vector<uint8_t> frame = mgmtFrame();
    for (int i = 0; i < receiveSlotsPerAdapter; ++i)
        zsim::deliver(0, frame);
    for (auto _ : state) {
        uint8_t* record = takeReceived(0);
        benchmark::DoNotOptimize(record);
        putU32(record, readrec::status, readrec::statusDone);
    }
    closeAdapters();
}
BENCHMARK(BM_TakeFullRing);

// Taking and re-posting a whole burst of 512: each take scans past the slots
// already re-posted, so the drain is quadratic in the burst.
void BM_DrainFullRing(benchmark::State& state)
{
    openOne();
    std::vector<uint8_t> frame = mgmtFrame();
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < receiveSlotsPerAdapter; ++i)
            zsim::deliver(0, frame);
        state.ResumeTiming();
        int taken = 0;
        while (uint8_t* record = takeReceived(0)) {
            repostReceive(record);
            ++taken;
        }
        if (taken != receiveSlotsPerAdapter)
            state.SkipWithError("burst not drained whole");
    }
    state.SetItemsProcessed(state.iterations() * receiveSlotsPerAdapter);
    closeAdapters();
}
BENCHMARK(BM_DrainFullRing);

}  // namespace

BENCHMARK_MAIN();
