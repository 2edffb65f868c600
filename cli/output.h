#pragma once
// What brennicctl prints: one JSON document (keys in lower camel case, MACs
// "aa:bb:cc:dd:ee:ff", rates in Mbps or null) or aligned plain columns.
#include "history/time_text.h"
#include "session/names.h"
#include "session/session.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

using Json = nlohmann::ordered_json;

// Columns two spaces apart; the last is not padded.
class Table {
public:
    explicit Table(std::vector<std::string> heading) { rows_.push_back(std::move(heading)); }
    void add(std::vector<std::string> row) { rows_.push_back(std::move(row)); }
    void print(std::FILE* out) const;

private:
    std::vector<std::vector<std::string>> rows_;
};

// The document indented, or on one line; never throws.
std::string documentText(const Json& doc, bool oneLine);

// "Poor", "Fair" or "Excellent".
std::string qualityWord(const LinkQuality& quality);

Json adaptersJson(const std::vector<session::AdapterInfo>& adapters);
void printAdapters(std::FILE* out, const std::vector<session::AdapterInfo>& adapters);

// ISO 8601 in UTC, to the millisecond ("2026-12-08T14:05:09.250Z"): the
// history's own text of a time, for every command that prints one.
using history::isoTime;

// The name `names` gives the station of MAC text `mac`; null when none.
const std::string* findName(const session::NameMap* names, const std::string& mac);

// The adapter by interface name and by MAC; `timeMs` when the scan ended.
// Each station with its name, null (or "-" in columns) when it has none.
Json scanJson(const session::AdapterInfo& adapter, const session::ScanResult& scan, long long timeMs,
              const session::NameMap* names = nullptr);
void printScan(std::FILE* out, const session::ScanResult& scan, const session::NameMap* names = nullptr);

// With `withStatus`, what this call did with each device (OK/FAIL); without,
// whether the last Set All reached it.
Json devicesJson(const std::string& adapter, const std::vector<session::DeviceStatus>& devices, bool withStatus);
void printDevices(std::FILE* out, const std::vector<session::DeviceStatus>& devices, bool withStatus);

// "brennicctl: " and the text, a line on standard error.
void error(const std::string& text);

// A box's caption and words on one line, for standard error.
std::string boxLine(session::Box box, const std::string& saveError);

}  // namespace cli
