// history and metrics: the link history read alone. No adapter, no helper and
// no instance lock, so that both run while brennic or `watch` records.
#include "cli/cli.h"
#include "cli/output.h"

#include "history/history.h"
#include "platform/files.h"

#include <cerrno>
#include <deque>
#include <map>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

enum class Format { plain, json, csv };

// Rates are kept to the kbit/s: three decimals say all there is.
std::string rate(const std::optional<double>& mbps, Format format)
{
    if (!mbps)
        return format == Format::json ? "null" : format == Format::csv ? "" : "*";
    char text[40];
    std::snprintf(text, sizeof text, format == Format::plain ? "%.2f" : "%.3f", *mbps);
    return text;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The MAC of interface `name` in this network namespace: no privilege needed.
bool interfaceMac(const std::string& name, std::string* mac)
{
    ifreq request{};
    if (name.empty() || name.size() >= sizeof request.ifr_name)
        return false;
    std::memcpy(request.ifr_name, name.data(), name.size());
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool ok = ioctl(fd, SIOCGIFHWADDR, &request) == 0;
    ::close(fd);
    if (!ok)
        return false;
    uint64_t value = 0;
    for (int i = 0; i < 6; ++i)
        value = value << 8 | static_cast<uint8_t>(request.ifr_hwaddr.sa_data[i]);
    *mac = history::Mac(value).text();
    return true;
}

// A month is a million rows of a few dozen MACs and one time per reply: each
// text is made once.
class Texts {
public:
    const std::string& mac(uint64_t value)
    {
        for (const auto& [v, text] : macs_)
            if (v == value)
                return text;
        macs_.emplace_back(value, history::Mac(value).text());
        return macs_.back().second;
    }
    const std::string& time(long long ms)
    {
        if (ms != timeMs_ || time_.empty()) {
            timeMs_ = ms;
            time_ = history::isoTime(ms);
        }
        return time_;
    }

private:
    std::deque<std::pair<uint64_t, std::string>> macs_;  // references stay valid as it grows
    long long timeMs_ = 0;
    std::string time_;
};

// A station's name as a column ("-" for none) or as JSON (null), each made
// once: a month is a million rows.
class NameText {
public:
    explicit NameText(const session::NameMap& names) : names_(names)
    {
        for (const auto& [station, name] : names)
            json_[station] = documentText(Json(name), true);
    }
    const char* cell(uint64_t station) const
    {
        const auto it = names_.find(station);
        return it == names_.end() ? "-" : it->second.c_str();
    }
    const char* json(uint64_t station) const
    {
        const auto it = json_.find(station);
        return it == json_.end() ? "null" : it->second.c_str();
    }

private:
    const session::NameMap& names_;
    std::map<uint64_t, std::string> json_;
};

void printSamples(std::FILE* out, const std::vector<history::Sample>& rows, Format format, const NameText& name)
{
    Texts texts;
    auto macString = [&](uint64_t mac) -> const std::string& { return texts.mac(mac); };
    auto isoTime = [&](long long ms) -> const std::string& { return texts.time(ms); };
    if (format == Format::plain) {
        std::fprintf(out, "%-24s  %-17s  %-17s  %-17s  %-8s  %s\n", "TIME", "ADAPTER", "DEVICE", "STATION", "RATE",
                     "NAME");
        for (const history::Sample& s : rows)
            std::fprintf(out, "%-24s  %s  %s  %s  %-8s  %s\n", isoTime(s.timeMs).c_str(), macString(s.adapter).c_str(),
                         macString(s.device).c_str(), macString(s.station).c_str(), rate(s.rateMbps, format).c_str(),
                         name.cell(s.station));
    } else if (format == Format::csv) {
        std::fputs("time,adapter,device,station,rate_mbps\n", out);
        for (const history::Sample& s : rows)
            std::fprintf(out, "%s,%s,%s,%s,%s\n", isoTime(s.timeMs).c_str(), macString(s.adapter).c_str(),
                         macString(s.device).c_str(), macString(s.station).c_str(), rate(s.rateMbps, format).c_str());
    } else {
        // Written as it goes: a month is a million rows.
        std::fputs("{\"samples\":[", out);
        const char* comma = "";
        for (const history::Sample& s : rows) {
            std::fprintf(out,
                         "%s\n{\"time\":%s,\"adapter\":%s,\"device\":%s,\"station\":%s,\"rateMbps\":%s,\"name\":%s}",
                         comma, quoted(isoTime(s.timeMs)).c_str(), quoted(macString(s.adapter)).c_str(),
                         quoted(macString(s.device)).c_str(), quoted(macString(s.station)).c_str(),
                         rate(s.rateMbps, format).c_str(), name.json(s.station));
            comma = ",";
        }
        std::fputs("]}\n", out);
    }
}

void printBuckets(std::FILE* out, const std::vector<history::Bucket>& rows, Format format, const NameText& name)
{
    Texts texts;
    auto macString = [&](uint64_t mac) -> const std::string& { return texts.mac(mac); };
    if (format == Format::plain) {
        std::fprintf(out, "%-24s  %-17s  %-17s  %-17s  %8s  %8s  %8s  %-7s  %s\n", "TIME", "ADAPTER", "DEVICE",
                     "STATION", "MIN", "AVG", "MAX", "SAMPLES", "NAME");
        for (const history::Bucket& b : rows)
            std::fprintf(out, "%-24s  %s  %s  %s  %8s  %8s  %8s  %-7d  %s\n", isoTime(b.startMs).c_str(),
                         macString(b.adapter).c_str(), macString(b.device).c_str(), macString(b.station).c_str(),
                         rate(b.minMbps, format).c_str(), rate(b.avgMbps, format).c_str(),
                         rate(b.maxMbps, format).c_str(), b.total, name.cell(b.station));
    } else if (format == Format::csv) {
        std::fputs("time,adapter,device,station,min_mbps,avg_mbps,max_mbps,samples,rated\n", out);
        for (const history::Bucket& b : rows)
            std::fprintf(out, "%s,%s,%s,%s,%s,%s,%s,%d,%d\n", isoTime(b.startMs).c_str(), macString(b.adapter).c_str(),
                         macString(b.device).c_str(), macString(b.station).c_str(), rate(b.minMbps, format).c_str(),
                         rate(b.avgMbps, format).c_str(), rate(b.maxMbps, format).c_str(), b.total, b.count);
    } else {
        std::fputs("{\"intervals\":[", out);
        const char* comma = "";
        for (const history::Bucket& b : rows) {
            std::fprintf(out,
                         "%s\n{\"start\":%s,\"adapter\":%s,\"device\":%s,\"station\":%s,\"minMbps\":%s,\"avgMbps\":%s,"
                         "\"maxMbps\":%s,\"samples\":%d,\"rated\":%d,\"name\":%s}",
                         comma, quoted(isoTime(b.startMs)).c_str(), quoted(macString(b.adapter)).c_str(),
                         quoted(macString(b.device)).c_str(), quoted(macString(b.station)).c_str(),
                         rate(b.minMbps, format).c_str(), rate(b.avgMbps, format).c_str(),
                         rate(b.maxMbps, format).c_str(), b.total, b.count, name.json(b.station));
            comma = ",";
        }
        std::fputs("]}\n", out);
    }
}

void printReplies(std::FILE* out, const std::vector<history::ReplyRow>& rows, Format format)
{
    Texts texts;
    auto macString = [&](uint64_t mac) -> const std::string& { return texts.mac(mac); };
    // "Link Quality: Fair" is stored; the word says it.
    auto word = [](const std::string& rating) {
        return std::string(history::rating::words[history::rating::codeOf(rating)]);
    };
    if (format == Format::plain)
        std::fprintf(out, "%-24s  %-17s  %-17s  %8s  %8s  %s\n", "TIME", "ADAPTER", "DEVICE", "STATIONS", "AVERAGE",
                     "RATING");
    else if (format == Format::csv)
        std::fputs("time,adapter,device,stations,average_mbps,rating\n", out);
    else
        std::fputs("{\"replies\":[", out);
    const char* comma = "";
    for (const history::ReplyRow& r : rows) {
        const char* shape = format == Format::plain ? "%-24s  %s  %s  %8d  %8s  %s\n"
                            : format == Format::csv ? "%s,%s,%s,%d,%s,%s\n"
                                                    : "%s\n{\"time\":%s,\"adapter\":%s,\"device\":%s,\"stations\":%d,"
                                                      "\"averageMbps\":%s,\"rating\":%s}";
        const std::string time = history::isoTime(r.timeMs), adapter = macString(r.adapter),
                          device = macString(r.device);
        const std::string rating = word(r.rating);
        if (format == Format::json)
            std::fprintf(out, shape, comma, quoted(time).c_str(), quoted(adapter).c_str(), quoted(device).c_str(),
                         r.stations, rate(r.averageMbps, format).c_str(), quoted(rating).c_str());
        else
            std::fprintf(out, shape, time.c_str(), adapter.c_str(), device.c_str(), r.stations,
                         rate(r.averageMbps, format).c_str(), rating.c_str());
        comma = ",";
    }
    if (format == Format::json)
        std::fputs("]}\n", out);
}

// Replaces `path` with `text` whole: a collector reading it never sees half a
// file. The collector runs as another user; rates and MACs are no secret.
bool writeAtomically(const std::string& path, const std::string& text, std::string* why)
{
    const platform::Replaced r = platform::replaceFile(path, text.data(), text.size(), 0644);
    if (r)
        return true;
    if (r.failed == platform::Replaced::randomName)
        *why = path + ": no random name to be had: " + std::strerror(r.error);
    else if (r.failed == platform::Replaced::create && r.error == EEXIST)
        *why = path + ": every temporary name tried was taken";
    else if (r.failed == platform::Replaced::create)
        *why = r.temporary + ": " + std::strerror(r.error);
    else
        *why = path + ": " + std::strerror(r.error);
    return false;
}
}  // namespace

int runHistoryCommand(const Invocation& inv, std::FILE* out)
{
    history::Store store;
    const std::string path = inv.historyFile.empty() ? history::defaultPath() : inv.historyFile;
    const Format format = inv.json ? Format::json : inv.csv ? Format::csv : Format::plain;
    // The CSV keeps the columns the chart's export shares with it: no names there.
    const session::NameMap names =
        inv.check || format == Format::csv ? session::NameMap() : readNames(chosenStateDir(inv.stateDir));
    const NameText name(names);
    struct stat file {};
    if (inv.command == Command::history && !inv.check && stat(path.c_str(), &file) != 0 && errno == ENOENT) {
        // A new account: nothing wrong, only nothing yet.
        error("nothing recorded yet (no " + path + ")");
        if (inv.replies)
            printReplies(out, {}, format);
        else if (inv.everyMs > 0)
            printBuckets(out, {}, format, name);
        else
            printSamples(out, {}, format, name);
        return std::fflush(out) == 0 ? exitOk : exitError;
    }
    if (!store.open(path, history::Store::Mode::readOnly)) {
        error("history: " + store.error());
        return exitError;
    }
    // A store that fails a query said so in error(): one line and status 1,
    // never an empty or shortened answer that passes for the whole.
    const auto failed = [&] {
        error("history: " + store.error());
        return exitError;
    };
    if (inv.check) {
        if (!store.quickCheck())
            return failed();
        std::fprintf(out, "%s: no damage found\n", path.c_str());
        return std::fflush(out) == 0 ? exitOk : exitError;
    }
    if (inv.command == Command::metrics) {
        const std::vector<history::Latest> latest = store.latest();
        if (store.failed())
            return failed();
        std::string text = history::metricsText(latest, names);
        if (inv.output.empty()) {
            std::fputs(text.c_str(), out);
            return std::fflush(out) == 0 ? exitOk : exitError;
        }
        std::string why;
        if (!writeAtomically(inv.output, text, &why)) {
            error(why);
            return exitError;
        }
        return exitOk;
    }

    history::Filter filter;
    filter.station = inv.station;
    if (!inv.adapter.empty()) {
        if (const std::optional<history::Mac> mac = history::Mac::parse(inv.adapter)) {
            filter.adapter = mac->text();
        } else {
            // An interface name: every adapter recorded under it (one replaced
            // keeps its rows), else the one that has it now.
            const bool seen = !store.adaptersNamed(inv.adapter).empty();
            if (store.failed())
                return failed();
            if (seen) {
                filter.adapterName = inv.adapter;
            } else if (!interfaceMac(inv.adapter, &filter.adapter)) {
                error("no network interface '" + inv.adapter + "', nor one of that name in the history");
                return exitUsage;
            }
        }
    }
    if (!inv.station.empty()) {
        const uint64_t mac = history::Mac::parse(inv.station).value_or(history::Mac()).number();
        bool known = false;
        const std::vector<history::Latest> links = store.latest();
        if (store.failed())
            return failed();
        for (const history::Latest& link : links)
            for (const history::Sample& s : link.stations)
                known = known || s.station == mac;
        if (!known) {
            error("station " + inv.station + " is not in the history");
            return exitUsage;
        }
    }
    const long long now = history::nowMs();
    filter.sinceMs = inv.since.at(now);
    if (inv.until)
        filter.untilMs = inv.until->at(now);
    if (inv.replies) {
        const std::vector<history::ReplyRow> rows = store.replies(filter);
        if (store.failed())
            return failed();
        printReplies(out, rows, format);
    } else if (inv.everyMs > 0) {
        const std::vector<history::Bucket> rows = store.buckets(filter, inv.everyMs);
        if (store.failed())
            return failed();
        printBuckets(out, rows, format, name);
    } else {
        const std::vector<history::Sample> rows = store.samples(filter);
        if (store.failed())
            return failed();
        printSamples(out, rows, format, name);
    }
    if (std::fflush(out) != 0) {
        error("standard output could not be written");
        return exitError;
    }
    return exitOk;
}

}  // namespace cli
