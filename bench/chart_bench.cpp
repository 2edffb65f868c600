// Time to open a station's history window on a month of samples of fifteen
// stations at two replies a minute (about 1.3 million samples): from the
// window's creation to its first complete picture, for each span.
//
//   chart_bench [DATABASE]
//
// Without a database one is filled first (history_fill --month) in a scratch
// folder. Prints one "name value" line per measure, in ms (median of 9 opens).
#include "support/history_fill.h"
#include "ui/history_window.h"

#include <QApplication>
#include <QPixmap>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// The month ends here: 2026-03-31 00:00 UTC.
constexpr int64_t endMs = 1774915200000;
int64_t endClock() { return endMs; }

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The process's own CPU time: on a busy machine the wall time also counts waits for a core.
double cpuMs()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    std::string database;
    std::string scratch;
    if (argc > 1) {
        database = argv[1];
    } else {
        char folder[] = "/tmp/chart_bench.XXXXXX";
        if (!mkdtemp(folder)) {
            std::perror("chart_bench: mkdtemp");
            return 1;
        }
        scratch = folder;
        database = scratch + "/history.sqlite3";
        emu::Network network;
        std::string error;
        if (!historyfill::fifteenStations(std::string(SCENARIO_DIR) + "/evening.json", network, &error) ||
            !historyfill::recordModel(network, database, endMs - 30 * historyfill::dayMs, 30 * historyfill::dayMs,
                                      &error)) {
            std::fprintf(stderr, "chart_bench: %s\n", error.c_str());
            return 1;
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    HistoryWindow::setDatabasePath(database);
    HistoryWindow::setClock(endClock);
    const QString station = QStringLiteral("02:b7:1c:20:01:00");

    const struct {
        const char* name;
        HistorySpan span;
    } spans[] = {{"hour", HistorySpan::hour},
                 {"day", HistorySpan::day},
                 {"week", HistorySpan::week},
                 {"month", HistorySpan::month}};
    int status = 0;
    for (const auto& s : spans) {
        std::vector<double> open, query, openCpu;
        size_t points = 0;
        for (int i = 0; i < 9; ++i) {
            auto start = std::chrono::steady_clock::now();
            StationChart c = loadStationChart(database, station.toStdString(), s.span, endMs);
            query.push_back(msSince(start));
            points = 0;
            for (const auto& run : c.runs)
                points += run.size();

            start = std::chrono::steady_clock::now();
            const double cpu = cpuMs();
            {
                HistoryWindow window(station, nullptr, s.span);
                window.show();
                QPixmap picture = window.grab();
                open.push_back(msSince(start));
                openCpu.push_back(cpuMs() - cpu);
                if (picture.isNull())
                    status = 1;
            }
        }
        std::printf("chart_open_%s_ms %.1f\nchart_open_%s_cpu_ms %.1f\nchart_query_%s_ms %.1f\nchart_points_%s %zu\n",
                    s.name, median(open), s.name, median(openCpu), s.name, median(query), s.name, points);
    }
    if (!scratch.empty())
        std::system(("rm -rf '" + scratch + "'").c_str());
    return status;
}
