#include "mme/exchange.h"

#include "mme/classify.h"
#include "mme/intake.h"
#include "keysetlog/keysetlog.h"
#include "link/link.h"
#include "platform/platform.h"
#include "mme/requests.h"
#include "link/flags.h"

#include <cstring>

using namespace mme;

uint8_t referenceBlock[paramBlockSize];
int lastKeyConfirmed = -1;

namespace {
// Six equal bytes at the start: an erased or cleared block.
bool isBlank(const uint8_t* block) { return std::memcmp(block, block + 1, blockBlankTestSize - 1) == 0; }

// Records made while it lives are written with one rewrite when it ends, so a
// station that answers a confirmation with a flood of wrong blocks costs one
// write of "plc.log", not one per frame.
struct HeldKeySetLog {
    HeldKeySetLog() { holdKeySetLog(); }
    ~HeldKeySetLog() { flushKeySetLog(); }
    HeldKeySetLog(const HeldKeySetLog&) = delete;
    HeldKeySetLog& operator=(const HeldKeySetLog&) = delete;
};

// Polls for a ParamReply of kind 1 that equals referenceBlock, logging every
// one that does not; three tries of 500 ms after a 100 ms settle.
bool confirmKey(int a, const uint8_t* source)
{
    HeldKeySetLog held;
    uint8_t buffer[receiveBufferSize];
    busyWaitMs(confirmSettleMs);
    for (int attempt = 0; attempt < exchangeTries; ++attempt) {
        sendParamQuery(a, source, broadcastMac, selectorEeprom);
        DWORD start = GetTickCount();
        while (GetTickCount() - start < replyWindowMs) {
            uint32_t length = 0;
            if (!receiveFrame(buffer, &length))
                continue;
            FrameView f{buffer, length};
            if (!isParamReply(f) || f.at(offBlockKind) != blockKindEeprom)
                continue;
            if (matchesReference(f))
                return true;
            appendKeySetLog(logSetNek, attempt, buffer);
        }
    }
    return false;
}

// Waits up to 500 ms for a StationReply that `accept` takes; sleeps while nothing waits.
template <typename Accept>
bool awaitStationReply(Accept accept)
{
    uint8_t buffer[receiveBufferSize];
    DWORD start = GetTickCount();
    while (GetTickCount() - start < replyWindowMs) {
        uint32_t length = 0;
        if (!receiveFrame(buffer, &length)) {
            Sleep(10);
            continue;
        }
        FrameView f{buffer, length};
        if (isStationReply(f) && f.has(offSource, macSize) && accept(f.source()))
            return true;
    }
    return false;
}

// The provisional key pair and control frame that open a remote device to key1.
void offerKeys(int a, const uint8_t* key0, const uint8_t* key1, const uint8_t* key1Destination)
{
    const uint8_t* own = adapters[a].ownMac;
    setKey(a, {.source = own,
               .destination = broadcastMac,
               .keySelect = 0,
               .key = key0,
               .controlValue = 0x00,
               .withControl = true,
               .provisional = true});
    setKey(a, {.source = own,
               .destination = key1Destination,
               .keySelect = 1,
               .key = key1,
               .controlValue = 0x01,
               .provisional = true});
    sendControlFrame(a, own, broadcastMac, referenceBlock[blockControlFlags] | controlFlagsAlways,
                     referenceBlock[blockControlMark] | controlMarkProvisional, 0x01);
}
}  // namespace

void busyWaitMs(uint32_t ms)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {}
}

bool setKey(int a, const KeyFrame& frame)
{
    busy.catchUpAndSet(true);
    uint8_t flags = referenceBlock[blockControlFlags] | controlFlagsAlways;
    uint8_t mark = referenceBlock[blockControlMark];
    if (frame.provisional)
        mark |= controlMarkProvisional;

    uint8_t f[setKeyFrameLength] = {};
    std::memcpy(f + offDestination, frame.destination, macSize);
    std::memcpy(f + offSource, frame.source, macSize);
    f[offEthertype] = ethertypeHigh;
    f[offEthertype + 1] = ethertypeLow;
    f[offEntryCount] = frame.withControl ? 2 : 1;
    f[offEntryType] = typeSetKey;
    f[offEntryLength] = setKeyEntryLength;
    f[offKeySelect] = frame.keySelect;
    std::memcpy(f + offKey, frame.key, keySize);
    if (frame.withControl) {
        f[offControlEntry] = typeControl;
        f[offControlEntry + 1] = controlEntryLength;
        f[offControlFlags] = flags;
        f[offControlMark] = mark;
        f[offControlValue] = frame.controlValue;
    }
    bool sent = sendFrame(a, f, setKeyFrameLength) != 0;

    if (!frame.provisional) {
        referenceBlock[blockControlFlags] = flags;
        referenceBlock[blockControlMark] = mark;
        referenceBlock[blockControlValue] = frame.controlValue;
    }
    bool toBroadcast = isBroadcast(frame.destination);
    if (frame.keySelect != 0 && toBroadcast) {
        referenceBlock[blockKeySelect] = frame.keySelect;
        std::memcpy(referenceBlock + blockKey, frame.key, keySize);
    }
    lastKeyConfirmed = -1;
    if (adapters[a].paramsSeen && frame.keySelect != 0 && toBroadcast)
        lastKeyConfirmed = confirmKey(a, frame.source) ? 1 : 0;
    busy.catchUpAndSet(false);
    return sent;
}

bool setRemoteKey(const uint8_t* key0, const uint8_t* key1, const uint8_t* remoteMac)
{
    int a = selectedAdapter;
    for (int attempt = 0; attempt < exchangeTries; ++attempt) {
        offerKeys(a, key0, key1, remoteMac);
        sendStationQuery(a, adapters[a].ownMac, remoteMac);
        if (awaitStationReply([&](const uint8_t* from) { return std::memcmp(from, remoteMac, macSize) == 0; }))
            return true;
    }
    return false;
}

bool findRemoteDevice(const uint8_t* key0, const uint8_t* key1, uint8_t* responderMac)
{
    int a = selectedAdapter;
    for (int attempt = 0; attempt < exchangeTries; ++attempt) {
        offerKeys(a, key0, key1, broadcastMac);
        sendStationQuery(a, adapters[a].ownMac, broadcastMac);
        uint8_t found[macSize];
        if (awaitStationReply([&](const uint8_t* from) {
                std::memcpy(found, from, macSize);
                return std::memcmp(from, adapters[a].deviceMac, macSize) != 0;
            })) {
            std::memcpy(responderMac, found, macSize);
            return true;
        }
    }
    return false;
}

bool setLocalKeys(const uint8_t* key0, const uint8_t* key1)
{
    int a = selectedAdapter;
    setKey(a, {.source = adapters[a].ownMac,
               .destination = broadcastMac,
               .keySelect = 0,
               .key = key0,
               .controlValue = 0x01,
               .withControl = true,
               .provisional = true});
    setKey(a, {.source = adapters[a].ownMac,
               .destination = broadcastMac,
               .keySelect = 1,
               .key = key1,
               .controlValue = 0x01,
               .withControl = true});
    return true;
}

bool matchesReference(const FrameView& reply)
{
    return reply.has(offParamBlock, paramBlockSize) &&
           std::memcmp(reply.data + offParamBlock, referenceBlock, paramBlockSize) == 0;
}

void handleParamReply(const FrameView& reply)
{
    if (!isParamReply(reply))
        return;
    const uint8_t* block = reply.data + offParamBlock;
    uint8_t kind = reply.at(offBlockKind);
    if (isBlank(block)) {
        if (kind == blockKindEeprom)
            appendKeySetLog(logEeprom, 0, reply.data);
        else if (kind == blockKindRam)
            appendKeySetLog(logRam, 0, reply.data);
        return;
    }
    if (takesParamBlock(block, kind))
        std::memcpy(referenceBlock, block, paramBlockSize);
}

bool takesParamBlock(const uint8_t* block, uint8_t kind)
{
    uint8_t wanted = adapters[selectedAdapter].paramsSeen ? blockKindEeprom : blockKindRam;
    return !isBlank(block) && kind == wanted;
}
