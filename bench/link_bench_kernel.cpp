// The packet link through the real kernel: AF_PACKET sockets on TAP
// interfaces in a network namespace of the benchmark's own. It refuses to run
// anywhere else, so it never opens this machine's adapters.
#include "link/link.h"
#include "support/netns.h"
#include "support/tap.h"
#include "zentrik/zentrik.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace {

std::deque<testsupport::TapDevice> taps;

bool addTaps(int count)
{
    while (static_cast<int>(taps.size()) < count) {
        uint8_t mac[6] = {0x02, 0x50, 0x8B, 0, 0, static_cast<uint8_t>(taps.size() + 1)};
        taps.emplace_back();
        std::string why;
        if (!taps.back().create("tap" + std::to_string(taps.size() - 1), mac, true, &why)) {
            std::fprintf(stderr, "link_bench_kernel: %s\n", why.c_str());
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> mgmtFrame(uint16_t seq)
{
    std::vector<uint8_t> f(60, 0);
    std::memset(f.data(), 0xFF, 6);
    f[6] = 0x02;
    f[12] = 0x88;
    f[13] = 0x7B;
    f[14] = static_cast<uint8_t>(seq >> 8);
    f[15] = static_cast<uint8_t>(seq);
    return f;
}

// 512 recv calls that find nothing: the cost of the monitor's final take.
void BM_KernelTakeEmptyRing(benchmark::State& state)
{
    openAdapters();
    currentAdapterHandle = adapters[0].handle;
    for (auto _ : state)
        benchmark::DoNotOptimize(takeReceived(0));
    closeAdapters();
}

// A burst of 512 frames held by the kernel, taken and re-posted whole.
void BM_KernelDrainBurst512(benchmark::State& state)
{
    openAdapters();
    currentAdapterHandle = adapters[0].handle;
    std::vector<std::vector<uint8_t>> burst;
    for (int i = 0; i < receiveSlotsPerAdapter; ++i)
        burst.push_back(mgmtFrame(static_cast<uint16_t>(i)));
    for (auto _ : state) {
        state.PauseTiming();
        for (const auto& frame : burst)
            taps[0].write(frame);
        state.ResumeTiming();
        // Bounded by the clock, not by a count of empty takes: those cost a few
        // nanoseconds, less in all than the helper needs to move a burst.
        int taken = 0;
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (taken < receiveSlotsPerAdapter) {
            if (uint8_t* record = takeReceived(0)) {
                repostReceive(record);
                ++taken;
            } else if (std::chrono::steady_clock::now() > giveUp) {
                break;
            }
        }
        if (taken != receiveSlotsPerAdapter) {
            state.SkipWithError("burst not drained whole");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * receiveSlotsPerAdapter);
    closeAdapters();
}

// A whole session's open and close with four adapters.
void BM_KernelOpenClose4(benchmark::State& state)
{
    for (auto _ : state) {
        openAdapters();
        if (adapterCount != 4) {
            state.SkipWithError("expected four adapters");
            break;
        }
        closeAdapters();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string why;
    if (!testsupport::enterPrivateNetns(&why)) {
        std::fprintf(stderr, "link_bench_kernel: refusing to run outside a private network namespace: %s\n",
                     why.c_str());
        return 1;
    }
    if (!addTaps(4))
        return 1;
    benchmark::RegisterBenchmark("BM_KernelTakeEmptyRing", BM_KernelTakeEmptyRing);
    benchmark::RegisterBenchmark("BM_KernelDrainBurst512", BM_KernelDrainBurst512)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_KernelOpenClose4", BM_KernelOpenClose4)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    taps.clear();
    return 0;
}
