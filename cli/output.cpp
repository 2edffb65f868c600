#include "cli/output.h"

#include "history/rows.h"

#include <algorithm>

namespace cli {

void error(const std::string& text) { std::fprintf(stderr, "brennicctl: %s\n", text.c_str()); }

void Table::print(std::FILE* out) const
{
    std::vector<size_t> widths;
    for (const auto& row : rows_) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    }
    for (const auto& row : rows_) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line.append(widths[c] - row[c].size() + 2, ' ');
        }
        std::fprintf(out, "%s\n", line.c_str());
    }
}

std::string documentText(const Json& doc, bool oneLine)
{
    // An interface name need not be UTF-8: stray bytes are replaced, not thrown on.
    return doc.dump(oneLine ? -1 : 2, ' ', false, Json::error_handler_t::replace);
}

std::string qualityWord(const LinkQuality& quality)
{
    return history::rating::words[history::rating::codeOf(quality.ratingText ? quality.ratingText : "")];
}

Json adaptersJson(const std::vector<session::AdapterInfo>& adapters)
{
    Json list = Json::array();
    for (const session::AdapterInfo& a : adapters) {
        Json device = nullptr;
        if (a.devicePresent)
            device = Json{{"mac", a.deviceMac}, {"type", a.deviceType}, {"typeName", a.typeName}};
        list.push_back(Json{{"name", a.name}, {"mac", a.mac}, {"device", device}});
    }
    return Json{{"adapters", list}};
}

void printAdapters(std::FILE* out, const std::vector<session::AdapterInfo>& adapters)
{
    Table table({"ADAPTER", "MAC", "DEVICE", "TYPE"});
    for (const session::AdapterInfo& a : adapters)
        table.add({a.name, a.mac, a.devicePresent ? a.deviceMac : "-", a.devicePresent ? a.typeName : "-"});
    table.print(out);
}

const std::string* findName(const session::NameMap* names, const std::string& mac)
{
    const std::optional<session::Mac> parsed = session::Mac::parse(mac);
    if (!names || !parsed)
        return nullptr;
    const auto it = names->find(parsed->number());
    return it == names->end() ? nullptr : &it->second;
}

Json scanJson(const session::AdapterInfo& adapter, const session::ScanResult& scan, long long timeMs,
              const session::NameMap* names)
{
    Json stations = Json::array();
    for (const StationRow& s : scan.stations) {
        Json rate = nullptr;
        if (s.rateMbps != 0.0)
            rate = s.rateMbps;
        const std::string* name = findName(names, s.mac);
        stations.push_back(Json{{"mac", s.mac}, {"rateMbps", rate}, {"name", name ? Json(*name) : Json(nullptr)}});
    }
    return Json{{"time", history::isoTime(timeMs)}, {"adapter", adapter.name},
                {"adapterMac", adapter.mac},        {"stations", stations},
                {"averageMbps", scan.average},      {"quality", qualityWord(scan.quality)}};
}

void printScan(std::FILE* out, const session::ScanResult& scan, const session::NameMap* names)
{
    Table table({"STATION", "RATE", "NAME"});
    for (const StationRow& s : scan.stations) {
        const std::string* name = findName(names, s.mac);
        table.add({s.mac, s.rate, name ? *name : "-"});
    }
    table.print(out);
    std::fprintf(out, "%s (average %.2f Mbps)\n", scan.quality.ratingText ? scan.quality.ratingText : "", scan.average);
}

Json devicesJson(const std::string& adapter, const std::vector<session::DeviceStatus>& devices, bool withStatus)
{
    Json list = Json::array();
    for (const session::DeviceStatus& d : devices) {
        Json entry{{"index", d.index}, {"password", d.password}, {"mac", d.mac}, {"keySet", d.keySet}};
        if (withStatus)
            entry["status"] = d.ok ? session::statusOk : session::statusFail;
        list.push_back(entry);
    }
    return Json{{"adapter", adapter}, {"devices", list}};
}

void printDevices(std::FILE* out, const std::vector<session::DeviceStatus>& devices, bool withStatus)
{
    Table table({"INDEX", "PASSWORD", "DEVICE", withStatus ? "STATUS" : "KEYSET"});
    for (const session::DeviceStatus& d : devices) {
        std::string last = withStatus ? (d.ok ? session::statusOk : session::statusFail) : (d.keySet ? "yes" : "no");
        table.add({std::to_string(d.index), d.password, d.mac, last});
    }
    table.print(out);
}

std::string boxLine(session::Box box, const std::string& saveError)
{
    std::string text = session::boxMessage(box, saveError);
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
        } else {
            line += c;
        }
    }
    return std::string(session::boxCaption(box)) + ": " + line;
}

}  // namespace cli
