// Fills a history database with what the emulator produced, for the README's
// picture, the chart's benchmark and a look by hand:
//
//   history_fill DATABASE [--day | --month] [--scenario FILE] [--end UTC_MS]
//
// --day (the default) runs brennic's monitor on the simulated driver and the
// virtual clock through the day before the end against the scenario (default
// evening.json): the session records every reply as it would on a real network.
// --month records the scenario's daily curves for fifteen stations, twice a
// minute for the thirty days before the end, straight from the model (ticking
// the monitor through a month would take minutes). The end defaults to now.
#include "support/history_fill.h"

#include "history/history.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
constexpr const char* usage = "Usage: history_fill DATABASE [--day | --month] [--scenario FILE] [--end UTC_MS]\n";
}

int main(int argc, char** argv)
{
    std::string database, scenario = std::string(SCENARIO_DIR) + "/evening.json";
    bool month = false;
    int64_t end = history::nowMs();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--day") {
            month = false;
        } else if (arg == "--month") {
            month = true;
        } else if (arg == "--scenario" && i + 1 < argc) {
            scenario = argv[++i];
        } else if (arg == "--end" && i + 1 < argc) {
            end = std::strtoll(argv[++i], nullptr, 10);
        } else if (arg.empty() || arg[0] == '-' || !database.empty()) {
            std::fputs(usage, stderr);
            return 2;
        } else {
            database = arg;
        }
    }
    if (database.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::string error;
    bool ok;
    if (month) {
        emu::Network network;
        ok =
            historyfill::fifteenStations(scenario, network, &error) &&
            historyfill::recordModel(network, database, end - 30 * historyfill::dayMs, 30 * historyfill::dayMs, &error);
    } else {
        ok = historyfill::runMonitor(scenario, database, end - historyfill::dayMs, historyfill::dayMs, &error);
    }
    if (!ok) {
        std::fprintf(stderr, "history_fill: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
