#include "netstate/stations.h"

#include "link/link.h"
#include "netstate/profiles.h"
#include "link/flags.h"
#include "frames/mac.h"
#include "netstate/rating.h"

#include <cmath>
#include <cstdio>
#include <cstring>

using namespace mme;

namespace {
RemoteStation* table() { return profiles[selectedAdapter].stations; }

uint16_t linkValueAt(const FrameView& f, size_t record)
{
    size_t at = offStationRecords + stationRecordSize * record + stationRecordLinkValue;
    return static_cast<uint16_t>(f.data[at] | f.data[at + 1] << 8);
}

// The first station record, wholly inside the frame, whose MAC matches.
int findRecord(const FrameView& f, const uint8_t* mac)
{
    for (size_t j = 0; j < stationRecordCount; ++j) {
        size_t at = offStationRecords + stationRecordSize * j;
        if (f.has(at, stationRecordSize) && std::memcmp(f.data + at, mac, macSize) == 0)
            return static_cast<int>(j);
    }
    return -1;
}
}  // namespace

void recordStationReply(const FrameView& reply)
{
    if (!reply.has(offSource, macSize))
        return;
    const uint8_t* source = reply.source();
    if (std::memcmp(source, adapters[selectedAdapter].deviceMac, macSize) == 0)
        return;
    RemoteStation* s = table();
    for (int i = 0; i < stationsPerProfile; ++i) {
        if (s[i].inUse && std::memcmp(s[i].mac, source, macSize) == 0) {
            ++s[i].seenCount;
            return;
        }
    }
    for (int i = 0; i < stationsPerProfile; ++i) {
        if (!s[i].inUse) {
            std::memcpy(s[i].mac, source, macSize);
            s[i].inUse = 1;
            // A free entry may keep its previous occupant's count; a newcomer
            // must earn its first ageing pass with a reply of its own.
            s[i].seenCount = 0;
            s[i].rateMbps = 0.0;
            return;
        }
    }
}

void ageStations()
{
    // Entries are freed in place, so used ones can lie behind free ones.
    RemoteStation* s = table();
    for (int i = 0; i < stationsPerProfile; ++i) {
        if (!s[i].inUse)
            continue;
        if (s[i].seenCount != 0) {
            s[i].seenCount = 0;
        } else {
            s[i].inUse = 0;
            s[i].rateMbps = 0.0;
        }
    }
}

double rateFromLinkValue(uint16_t v)
{
    double first = v * 0.023809523809523808;
    double second = first * 1.1434511434511434;
    return second - 0.12978912978912938;
}

void updateRates(const FrameView& reply)
{
    RemoteStation* s = table();
    for (int i = 0; i < stationsPerProfile; ++i) {
        if (!s[i].inUse)
            continue;
        int j = findRecord(reply, s[i].mac);
        if (j < 0) {
            uint8_t alias[macSize];
            std::memcpy(alias, s[i].mac, macSize);
            alias[0] |= 0x01;
            j = findRecord(reply, alias);
        }
        if (j >= 0)
            s[i].rateMbps = rateFromLinkValue(linkValueAt(reply, static_cast<size_t>(j)));
    }
}

double averageRate()
{
    const RemoteStation* s = table();
    double sum = 0.0;
    int count = 0;
    // A station the last reply did not list has no rate yet; it does not count as 0.
    for (int i = 0; i < stationsPerProfile; ++i) {
        if (!s[i].inUse || s[i].rateMbps == 0.0)
            continue;
        sum += s[i].rateMbps;
        ++count;
    }
    return sum != 0.0 ? sum / count : 0.0;
}

LinkQuality linkQualityFor(double average)
{
    double x = average * 0.0809192425958893;
    double y = (std::log10(x) + 1.13502) * 0.8810417437578193;
    double m = x > y ? x : y;
    double p = 100 * m;
    if (p == 0.0 || std::isnan(p))
        p = 3;
    // Rates come from the profile table too; one out of range must not make the cast overflow.
    int position = p < -1e9 ? 0 : p > 1e9 ? 1000000000 : static_cast<int>(p);

    if (average < fairFromMbps)
        return {average, position, {230, 0, 0}, rating::texts[rating::poor]};
    if (average <= excellentAboveMbps)
        return {average, position, {230, 230, 0}, rating::texts[rating::fair]};
    return {average, position, {0, 230, 0}, rating::texts[rating::excellent]};
}

std::vector<StationRow> stationRows()
{
    std::vector<StationRow> rows;
    const RemoteStation* s = table();
    for (int i = 0; i < stationsPerProfile; ++i) {
        if (!s[i].inUse)
            continue;
        char rate[64] = "*";
        if (s[i].rateMbps != 0.0)
            std::snprintf(rate, sizeof rate, "%.2f", s[i].rateMbps);
        rows.push_back({frames::Mac::of(s[i].mac).text(), rate, s[i].rateMbps});
    }
    return rows;
}
