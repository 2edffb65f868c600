// 20,000 blank parameter blocks a second from one station through the kernel
// while the monitor ticks every 100 ms: prints the longest and the median tick,
// the frames the ticks took and the log rewrites. Makes its own network
// namespace and refuses otherwise.
#include "bench/blank_flood.h"
#include "support/netns.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    int seconds = 10;
    int perSecond = 20000;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--rate") == 0)
            perSecond = std::max(1, std::atoi(argv[i + 1]));
    }
    std::string why;
    if (!testsupport::enterPrivateNetns(&why)) {
        std::fprintf(stderr, "blank_flood_bench: refusing to run outside a private network namespace: %s\n",
                     why.c_str());
        return 2;
    }
    // plc.log goes to a scratch directory.
    std::string dir = (std::filesystem::temp_directory_path() / "blank_flood_bench.XXXXXX").string();
    if (!mkdtemp(dir.data()) || chdir(dir.c_str()) != 0) {
        std::fprintf(stderr, "blank_flood_bench: no scratch directory\n");
        return 2;
    }
    blankflood::Result r = blankflood::run(perSecond, seconds);
    std::filesystem::remove_all(dir);
    if (!r.ok) {
        std::fprintf(stderr, "blank_flood_bench: %s\n", r.why.c_str());
        return 2;
    }
    std::vector<double> times;
    long taken = 0;
    int rewrites = 0, maxTaken = 0;
    for (const blankflood::Tick& t : r.ticks) {
        times.push_back(t.micros);
        taken += t.framesTaken;
        rewrites += t.logRewrites;
        maxTaken = std::max(maxTaken, t.framesTaken);
    }
    std::sort(times.begin(), times.end());
    std::printf("flood_rate %d\nflood_seconds %d\nflood_frames_written %ld\nflood_ticks %zu\n", perSecond, seconds,
                r.framesWritten, r.ticks.size());
    std::printf("flood_tick_ms_max %.2f\nflood_tick_ms_median %.2f\n", times.back() / 1000,
                times[times.size() / 2] / 1000);
    std::printf("flood_frames_taken %ld\nflood_frames_taken_max_tick %d\nflood_log_rewrites %d\n", taken, maxTaken,
                rewrites);
    return 0;
}
