#include "history/metrics.h"

#include "frames/mac.h"

#include <set>

namespace history {

std::string labelValue(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string stationInfoText(const std::vector<Latest>& links, const std::map<uint64_t, std::string>& names)
{
    // A station heard on two links is one station: one line.
    std::set<uint64_t> named;
    for (const Latest& link : links)
        for (const Sample& s : link.stations)
            if (names.count(s.station))
                named.insert(s.station);
    if (named.empty())
        return {};
    std::string out = "# HELP brennic_station_info The name a user gave a station, in its name label; always 1.\n"
                      "# TYPE brennic_station_info gauge\n";
    for (uint64_t station : named)
        out += "brennic_station_info{station=\"" + frames::Mac(station).text() + "\",name=\"" +
               labelValue(names.at(station)) + "\"} 1\n";
    return out;
}

}  // namespace history
