#include "emulator/model.h"

#include "frames/frame.h"
#include "keys/password.h"
#include "frames/mac.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace emu {

using namespace mme;

namespace {

bool sameMac(const uint8_t* a, const Mac& b) { return std::memcmp(a, b.data(), macSize) == 0; }

// A reply frame of `length` bytes (at least the Ethernet minimum) headed for
// the request's source. A device with the notSelfAddressed fault sends what
// would be self-addressed to broadcast instead.
std::vector<uint8_t> replyFrame(const LocalDevice& device, const uint8_t* requestSource, const Mac& from, size_t length)
{
    std::vector<uint8_t> f(std::max(length, minimumFrame), 0);
    const uint8_t* destination = requestSource;
    if (device.faults.notSelfAddressed && sameMac(requestSource, from))
        destination = broadcastMac;
    std::memcpy(f.data() + offDestination, destination, macSize);
    std::memcpy(f.data() + offSource, from.data(), macSize);
    f[offEthertype] = ethertypeHigh;
    f[offEthertype + 1] = ethertypeLow;
    f[offEntryCount] = 1;
    return f;
}

void cut(std::vector<uint8_t>& f, size_t length)
{
    if (length < f.size())
        f.resize(length);
}

std::vector<uint8_t> linkStatsReply(const Network& n, const EmulatedAdapter& a, const uint8_t* requestSource)
{
    const LocalDevice& d = a.device;
    std::vector<uint8_t> f = replyFrame(d, requestSource, d.mac, linkStatsReplyLength);
    f[offEntryType] = typeLinkStats;
    f[offEntryLength] = linkStatsEntryLength;
    f[offDeviceType] = d.deviceType & deviceTypeMask;
    size_t record = 0;
    for (const RemoteStation& s : a.stations) {
        if (record == stationRecordCount)
            break;
        if (s.silent || s.networkKey != d.key1)
            continue;
        size_t at = offStationRecords + record * stationRecordSize;
        std::memcpy(f.data() + at, s.mac.data(), macSize);
        const uint16_t v = n.linkValue(s);
        uint8_t value[2] = {static_cast<uint8_t>(v & 0xFF), static_cast<uint8_t>(v >> 8)};
        std::memcpy(f.data() + at + stationRecordLinkValue, value, 2);
        ++record;
    }
    cut(f, d.faults.linkStatsLength);
    return f;
}

std::vector<uint8_t> paramReply(const LocalDevice& d, const uint8_t* requestSource, uint8_t kind)
{
    std::vector<uint8_t> f = replyFrame(d, requestSource, d.mac, paramReplyLength);
    f[offEntryType] = typeParam;
    f[offEntryLength] = d.faults.paramEntryLength;
    f[offBlockKind] = kind;
    Block block = kind == blockKindEeprom ? d.eeprom : d.ram;
    if (kind == blockKindEeprom && d.faults.blankEeprom)
        block.fill(0xFF);
    if (kind == blockKindRam && d.faults.blankRam)
        block.fill(0x00);
    std::memcpy(f.data() + offParamBlock, block.data(), paramBlockSize);
    cut(f, d.faults.paramReplyLength);
    return f;
}

// The body names the station that answers; the system reads only the source.
std::vector<uint8_t> stationReply(const LocalDevice& d, const uint8_t* requestSource, const Mac& from)
{
    std::vector<uint8_t> f = replyFrame(d, requestSource, from, minimumFrame);
    f[offEntryType] = typeStationReply;
    f[offEntryLength] = macSize;
    std::memcpy(f.data() + offBody, from.data(), macSize);
    return f;
}

void mirror(Block& block, uint8_t keySelect, const Key& key, bool writeControl, const uint8_t control[3])
{
    if (keySelect != 0) {
        block[blockKeySelect] = keySelect;
        std::memcpy(block.data() + blockKey, key.data(), keySize);
    }
    if (writeControl) {
        block[blockControlFlags] = control[0];
        block[blockControlMark] = control[1];
        block[blockControlValue] = control[2];
    }
}

// A SetKeyFrame for the local device. Key select 1 is the network key; a
// nonzero key select is mirrored into bytes 14..22 of both blocks, and the
// control bytes into 23..25 when a non-provisional ControlEntry came along:
// exactly what setKey writes into its reference block, so the honest device
// confirms. The one-entry form carries no control bytes and changes none.
void setLocalKey(LocalDevice& d, const uint8_t* f, size_t length)
{
    FrameView v{f, length};
    uint8_t keySelect = f[offKeySelect];
    Key key;
    std::memcpy(key.data(), f + offKey, keySize);
    bool withControl = f[offEntryCount] >= 2 && v.has(offControlValue) && f[offControlEntry] == typeControl;
    uint8_t control[3] = {};
    bool provisionalMark = false;
    if (withControl) {
        std::memcpy(control, f + offControlFlags, 3);
        provisionalMark = (control[1] & controlMarkProvisional) != 0;
        d.controlFlags = control[0];
        d.controlMark = control[1];
        d.controlValue = control[2];
    }
    if (keySelect == 0)
        d.key0 = key;
    else if (keySelect == 1)
        d.key1 = key;
    if (withControl)
        d.provisional = keySelect == 0 ? provisionalMark : d.provisional && provisionalMark;
    if (!d.faults.neverConfirms) {
        bool writeControl = withControl && !provisionalMark;
        mirror(d.eeprom, keySelect, key, writeControl, control);
        mirror(d.ram, keySelect, key, writeControl, control);
    }
}

}  // namespace

Key keyFromPassword(const std::string& password)
{
    Key key;
    std::memcpy(key.data(), deriveKey(password.c_str()), keySize);
    return key;
}

Block factoryBlock(const Mac& mac, const Key& deviceKey, const Key& networkKey)
{
    Block b{};
    std::memcpy(b.data(), mac.data(), macSize);
    std::memcpy(b.data() + blockRestoreKey, deviceKey.data(), keySize);
    b[blockKeySelect] = 1;
    std::memcpy(b.data() + blockKey, networkKey.data(), keySize);
    // As left by the last key set with a ControlEntry: flags with 0x40, value 1.
    b[blockControlFlags] = controlFlagsAlways;
    b[blockControlMark] = 0;
    b[blockControlValue] = 1;
    for (size_t i = blockControlValue + 1; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(0x11 + 7 * i);
    return b;
}

LocalDevice makeDevice(const Mac& mac, uint8_t deviceType, const std::string& devicePassword)
{
    LocalDevice d;
    d.mac = mac;
    d.deviceType = deviceType;
    d.deviceKey = keyFromPassword(devicePassword);
    d.key0 = d.deviceKey;
    d.key1 = keyFromPassword(defaultNetworkPassword);
    d.eeprom = factoryBlock(mac, d.deviceKey, d.key1);
    d.ram = d.eeprom;
    return d;
}

RemoteStation makeStation(const Mac& mac, const std::string& devicePassword, uint16_t linkValue,
                          const std::string& networkPassword)
{
    RemoteStation s;
    s.mac = mac;
    s.devicePassword = devicePassword;
    s.deviceKey = keyFromPassword(devicePassword);
    s.networkKey = keyFromPassword(networkPassword);
    s.linkValue = linkValue;
    return s;
}

namespace {
// splitmix64: a well-mixed 64-bit value from any input, so neighbouring
// draws look unrelated.
uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15u;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
    return x ^ (x >> 31);
}

int64_t floorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
}  // namespace

uint16_t scheduledLinkValue(const LinkSchedule& s, int64_t wallSeconds)
{
    if (s.points.empty())
        return 0;
    const int64_t day = secondsPerDay;
    const int64_t t = wallSeconds - floorDiv(wallSeconds, day) * day;
    // The last point before t (or the day's last, before the first) and the next after it.
    size_t next = 0;
    while (next < s.points.size() && s.points[next].second <= t)
        ++next;
    const LinkSchedule::Point& a = s.points[next == 0 ? s.points.size() - 1 : next - 1];
    const LinkSchedule::Point& b = s.points[next == s.points.size() ? 0 : next];
    int64_t from = a.second, to = b.second, at = t;
    if (to <= from)
        to += day;
    if (at < from)
        at += day;
    double value = a.value;
    if (to > from)
        value +=
            (static_cast<double>(b.value) - a.value) * static_cast<double>(at - from) / static_cast<double>(to - from);
    if (s.noise > 0 && s.noiseEverySeconds > 0) {
        const int64_t draw = floorDiv(wallSeconds, s.noiseEverySeconds);
        const uint64_t r = mix(mix(s.seed) ^ static_cast<uint64_t>(draw));
        const uint64_t span = 2 * uint64_t{s.noise} + 1;
        value += static_cast<double>(static_cast<int64_t>(r % span) - s.noise);
    }
    return static_cast<uint16_t>(std::clamp(std::lround(value), 0L, 65535L));
}

uint16_t Network::linkValue(const RemoteStation& s) const
{
    return s.schedule ? scheduledLinkValue(*s.schedule, wallSeconds()) : s.linkValue;
}

int Network::addAdapter(EmulatedAdapter adapter)
{
    adapters_.push_back(std::move(adapter));
    return adapterCount() - 1;
}

bool Network::reaches(int adapterIndex, const RemoteStation& s) const
{
    const LocalDevice& d = adapter(adapterIndex).device;
    return s.networkKey == d.key1 || (d.provisional && s.deviceKey == d.key0);
}

std::vector<Reply> Network::handle(int adapterIndex, const uint8_t* frame, size_t length)
{
    std::vector<Reply> out;
    if (adapterIndex < 0 || adapterIndex >= adapterCount())
        return out;
    FrameView v{frame, length};
    if (!v.isManagement() || !v.has(offBody))
        return out;
    EmulatedAdapter& a = adapters_[static_cast<size_t>(adapterIndex)];
    LocalDevice& d = a.device;
    if (d.faults.silent)
        return out;

    const uint8_t* destination = frame + offDestination;
    const uint8_t* source = frame + offSource;
    bool forDevice = isBroadcast(destination) || sameMac(destination, d.mac);
    uint32_t delay = d.replyDelayMs;

    switch (frame[offEntryType]) {
    case typeLinkStats:
        // DiscoveryProbe and LinkStatsQuery alike; a reply (bit 7 clear) is not a request.
        if (forDevice && (frame[offBody] & requestMark))
            out.push_back({linkStatsReply(*this, a, source), delay});
        break;
    case typeParam: {
        if (!forDevice || frame[offEntryLength] != paramQueryEntryLength)
            break;
        uint8_t selector = frame[offBody];
        if (selector == selectorEeprom)
            out.push_back({paramReply(d, source, blockKindEeprom), delay});
        else if (selector == selectorRam)
            out.push_back({paramReply(d, source, blockKindRam), delay});
        break;
    }
    case typeStationQuery:
        if (forDevice)
            out.push_back({stationReply(d, source, d.mac), delay});
        for (const RemoteStation& s : a.stations) {
            bool addressed = isBroadcast(destination) || sameMac(destination, s.mac);
            if (addressed && !s.silent && reaches(adapterIndex, s))
                out.push_back({stationReply(d, source, s.mac), delay + s.replyDelayMs});
        }
        break;
    case typeSetKey:
        if (!v.has(offKey, keySize) || frame[offEntryLength] != setKeyEntryLength)
            break;
        if (forDevice) {
            setLocalKey(d, frame, length);
            break;
        }
        // Through the powerline, encrypted with key select 0: only the station
        // whose device key that is can read it.
        for (RemoteStation& s : a.stations) {
            if (sameMac(destination, s.mac) && !s.silent && s.deviceKey == d.key0 && frame[offKeySelect] == 1)
                std::memcpy(s.networkKey.data(), frame + offKey, keySize);
        }
        break;
    case typeControl:
        // A control without the provisional mark ends the provisional key.
        if (forDevice && v.has(offFrameControlValue)) {
            d.controlFlags = frame[offFrameControlFlags];
            d.controlMark = frame[offFrameControlMark];
            d.controlValue = frame[offFrameControlValue];
            if (!(d.controlMark & controlMarkProvisional))
                d.provisional = false;
        }
        break;
    default: break;
    }
    return out;
}

std::vector<Reply> Network::flood(int adapterIndex, uint32_t spanMs, uint32_t* sequence) const
{
    std::vector<Reply> out;
    if (adapterIndex < 0 || adapterIndex >= adapterCount())
        return out;
    const EmulatedAdapter& a = adapter(adapterIndex);
    const LocalDevice& d = a.device;
    if (d.faults.silent || d.faults.floodPerSecond == 0)
        return out;
    uint64_t count = uint64_t{d.faults.floodPerSecond} * spanMs / 1000;
    uint32_t localSequence = 0;
    uint32_t& n = sequence ? *sequence : localSequence;
    for (uint64_t i = 0; i < count; ++i, ++n) {
        uint32_t delay = static_cast<uint32_t>(i * spanMs / count);
        std::vector<uint8_t> f;
        switch (d.faults.floodKind) {
        case FloodKind::linkStats: f = linkStatsReply(*this, a, broadcastMac); break;
        case FloodKind::station: {
            Mac from = {0x02,
                        0xFE,
                        static_cast<uint8_t>(n >> 24),
                        static_cast<uint8_t>(n >> 16),
                        static_cast<uint8_t>(n >> 8),
                        static_cast<uint8_t>(n)};
            f = stationReply(d, broadcastMac, from);
            break;
        }
        case FloodKind::noise:
            f = replyFrame(d, broadcastMac, d.mac, minimumFrame);
            f[offEntryType] = 0x2A;  // no message of the system has this type
            f[offEntryLength] = 4;
            std::memcpy(f.data() + offBody, &n, sizeof n);
            break;
        }
        out.push_back({std::move(f), delay});
    }
    return out;
}

namespace {
std::string hex(const uint8_t* bytes, size_t count)
{
    std::string s;
    char two[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, "%.2x", bytes[i]);
        s += two;
    }
    return s;
}
}  // namespace

std::string describeFrame(const uint8_t* f, size_t length)
{
    FrameView v{f, length};
    char buffer[160];
    if (!v.has(offEthertype, 2))
        return "runt frame, " + std::to_string(length) + " bytes";
    std::string addresses = frames::Mac::of(f + offSource).text() + " > " + frames::Mac::of(f + offDestination).text();
    if (!v.isManagement()) {
        std::snprintf(buffer, sizeof buffer, "ethertype 0x%.2x%.2x", f[offEthertype], f[offEthertype + 1]);
        return std::string(buffer) + " " + addresses + " len=" + std::to_string(length);
    }
    if (!v.has(offBody))
        return "management frame without entry " + addresses + " len=" + std::to_string(length);
    uint8_t type = f[offEntryType];
    uint8_t entryLength = f[offEntryLength];
    uint8_t body = f[offBody];
    std::string text;
    switch (type) {
    case typeStationQuery: text = "StationQuery " + addresses; break;
    case typeStationReply: text = "StationReply " + addresses; break;
    case typeParam:
        if (entryLength == paramQueryEntryLength)
            std::snprintf(buffer, sizeof buffer, "ParamQuery %s selector=0x%.2x", addresses.c_str(), body);
        else
            std::snprintf(buffer, sizeof buffer, "ParamReply %s kind=%u entryLength=0x%.2x", addresses.c_str(), body,
                          entryLength);
        text = buffer;
        if (entryLength != paramQueryEntryLength && v.has(offParamBlock, paramBlockSize))
            text += " keySelect=" + std::to_string(f[offParamBlock + blockKeySelect]) +
                    " key=" + hex(f + offParamBlock + blockKey, keySize) +
                    " control=" + hex(f + offParamBlock + blockControlFlags, 3);
        break;
    case typeLinkStats:
        if (body & requestMark) {
            text = (length >= discoveryProbeLength ? "DiscoveryProbe " : "LinkStatsQuery ") + addresses;
        } else {
            int stations = 0;
            for (size_t i = 0; i < stationRecordCount; ++i) {
                size_t at = offStationRecords + i * stationRecordSize;
                if (v.has(at, macSize) && !std::all_of(f + at, f + at + macSize, [](uint8_t b) { return b == 0; }))
                    ++stations;
            }
            std::snprintf(buffer, sizeof buffer, "LinkStatsReply %s type=%u stations=%d", addresses.c_str(),
                          body & deviceTypeMask, stations);
            text = buffer;
        }
        break;
    case typeLocalDeviceNotice: text = "LocalDeviceNotice " + addresses; break;
    case typeControl:
        std::snprintf(buffer, sizeof buffer, "ControlFrame %s flags=0x%.2x mark=0x%.2x value=0x%.2x", addresses.c_str(),
                      body, v.at(offFrameControlMark), v.at(offFrameControlValue));
        text = buffer;
        break;
    case typeSetKey:
        text = "SetKeyFrame " + addresses + " keySelect=" + std::to_string(body);
        if (v.has(offKey, keySize))
            text += " key=" + hex(f + offKey, keySize);
        if (f[offEntryCount] >= 2 && v.has(offControlValue)) {
            std::snprintf(buffer, sizeof buffer, " flags=0x%.2x mark=0x%.2x value=0x%.2x", f[offControlFlags],
                          f[offControlMark], f[offControlValue]);
            text += buffer;
        }
        break;
    default:
        std::snprintf(buffer, sizeof buffer, "entry 0x%.2x %s", type, addresses.c_str());
        text = buffer;
        break;
    }
    return text + " len=" + std::to_string(length);
}

}  // namespace emu
