// check: a monitoring plugin over the link history. One status line, the
// plugins' exit statuses; judged by the same rule brennic's notifications use.
#include "cli/cli.h"

#include "history/history.h"
#include "session/degradation.h"

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace cli {

namespace {

std::string mbps(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

// Thresholds are the plugins' ranges: "X:" alerts below X.
std::string threshold(const std::optional<double>& normal, double fraction)
{
    if (!normal)
        return "";
    char text[40];
    std::snprintf(text, sizeof text, "%.3f:", fraction * *normal);
    return text;
}

int report(std::FILE* out, int status, const std::string& text)
{
    static const char* const words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    std::fprintf(out, "BRENNIC %s - %s\n", words[status], text.c_str());
    return std::fflush(out) == 0 ? status : checkUnknown;
}

}  // namespace

int runCheckCommand(const Invocation& inv, std::FILE* out)
{
    const std::string path = inv.historyFile.empty() ? history::defaultPath() : inv.historyFile;
    struct stat file {};
    if (path.empty() || (stat(path.c_str(), &file) != 0 && errno == ENOENT))
        return report(out, checkUnknown, "no link history" + (path.empty() ? "" : " at " + path));
    history::Store store;
    if (!store.open(path, history::Store::Mode::readOnly))
        return report(out, checkUnknown, "history: " + store.error());

    const int64_t now = history::nowMs();
    session::DegradationRule critical, warning;
    critical.fraction = inv.critical;
    warning.fraction = inv.warning;

    std::vector<uint64_t> stations;
    const std::vector<history::Latest> links = store.latest();
    if (store.failed())
        return report(out, checkUnknown, "history: " + store.error());
    for (const history::Latest& link : links)
        for (const history::Sample& s : link.stations)
            if (std::find(stations.begin(), stations.end(), s.station) == stations.end())
                stations.push_back(s.station);
    std::sort(stations.begin(), stations.end());
    if (!inv.station.empty()) {
        const uint64_t mac = history::Mac::parse(inv.station).value_or(history::Mac()).number();
        if (std::find(stations.begin(), stations.end(), mac) == stations.end())
            return report(out, checkUnknown, "station " + inv.station + " is not in the history");
        stations = {mac};
    }

    int status = checkOk;
    int heard = 0, judged = 0;
    std::string findings, perf;
    for (uint64_t mac : stations) {
        const std::string name = history::Mac(mac).text();
        const std::vector<history::Sample> samples = session::stationSamples(store, name, now - critical.normalMs, now);
        if (store.failed())
            return report(out, checkUnknown, "history: " + store.error());
        // Gone for a week: nothing to judge, and nothing to draw.
        if (samples.empty())
            continue;
        ++heard;
        const std::optional<double> normal = session::normalRate(samples, now, critical);
        judged += normal ? 1 : 0;
        const std::optional<double> current = samples.back().rateMbps;
        std::string finding;
        if (session::degradedNow(samples, now, normal, critical)) {
            status = std::max(status, checkCritical);
            finding = " degraded";
        } else if (normal && session::degradedNow(samples, now, normal, warning)) {
            status = std::max(status, checkWarning);
            finding = " below " + std::to_string(static_cast<int>(inv.warning * 100 + 0.5)) + "% of normal";
        }
        if (!finding.empty())
            findings += (findings.empty() ? "" : ", ") + name + finding + ": " +
                        (current ? mbps(*current) + " Mbps" : "no rate") +
                        (normal ? ", normal " + mbps(*normal)
                                : std::string(", ") + history::rating::words[history::rating::poor]);
        perf += " '" + name + "'=" + (current ? mbps(*current) : "U") + ";" + threshold(normal, inv.warning) + ";" +
                threshold(normal, inv.critical) + ";0;";
    }
    if (heard == 0)
        return report(out, checkUnknown,
                      inv.station.empty() ? "no station heard in the last 7 days"
                                          : "station " + inv.station + " not heard in the last 7 days");
    const std::string count = std::to_string(heard) + (heard == 1 ? " station" : " stations");
    if (status == checkOk && judged == 0)
        return report(out, checkUnknown, count + ", none with 24 h of history yet |" + perf);
    std::string text = status == checkOk ? count + ", none degraded" : findings + " (" + count + ")";
    if (judged < heard)
        text += "; " + std::to_string(heard - judged) + " without 24 h of history yet";
    return report(out, status, text + " |" + perf);
}

}  // namespace cli
