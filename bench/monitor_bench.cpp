// One monitor tick on idle rings: every adapter's 512 reads are queried and
// none has a frame. Simulated driver, so this is the system's own cost.
#include "link/link.h"
#include "netstate/monitor.h"
#include "link/flags.h"
#include "zentrik/sim.h"
#include "platform/simclock.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

void openIdle(int count)
{
    closeAdapters();
    zsim::reset();
    simclock::reset();
    for (int i = 0; i < count; ++i) {
        const uint8_t mac[6] = {0x02, 0x50, 0x8B, 0, 0, static_cast<uint8_t>(i + 1)};
        zsim::addAdapter("sim" + std::to_string(i), mac);
    }
    openAdapters();
    selectedAdapter = 0;
    busy.catchUpAndSet(false);
    // No device: the tick drains and counts but sends nothing.
    for (int a = 0; a < adapterCount; ++a)
        adapters[a].devicePresent = 0;
}

void BM_MonitorTickIdle(benchmark::State& state)
{
    openIdle(static_cast<int>(state.range(0)));
    for (auto _ : state)
        monitorTick();
    state.counters["adapters"] = static_cast<double>(adapterCount);
    closeAdapters();
}
BENCHMARK(BM_MonitorTickIdle)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
