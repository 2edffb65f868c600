#include "mme/requests.h"

#include "frames/frame.h"
#include "link/link.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {
using namespace mme;

// Zeroed frame with addresses, Ethertype and one entry header.
template <size_t N>
std::array<uint8_t, N> header(const uint8_t* source, const uint8_t* destination, uint8_t type, uint8_t length)
{
    std::array<uint8_t, N> f{};
    std::memcpy(f.data() + offDestination, destination, macSize);
    std::memcpy(f.data() + offSource, source, macSize);
    f[offEthertype] = ethertypeHigh;
    f[offEthertype + 1] = ethertypeLow;
    f[offEntryCount] = 1;
    f[offEntryType] = type;
    f[offEntryLength] = length;
    return f;
}

template <size_t N>
bool send(int a, const std::array<uint8_t, N>& f)
{
    return sendFrame(a, f.data(), static_cast<uint16_t>(N)) != 0;
}
}  // namespace

bool sendStationQuery(int a, const uint8_t* source, const uint8_t* destination)
{
    return send(a, header<stationQueryLength>(source, destination, typeStationQuery, 0));
}

bool sendParamQuery(int a, const uint8_t* source, const uint8_t* destination, uint8_t selector)
{
    auto f = header<paramQueryLength>(source, destination, typeParam, paramQueryEntryLength);
    f[offBody] = selector;
    return send(a, f);
}

bool sendLinkStatsQuery(int a, const uint8_t* source, const uint8_t* destination)
{
    // Announces the whole body but carries only its first 21 bytes.
    auto f = header<linkStatsQueryLength>(source, destination, typeLinkStats, linkStatsEntryLength);
    f[offBody] = requestMark;
    return send(a, f);
}

bool sendDiscoveryProbe(int a)
{
    const AdapterEntry& e = adapters[a];
    bool deviceKnown = std::none_of(e.deviceMac, e.deviceMac + macSize, [](uint8_t b) { return b == 0; });
    auto f = header<discoveryProbeLength>(deviceKnown ? e.deviceMac : e.ownMac, broadcastMac, typeLinkStats,
                                          linkStatsEntryLength);
    f[offBody] = requestMark;
    return send(a, f);
}

bool sendControlFrame(int a, const uint8_t* source, const uint8_t* destination, uint8_t controlFlags,
                      uint8_t controlMark, uint8_t controlValue)
{
    auto f = header<controlFrameLength>(source, destination, typeControl, controlEntryLength);
    f[offFrameControlFlags] = controlFlags;
    f[offFrameControlMark] = controlMark;
    f[offFrameControlValue] = controlValue;
    return send(a, f);
}
