#include "history/metrics.h"

#include "history/history.h"

#include <cstdio>

namespace history {

namespace {
struct Family {
    const char* name;
    const char* help;
};

// Rates in bytes per second and times in seconds: the exposition's base units
// (its checker refuses bits).
constexpr Family stationRate{"brennic_station_rate_bytes_per_second",
                             "Estimated rate of the powerline link to a station, from its newest sample."};
constexpr Family stationTime{"brennic_station_sample_timestamp_seconds",
                             "When the newest sample of a station was taken (Unix time)."};
constexpr Family linkAverage{"brennic_link_average_rate_bytes_per_second",
                             "Average rate over the rated stations of a link's newest reply."};
constexpr Family linkQuality{
    "brennic_link_quality", "Link-quality rating of a link's newest reply: 1 for the rating it has, 0 for the others."};
constexpr Family linkTime{"brennic_link_reply_timestamp_seconds",
                          "When a link's newest link-statistics reply was recorded (Unix time)."};

void head(std::string& out, const Family& f, const char* unit)
{
    out += std::string("# HELP ") + f.name + " " + f.help + "\n";
    out += std::string("# TYPE ") + f.name + " gauge\n";
    if (unit)
        out += std::string("# UNIT ") + f.name + " " + unit + "\n";
}

std::string labels(uint64_t adapter, uint64_t device, const uint64_t* station, const char* rating = nullptr)
{
    // MACs are hex and colons, rating words letters: nothing to escape.
    std::string text = "{adapter=\"" + Mac(adapter).text() + "\",device=\"" + Mac(device).text() + "\"";
    if (station)
        text += ",station=\"" + Mac(*station).text() + "\"";
    if (rating)
        text += std::string(",rating=\"") + rating + "\"";
    return text + "}";
}

std::string number(double v)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string seconds(int64_t ms)
{
    char text[40];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

// Rates are kept in kbit/s, 125 bytes/s each; rounding keeps 5.123 Mbps from
// printing as 640374.99999999988.
double bytesPerSecond(double mbps)
{
    return static_cast<double>(static_cast<long long>(mbps * 1000.0 + (mbps < 0 ? -0.5 : 0.5))) * 125.0;
}
}  // namespace

std::string metricsText(const std::vector<Latest>& links, const std::map<uint64_t, std::string>& names)
{
    std::string out;
    head(out, stationRate, "bytes_per_second");
    for (const Latest& link : links)
        for (const Sample& s : link.stations)
            if (s.rateMbps)
                out += stationRate.name + labels(s.adapter, s.device, &s.station) + " " +
                       number(bytesPerSecond(*s.rateMbps)) + "\n";
    head(out, stationTime, "seconds");
    for (const Latest& link : links)
        for (const Sample& s : link.stations)
            out += stationTime.name + labels(s.adapter, s.device, &s.station) + " " + seconds(s.timeMs) + "\n";
    head(out, linkAverage, "bytes_per_second");
    for (const Latest& link : links)
        if (link.reply.averageMbps)
            out += linkAverage.name + labels(link.reply.adapter, link.reply.device, nullptr) + " " +
                   number(bytesPerSecond(*link.reply.averageMbps)) + "\n";
    head(out, linkQuality, nullptr);
    for (const Latest& link : links)
        for (int i = rating::poor; i <= rating::excellent; ++i)
            out += linkQuality.name + labels(link.reply.adapter, link.reply.device, nullptr, rating::labels[i]) + " " +
                   (link.reply.rating == rating::texts[i] ? "1" : "0") + "\n";
    head(out, linkTime, "seconds");
    for (const Latest& link : links)
        out += linkTime.name + labels(link.reply.adapter, link.reply.device, nullptr) + " " +
               seconds(link.reply.timeMs) + "\n";
    out += stationInfoText(links, names);
    out += "# EOF\n";
    return out;
}

}  // namespace history
