#pragma once
// Layout of the management frames (Ethertype 0x887B), written once. Offsets
// count from the first byte of the destination address.
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace mme {

constexpr size_t offDestination = 0;
constexpr size_t offSource = 6;
constexpr size_t offEthertype = 12;
constexpr size_t offEntryCount = 14;
constexpr size_t offEntryType = 15;
constexpr size_t offEntryLength = 16;
constexpr size_t offBody = 17;
constexpr size_t macSize = 6;
constexpr size_t keySize = 8;

constexpr uint8_t ethertypeHigh = 0x88;
constexpr uint8_t ethertypeLow = 0x7B;
constexpr uint16_t ethertype = 0x887B;

// entryType values
constexpr uint8_t typeSetKey = 0x04;
constexpr uint8_t typeStationQuery = 0x07;
constexpr uint8_t typeStationReply = 0x08;
constexpr uint8_t typeParam = 0x19;      // ParamQuery and ParamReply
constexpr uint8_t typeLinkStats = 0x1A;  // LinkStatsQuery, DiscoveryProbe, LinkStatsReply
constexpr uint8_t typeLocalDeviceNotice = 0x1E;
constexpr uint8_t typeControl = 0x1F;

// Bytes handed to sendFrame for each request.
constexpr size_t stationQueryLength = 18;
constexpr size_t controlFrameLength = 20;
constexpr size_t paramQueryLength = 32;
constexpr size_t setKeyFrameLength = 32;
constexpr size_t linkStatsQueryLength = 38;
constexpr size_t discoveryProbeLength = 204;

constexpr size_t minimumFrame = 60;  // Ethernet minimum without FCS
constexpr size_t maximumFrame = 1514;

// entryLength values
constexpr uint8_t paramQueryEntryLength = 0x0F;
constexpr uint8_t paramReplyEntryLength = 0x33;
constexpr uint8_t linkStatsEntryLength = 0xBB;
constexpr uint8_t controlEntryLength = 3;
constexpr uint8_t setKeyEntryLength = 9;

// The request mark at offset 17 of LinkStatsQuery and DiscoveryProbe; a
// reply has bit 7 clear and carries the device type in bits 0 to 6.
constexpr uint8_t requestMark = 0x80;
constexpr uint8_t deviceTypeMask = 0x7F;

// ParamQuery selectors
constexpr uint8_t selectorEeprom = 0x00;
constexpr uint8_t selectorRam = 0x10;

// ParamReply
constexpr size_t offBlockKind = 17;
constexpr size_t offParamBlock = 18;
constexpr size_t paramBlockSize = 50;
constexpr size_t paramReplyLength = offParamBlock + paramBlockSize;  // 68
constexpr uint8_t blockKindEeprom = 1;
constexpr uint8_t blockKindRam = 2;

// Offsets inside the 50-byte parameter block.
constexpr size_t blockBlankTest = 0;  // six equal bytes: blank block
constexpr size_t blockBlankTestSize = 6;
constexpr size_t blockRestoreKey = 6;  // 8 bytes, key select 0 on restore
constexpr size_t blockKeySelect = 14;
constexpr size_t blockKey = 15;  // 8 bytes
constexpr size_t blockControlFlags = 23;
constexpr size_t blockControlMark = 24;
constexpr size_t blockControlValue = 25;

// SetKeyFrame
constexpr size_t offKeySelect = 17;
constexpr size_t offKey = 18;
constexpr size_t offControlEntry = 26;  // type, length, flags, mark, value
constexpr size_t offControlFlags = 28;
constexpr size_t offControlMark = 29;
constexpr size_t offControlValue = 30;
constexpr uint8_t controlFlagsAlways = 0x40;
constexpr uint8_t controlMarkProvisional = 0x01;
static_assert(offControlValue + 2 == setKeyFrameLength);

// ControlFrame body
constexpr size_t offFrameControlFlags = 17;
constexpr size_t offFrameControlMark = 18;
constexpr size_t offFrameControlValue = 19;

// LinkStatsReply
constexpr size_t offDeviceType = 17;
constexpr size_t offStationRecords = 24;
constexpr size_t stationRecordSize = 12;
constexpr size_t stationRecordCount = 15;
constexpr size_t stationRecordLinkValue = 6;  // within a record, 16-bit little-endian
constexpr size_t linkStatsReplyLength = offStationRecords + stationRecordSize * stationRecordCount;
static_assert(linkStatsReplyLength == 204);

constexpr uint8_t broadcastMac[macSize] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

inline bool isBroadcast(const uint8_t* mac) { return std::memcmp(mac, broadcastMac, macSize) == 0; }

// A received frame and its length; every read of received bytes asks has()
// first, so a frame too short for a field is refused in one place.
struct FrameView {
    const uint8_t* data = nullptr;
    size_t length = 0;

    bool has(size_t offset, size_t count = 1) const { return offset + count <= length; }
    uint8_t at(size_t offset) const { return has(offset) ? data[offset] : 0; }
    bool isManagement() const
    {
        return has(offEthertype, 2) && data[offEthertype] == ethertypeHigh && data[offEthertype + 1] == ethertypeLow;
    }
    bool hasEntry() const { return has(offBody); }
    const uint8_t* source() const { return data + offSource; }
    const uint8_t* destination() const { return data + offDestination; }
};

}  // namespace mme
