// The link history's costs: recording one reply of 15 stations, a month of
// such replies at two a minute (about 1.3 million samples) queried back, the
// file's size, and the longest monitor tick while a month-old store records
// and prunes. The ticks run on the simulated driver and clock against the
// emulated home network, so no interface is opened.
//   history_bench [DIR] [BRENNICCTL]   DIR: where the store is made (default a
//   fresh folder under /tmp); BRENNICCTL: also time the command line on it.
#include "emulator/model.h"
#include "emulator/sim_attach.h"
#include "history/history.h"
#include "netstate/monitor.h"
#include "platform/simclock.h"
#include "session/recording.h"
#include "session/session.h"
#include "zentrik/sim.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <ctime>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

constexpr int stations = 15;
constexpr int64_t replyEveryMs = 30000;
constexpr int64_t dayMs = 86400000;

std::string mac(int i)
{
    char text[18];
    std::snprintf(text, sizeof text, "02:b7:1c:20:00:%02x", i + 1);
    return text;
}

// A reply as the monitor would give it: rates on a daily curve with an evening
// dip and some noise, now and then a station without an estimate.
history::Reply reply(int64_t t, uint32_t& seed)
{
    history::Reply r;
    r.timeMs = t;
    r.adapter = "02:b7:1c:00:00:01";
    r.adapterName = "eth1";
    r.device = "02:b7:1c:10:1d:01";
    double hour = static_cast<double>(t % dayMs) / 3600000.0;
    double curve = 1.0 - 0.5 * std::exp(-std::pow((hour - 19.5) / 1.5, 2));
    double sum = 0;
    int rated = 0;
    for (int i = 0; i < stations; ++i) {
        seed = seed * 1664525u + 1013904223u;
        double noise = static_cast<double>(seed >> 8) / 16777216.0;
        if ((seed & 0x3f) == 0) {
            r.stations.push_back({mac(i), std::nullopt});
            continue;
        }
        double rate = (1.0 + i * 0.8) * curve * (0.9 + 0.2 * noise);
        r.stations.push_back({mac(i), rate});
        sum += rate;
        ++rated;
    }
    r.averageMbps = sum / rated;
    r.rating = *r.averageMbps < 0.905  ? "Link Quality: Poor"
               : *r.averageMbps <= 2.5 ? "Link Quality: Fair"
                                       : "Link Quality: Excellent";
    return r;
}

double fileMb(const std::string& path)
{
    double total = 0;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        struct stat st {};
        if (stat((path + suffix).c_str(), &st) == 0)
            total += static_cast<double>(st.st_size);
    }
    return total / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// brennicctl with `args`, its output to /dev/null; wall time in ms, -1 on failure.
double timeCommand(const std::string& program, std::vector<std::string> args)
{
    std::vector<char*> argv{const_cast<char*>("brennicctl")};
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto start = Clock::now();
    pid_t pid = 0;
    int status = 0;
    bool ok = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0 &&
              waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    double ms = msSince(start);
    posix_spawn_file_actions_destroy(&actions);
    return ok ? ms : -1;
}

// Monitor ticks for `minutes` of virtual time on the emulated home network,
// recording into `path` (empty: no history); the real time of the longest.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Wall time counts the moments a loaded machine gives the CPU to someone
// else; the thread's CPU time does not.
struct Ticks {
    double longestMs = 0, medianMs = 0, longestCpuMs = 0;
    int ticks = 0;
    int recorded = 0;
};
Ticks runTicks(const std::string& path, int retentionDays, int minutes, const std::string& scenario)
{
    Ticks result;
    zsim::reset();
    simclock::reset();
    // A fresh process as far as the session and the monitor know: the timers went with the clock.
    session::resetSessionState();
    resetNetstateState();
    emu::Network network;
    std::string why;
    if (!emu::loadScenario(scenario, network, &why)) {
        std::fprintf(stderr, "history_bench: %s\n", why.c_str());
        std::exit(1);
    }
    emu::addSimAdapters(network);
    emu::attachToSimDriver(network);
    if (!path.empty() && !session::openHistory(path, retentionDays))
        std::exit(1);
    simclock::setPollCost(1000);
    if (!session::start().started) {
        std::fprintf(stderr, "history_bench: the emulated session did not start\n");
        std::exit(1);
    }
    simclock::setPollCost(100);
    history::Store reader;
    history::Filter lastDay;
    lastDay.sinceMs = history::nowMs() - dayMs;
    int before = 0;
    if (!path.empty() && reader.open(path, history::Store::Mode::readOnly))
        before = static_cast<int>(reader.replies(lastDay).size());
    std::vector<double> times;
    for (int i = 0; i < minutes * 600; ++i) {
        simclock::advance(monitorIntervalMs);
        const double cpu = threadCpuMs();
        auto start = Clock::now();
        session::service();
        times.push_back(msSince(start));
        result.longestCpuMs = std::max(result.longestCpuMs, threadCpuMs() - cpu);
    }
    result.longestMs = *std::max_element(times.begin(), times.end());
    result.medianMs = median(times);
    result.ticks = static_cast<int>(times.size());
    if (!path.empty())
        result.recorded = static_cast<int>(reader.replies(lastDay).size()) - before;
    session::closeHistory();
    session::end();
    emu::detachFromSimDriver();
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string dir = argc > 1 ? argv[1] : "";
    if (dir.empty()) {
        char pattern[] = "/tmp/history-bench.XXXXXX";
        if (!mkdtemp(pattern))
            return 1;
        dir = pattern;
    }
    const std::string brennicctl = argc > 2 ? argv[2] : "";
    const std::string path = dir + "/month.sqlite3";
    std::remove(path.c_str());

    // A month, one transaction per reply as the monitor records them.
    history::Store store;
    if (!store.open(path)) {
        std::fprintf(stderr, "history_bench: %s\n", store.error().c_str());
        return 1;
    }
    const int64_t now = history::nowMs();
    const int64_t first = now - 30 * dayMs + replyEveryMs;
    uint32_t seed = 12345;
    std::vector<double> recordUs, recordCpuUs;
    auto fillStart = Clock::now();
    int replies = 0;
    for (int64_t t = first; t <= now; t += replyEveryMs, ++replies) {
        history::Reply r = reply(t, seed);
        const double cpu = threadCpuMs();
        auto start = Clock::now();
        if (!store.record(r)) {
            std::fprintf(stderr, "history_bench: %s\n", store.error().c_str());
            return 1;
        }
        recordUs.push_back(msSince(start) * 1000);
        recordCpuUs.push_back((threadCpuMs() - cpu) * 1000);
    }
    double fillS = msSince(fillStart) / 1000;
    store.close();
    std::printf("history_replies %d\n", replies);
    std::printf("history_samples %d\n", replies * stations);
    std::printf("history_fill_s %.1f\n", fillS);
    std::printf("history_record_us_median %.0f\n", median(recordUs));
    std::sort(recordUs.begin(), recordUs.end());
    std::printf("history_record_us_p99 %.0f\n", recordUs[recordUs.size() * 99 / 100]);
    std::printf("history_record_us_max %.0f\n", recordUs.back());
    std::sort(recordCpuUs.begin(), recordCpuUs.end());
    std::printf("history_record_cpu_us_p99 %.0f\n", recordCpuUs[recordCpuUs.size() * 99 / 100]);
    std::printf("history_record_cpu_us_max %.0f\n", recordCpuUs.back());

    // Sizes once the last writer has gone (the log checkpointed into the file).
    const double monthMb = fileMb(path);
    std::printf("history_month_mb %.1f\n", monthMb);
    std::printf("history_90d_projected_mb %.1f\n", monthMb * 3);

    if (!store.open(path, history::Store::Mode::readOnly))
        return 1;
    double cpuMs = 0;  // of the last best(): the least CPU time of its rounds
    auto best = [&cpuMs](int rounds, auto&& body) {
        double ms = 1e18;
        cpuMs = 1e18;
        for (int i = 0; i < rounds; ++i) {
            const double cpu = threadCpuMs();
            auto start = Clock::now();
            body();
            ms = std::min(ms, msSince(start));
            cpuMs = std::min(cpuMs, threadCpuMs() - cpu);
        }
        return ms;
    };
    size_t rows = 0;
    history::Filter month;
    month.sinceMs = now - 30 * dayMs;
    double allMs = best(3, [&] { rows = store.samples(month).size(); });
    std::printf("history_month_query_rows %zu\n", rows);
    std::printf("history_month_query_ms %.0f\n", allMs);
    std::printf("history_month_query_cpu_ms %.0f\n", cpuMs);
    history::Filter one = month;
    one.station = mac(7);
    double stationMs = best(3, [&] { rows = store.samples(one).size(); });
    std::printf("history_month_station_rows %zu\n", rows);
    std::printf("history_month_station_ms %.0f\n", stationMs);
    std::printf("history_month_station_cpu_ms %.0f\n", cpuMs);
    double bucketMs = best(3, [&] { rows = store.buckets(month, 3600000).size(); });
    std::printf("history_month_hourly_rows %zu\n", rows);
    std::printf("history_month_hourly_ms %.0f\n", bucketMs);
    std::string metrics;
    double metricsMs = best(3, [&] { metrics = history::metricsText(store.latest()); });
    std::printf("history_metrics_ms %.2f\n", metricsMs);
    store.close();

    if (!brennicctl.empty()) {
        double plain = 1e18, json = 1e18, station = 1e18;
        for (int i = 0; i < 3; ++i) {
            plain = std::min(plain, timeCommand(brennicctl, {"history", "--since", "30d", "--history", path}));
            json = std::min(json, timeCommand(brennicctl, {"history", "--json", "--since", "30d", "--history", path}));
            station = std::min(station, timeCommand(brennicctl, {"history", "--json", "--since", "30d", "--station",
                                                                 mac(7), "--history", path}));
        }
        std::printf("history_cli_month_plain_ms %.0f\n", plain);
        std::printf("history_cli_month_json_ms %.0f\n", json);
        std::printf("history_cli_month_station_json_ms %.0f\n", station);
        std::printf("history_cli_metrics_ms %.0f\n", timeCommand(brennicctl, {"metrics", "--history", path}));
    }

    // The monitor ticks, without history and then recording into the month's
    // store with a retention of 29 days, so that every reply also prunes a full batch.
    const std::string scenario = std::string(BENCH_SCENARIO_DIR) + "/home.json";
    Ticks off = runTicks("", 90, 10, scenario);
    Ticks on = runTicks(path, 29, 10, scenario);
    std::printf("tick_off_longest_ms %.3f\n", off.longestMs);
    std::printf("tick_off_median_ms %.4f\n", off.medianMs);
    std::printf("tick_off_longest_cpu_ms %.3f\n", off.longestCpuMs);
    std::printf("tick_on_longest_ms %.3f\n", on.longestMs);
    std::printf("tick_on_longest_cpu_ms %.3f\n", on.longestCpuMs);
    std::printf("tick_on_median_ms %.4f\n", on.medianMs);
    std::printf("tick_ticks %d\n", on.ticks);
    std::printf("tick_on_recorded %d\n", on.recorded);
    std::printf("history_after_prune_mb %.1f\n", fileMb(path));
    if (argc <= 1)
        std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
