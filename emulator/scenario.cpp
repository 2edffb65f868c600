// Scenario files: which adapters plcsim creates and what plays behind each.
// The format is described in scenarios/README.md.
#include "emulator/model.h"
#include "platform/files.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace emu {

namespace {

using nlohmann::json;

constexpr size_t maxAdapters = 16;
constexpr size_t interfaceNameMax = 15;  // IFNAMSIZ less the NUL
constexpr size_t maxScenarioBytes = size_t{1} << 20;
constexpr size_t maxSchedulePoints = 96;  // one every quarter of an hour

// The first failure wins; every check after it is skipped.
class Reader {
public:
    explicit Reader(std::string fileName) : fileName_(std::move(fileName)) {}

    bool failed() const { return !error_.empty(); }
    const std::string& error() const { return error_; }

    bool fail(const std::string& path, const std::string& why)
    {
        if (error_.empty())
            error_ = fileName_ + ": " + path + ": " + why;
        return false;
    }

    bool onlyKnown(const json& object, const std::string& path, std::initializer_list<const char*> known)
    {
        for (auto it = object.begin(); it != object.end(); ++it) {
            bool found = false;
            for (const char* k : known)
                found = found || it.key() == k;
            if (!found)
                return fail(path.empty() ? it.key() : path + "." + it.key(), "unknown field");
        }
        return true;
    }

    bool object(const json& parent, const char* key, const std::string& path, const json** out, bool required)
    {
        auto it = parent.find(key);
        if (it == parent.end())
            return required ? fail(path, "missing") : true;
        if (!it->is_object())
            return fail(path, "expected an object");
        *out = &*it;
        return true;
    }

    bool integer(const json& parent, const char* key, const std::string& path, int64_t low, int64_t high, int64_t* out,
                 bool required)
    {
        auto it = parent.find(key);
        std::string why = "expected an integer " + std::to_string(low) + ".." + std::to_string(high);
        if (it == parent.end())
            return required ? fail(path, "missing, " + why) : true;
        if (!it->is_number_integer())
            return fail(path, why);
        int64_t value = it->is_number_unsigned()
                            ? static_cast<int64_t>(std::min<uint64_t>(it->get<uint64_t>(), INT64_MAX))
                            : it->get<int64_t>();
        if (value < low || value > high)
            return fail(path, why);
        *out = value;
        return true;
    }

    bool boolean(const json& parent, const char* key, const std::string& path, bool* out)
    {
        auto it = parent.find(key);
        if (it == parent.end())
            return true;
        if (!it->is_boolean())
            return fail(path, "expected true or false");
        *out = it->get<bool>();
        return true;
    }

    bool string(const json& parent, const char* key, const std::string& path, std::string* out, bool required)
    {
        auto it = parent.find(key);
        if (it == parent.end())
            return required ? fail(path, "missing") : true;
        if (!it->is_string())
            return fail(path, "expected a string");
        *out = it->get<std::string>();
        return true;
    }

    bool mac(const json& parent, const char* key, const std::string& path, Mac* out)
    {
        std::string text;
        if (!string(parent, key, path, &text, true))
            return false;
        // Exactly two hex digits per byte: scanf's %2x would also take "+2" or " 1".
        if (text.size() != 17)
            return fail(path, "expected a MAC address like 02:00:00:00:00:01");
        for (size_t i = 0; i < 6; ++i) {
            const char hi = text[3 * i], lo = text[3 * i + 1];
            if (!std::isxdigit(static_cast<unsigned char>(hi)) || !std::isxdigit(static_cast<unsigned char>(lo)) ||
                (i < 5 && text[3 * i + 2] != ':'))
                return fail(path, "expected a MAC address like 02:00:00:00:00:01");
            (*out)[i] = static_cast<uint8_t>(std::stoul(text.substr(3 * i, 2), nullptr, 16));
        }
        if (std::all_of(out->begin(), out->end(), [](uint8_t x) { return x == 0xFF; }))
            return fail(path, "the broadcast address is not a station address");
        return true;
    }

    template <size_t N>
    bool hexBytes(const json& parent, const char* key, const std::string& path, std::array<uint8_t, N>* out,
                  bool* present)
    {
        std::string text;
        auto it = parent.find(key);
        if (it == parent.end())
            return true;
        if (!string(parent, key, path, &text, true))
            return false;
        std::string why = "expected " + std::to_string(N * 2) + " hexadecimal digits";
        if (text.size() != N * 2)
            return fail(path, why);
        for (size_t i = 0; i < N; ++i) {
            unsigned byte;
            if (!std::isxdigit(static_cast<unsigned char>(text[2 * i])) ||
                !std::isxdigit(static_cast<unsigned char>(text[2 * i + 1])) ||
                std::sscanf(text.c_str() + 2 * i, "%2x", &byte) != 1)
                return fail(path, why);
            (*out)[i] = static_cast<uint8_t>(byte);
        }
        *present = true;
        return true;
    }

    bool password(const json& parent, const char* key, const std::string& path, std::string* out, bool required)
    {
        if (!string(parent, key, path, out, required))
            return false;
        if (parent.find(key) == parent.end())
            return true;
        if (out->empty() || out->size() > 64)
            return fail(path, "expected 1 to 64 characters");
        return true;
    }

    // networkPassword or networkKey, not both; the default network otherwise.
    bool networkKey(const json& parent, const std::string& path, Key* out)
    {
        bool hasPassword = parent.contains("networkPassword");
        bool hasKey = parent.contains("networkKey");
        if (hasPassword && hasKey)
            return fail(path + ".networkKey", "give networkPassword or networkKey, not both");
        std::string text = defaultNetworkPassword;
        if (!password(parent, "networkPassword", path + ".networkPassword", &text, false))
            return false;
        *out = keyFromPassword(text);
        bool present = false;
        return hexBytes(parent, "networkKey", path + ".networkKey", out, &present);
    }

    bool faults(const json& parent, const std::string& path, Faults* f)
    {
        const json* j = nullptr;
        if (!object(parent, "faults", path, &j, false) || !j)
            return !failed();
        if (!onlyKnown(*j, path,
                       {"silent", "neverConfirms", "blankEeprom", "blankRam", "notSelfAddressed", "linkStatsLength",
                        "paramReplyLength", "paramEntryLength", "floodPerSecond", "floodKind"}))
            return false;
        int64_t n = 0;
        boolean(*j, "silent", path + ".silent", &f->silent);
        boolean(*j, "neverConfirms", path + ".neverConfirms", &f->neverConfirms);
        boolean(*j, "blankEeprom", path + ".blankEeprom", &f->blankEeprom);
        boolean(*j, "blankRam", path + ".blankRam", &f->blankRam);
        boolean(*j, "notSelfAddressed", path + ".notSelfAddressed", &f->notSelfAddressed);
        n = static_cast<int64_t>(f->linkStatsLength);
        if (integer(*j, "linkStatsLength", path + ".linkStatsLength", 14, 204, &n, false))
            f->linkStatsLength = static_cast<size_t>(n);
        n = static_cast<int64_t>(f->paramReplyLength);
        if (integer(*j, "paramReplyLength", path + ".paramReplyLength", 14, 68, &n, false))
            f->paramReplyLength = static_cast<size_t>(n);
        n = f->paramEntryLength;
        if (integer(*j, "paramEntryLength", path + ".paramEntryLength", 0, 255, &n, false))
            f->paramEntryLength = static_cast<uint8_t>(n);
        n = f->floodPerSecond;
        if (integer(*j, "floodPerSecond", path + ".floodPerSecond", 0, 100000, &n, false))
            f->floodPerSecond = static_cast<uint32_t>(n);
        std::string kind;
        if (string(*j, "floodKind", path + ".floodKind", &kind, false) && j->contains("floodKind")) {
            if (kind == "noise")
                f->floodKind = FloodKind::noise;
            else if (kind == "linkStats")
                f->floodKind = FloodKind::linkStats;
            else if (kind == "station")
                f->floodKind = FloodKind::station;
            else
                fail(path + ".floodKind", "expected \"noise\", \"linkStats\" or \"station\"");
        }
        return !failed();
    }

    bool device(const json& j, const std::string& path, LocalDevice* d)
    {
        if (!onlyKnown(j, path,
                       {"mac", "type", "devicePassword", "networkPassword", "networkKey", "eeprom", "ram",
                        "replyDelayMs", "faults"}))
            return false;
        Mac mac{};
        int64_t type = 0;
        std::string devicePassword;
        if (!this->mac(j, "mac", path + ".mac", &mac) || !integer(j, "type", path + ".type", 0, 127, &type, true) ||
            !password(j, "devicePassword", path + ".devicePassword", &devicePassword, true))
            return false;
        *d = makeDevice(mac, static_cast<uint8_t>(type), devicePassword);
        if (!networkKey(j, path, &d->key1))
            return false;
        d->eeprom = factoryBlock(mac, d->deviceKey, d->key1);
        d->ram = d->eeprom;
        bool present = false;
        if (!hexBytes(j, "eeprom", path + ".eeprom", &d->eeprom, &present) ||
            !hexBytes(j, "ram", path + ".ram", &d->ram, &present))
            return false;
        int64_t delay = d->replyDelayMs;
        if (!integer(j, "replyDelayMs", path + ".replyDelayMs", 0, 60000, &delay, false))
            return false;
        d->replyDelayMs = static_cast<uint32_t>(delay);
        return faults(j, path + ".faults", &d->faults);
    }

    // "HH:MM" or "HH:MM:SS", 00:00 to 23:59:59.
    bool timeOfDay(const json& j, const std::string& path, uint32_t* second)
    {
        const char* why = "expected a time of day \"HH:MM\" or \"HH:MM:SS\"";
        if (!j.is_string())
            return fail(path, why);
        const std::string text = j.get<std::string>();
        if (text.size() != 5 && text.size() != 8)
            return fail(path, why);
        uint32_t parts[3] = {0, 0, 0};
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (i % 3 == 2) {
                if (c != ':')
                    return fail(path, why);
            } else if (c < '0' || c > '9') {
                return fail(path, why);
            } else {
                parts[i / 3] = parts[i / 3] * 10 + static_cast<uint32_t>(c - '0');
            }
        }
        if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59)
            return fail(path, why);
        *second = parts[0] * 3600 + parts[1] * 60 + parts[2];
        return true;
    }

    bool schedule(const json& j, const std::string& path, LinkSchedule* s)
    {
        if (!onlyKnown(j, path, {"daily", "noise", "seed", "noiseEverySeconds"}))
            return false;
        auto daily = j.find("daily");
        if (daily == j.end())
            return fail(path + ".daily", "missing");
        if (!daily->is_array() || daily->empty() || daily->size() > maxSchedulePoints)
            return fail(path + ".daily", "expected an array of 1 to " + std::to_string(maxSchedulePoints) +
                                             " [\"HH:MM\", value] points");
        for (size_t i = 0; i < daily->size(); ++i) {
            const json& p = (*daily)[i];
            const std::string at = path + ".daily[" + std::to_string(i) + "]";
            if (!p.is_array() || p.size() != 2)
                return fail(at, "expected a point [\"HH:MM\", value]");
            LinkSchedule::Point point;
            if (!timeOfDay(p[0], at + "[0]", &point.second))
                return false;
            if (!p[1].is_number_integer() || p[1].get<int64_t>() < 0 || p[1].get<int64_t>() > 65535 ||
                (p[1].is_number_unsigned() && p[1].get<uint64_t>() > 65535))
                return fail(at + "[1]", "expected an integer 0..65535");
            point.value = static_cast<uint16_t>(p[1].get<int64_t>());
            if (!s->points.empty() && point.second <= s->points.back().second)
                return fail(at + "[0]", "expected a time after the point before");
            s->points.push_back(point);
        }
        int64_t n = 0;
        if (!integer(j, "noise", path + ".noise", 0, 65535, &n, false))
            return false;
        s->noise = static_cast<uint16_t>(n);
        n = s->seed;
        if (!integer(j, "seed", path + ".seed", 0, UINT32_MAX, &n, false))
            return false;
        s->seed = static_cast<uint32_t>(n);
        n = s->noiseEverySeconds;
        if (!integer(j, "noiseEverySeconds", path + ".noiseEverySeconds", 1, secondsPerDay, &n, false))
            return false;
        s->noiseEverySeconds = static_cast<uint32_t>(n);
        return true;
    }

    bool station(const json& j, const std::string& path, RemoteStation* s)
    {
        if (!j.is_object())
            return fail(path, "expected an object");
        if (!onlyKnown(
                j, path,
                {"mac", "devicePassword", "networkPassword", "networkKey", "linkValue", "replyDelayMs", "silent"}))
            return false;
        Mac mac{};
        std::string devicePassword;
        int64_t linkValue = 0;
        std::optional<LinkSchedule> sched;
        if (!this->mac(j, "mac", path + ".mac", &mac) ||
            !password(j, "devicePassword", path + ".devicePassword", &devicePassword, true))
            return false;
        auto value = j.find("linkValue");
        if (value != j.end() && value->is_object()) {
            sched.emplace();
            if (!schedule(*value, path + ".linkValue", &*sched))
                return false;
            linkValue = sched->points.front().value;
        } else if (!integer(j, "linkValue", path + ".linkValue", 0, 65535, &linkValue, true)) {
            return false;
        }
        *s = makeStation(mac, devicePassword, static_cast<uint16_t>(linkValue));
        s->schedule = std::move(sched);
        if (!networkKey(j, path, &s->networkKey))
            return false;
        int64_t delay = s->replyDelayMs;
        if (!integer(j, "replyDelayMs", path + ".replyDelayMs", 0, 60000, &delay, false) ||
            !boolean(j, "silent", path + ".silent", &s->silent))
            return false;
        s->replyDelayMs = static_cast<uint32_t>(delay);
        return true;
    }

    bool adapter(const json& j, const std::string& path, EmulatedAdapter* a)
    {
        if (!j.is_object())
            return fail(path, "expected an object");
        if (!onlyKnown(j, path, {"interface", "hostMac", "device", "stations"}))
            return false;
        if (!string(j, "interface", path + ".interface", &a->interfaceName, true))
            return false;
        if (a->interfaceName.empty() || a->interfaceName.size() > interfaceNameMax ||
            a->interfaceName.find_first_of("/: \t\n") != std::string::npos)
            return fail(path + ".interface",
                        "expected an interface name of 1 to 15 characters without '/', ':' or blanks");
        if (!mac(j, "hostMac", path + ".hostMac", &a->hostMac))
            return false;
        const json* dev = nullptr;
        if (!object(j, "device", path + ".device", &dev, true) || !device(*dev, path + ".device", &a->device))
            return false;
        auto it = j.find("stations");
        if (it == j.end())
            return true;
        if (!it->is_array())
            return fail(path + ".stations", "expected an array");
        for (size_t i = 0; i < it->size(); ++i) {
            RemoteStation s;
            if (!station((*it)[i], path + ".stations[" + std::to_string(i) + "]", &s))
                return false;
            a->stations.push_back(std::move(s));
        }
        return true;
    }

private:
    std::string fileName_;
    std::string error_;
};

std::string baseName(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool parse(const std::string& text, const std::string& fileName, Network& network, std::string* error)
{
    Reader r(fileName);
    json root = json::parse(text, nullptr, false);
    if (root.is_discarded())
        r.fail("(file)", "not valid JSON");
    else if (!root.is_object())
        r.fail("(file)", "expected an object");
    else if (r.onlyKnown(root, "", {"adapters"})) {
        auto it = root.find("adapters");
        if (it == root.end())
            r.fail("adapters", "missing");
        else if (!it->is_array() || it->empty() || it->size() > maxAdapters)
            r.fail("adapters", "expected an array of 1 to 16 adapters");
        else {
            std::set<std::string> names;
            for (size_t i = 0; i < it->size() && !r.failed(); ++i) {
                std::string path = "adapters[" + std::to_string(i) + "]";
                EmulatedAdapter a;
                if (!r.adapter((*it)[i], path, &a))
                    break;
                if (!names.insert(a.interfaceName).second)
                    r.fail(path + ".interface", "\"" + a.interfaceName + "\" is used twice");
                else
                    network.addAdapter(std::move(a));
            }
        }
    }
    if (r.failed()) {
        network.clear();
        if (error)
            *error = r.error();
        return false;
    }
    return true;
}

}  // namespace

bool parseScenario(const std::string& text, const std::string& fileName, Network& network, std::string* error)
{
    network.clear();
    try {
        return parse(text, fileName, network, error);
    } catch (const std::exception& e) {
        // The reader avoids throwing paths; this is the last guard at the boundary.
        network.clear();
        if (error)
            *error = fileName + ": (file): " + e.what();
        return false;
    }
}

bool loadScenario(const std::string& path, Network& network, std::string* error)
{
    const auto refuse = [&](const std::string& why) {
        network.clear();
        if (error)
            *error = baseName(path) + ": (file): " + why;
        return false;
    };
    // Not waited on: a FIFO or a device is refused by its type, not read.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return refuse(std::string("cannot be read: ") + std::strerror(errno));
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return refuse("not a regular file");
    }
    // One byte more than allowed tells a file that grew since fstat.
    std::string text(maxScenarioBytes + 1, '\0');
    size_t got = 0;
    if (!platform::readAll(fd, text.data(), text.size(), &got)) {
        const int readError = errno;
        close(fd);
        return refuse(std::string("cannot be read: ") + std::strerror(readError));
    }
    close(fd);
    if (got > maxScenarioBytes || static_cast<uint64_t>(st.st_size) > maxScenarioBytes)
        return refuse("larger than 1 MiB");
    text.resize(got);
    return parseScenario(text, baseName(path), network, error);
}

}  // namespace emu
