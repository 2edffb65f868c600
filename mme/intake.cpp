#include "mme/intake.h"

#include "mme/classify.h"
#include "frames/frame.h"
#include "link/link.h"
#include "platform/platform.h"
#include "mme/requests.h"

#include <algorithm>
#include <cstring>

using namespace mme;

int selfAddressedSeen = 0;
int firstPolledAdapter = 0;

namespace {
FrameView recordFrame(const uint8_t* record)
{
    uint32_t length = std::min<uint32_t>(getU32(record, readrec::frameLength), readrec::frameRoom);
    return {record + readrec::frame, length};
}

// Counter rule shared by both passes: after `limit` failed passes in a row the
// caller's state is cleared and counting starts over.
bool countPass(AdapterEntry& e, bool success, uint8_t limit)
{
    if (!success && e.probeMisses == limit) {
        e.probeMisses = 0;
        return true;
    }
    if (success)
        e.probeMisses = 1;
    else
        e.probeMisses = static_cast<uint8_t>(e.probeMisses + 1);
    return false;
}
}  // namespace

uint8_t* classifyFrame(int a)
{
    uint8_t* record = takeReceived(a);
    if (!record)
        return nullptr;
    FrameView f = recordFrame(record);
    if (!f.isManagement())
        return record;

    AdapterEntry& e = adapters[a];
    bool self = isSelfAddressed(f);
    bool fromDevice = self;
    if (self)
        selfAddressedSeen = 1;
    else if (f.has(offBody) && (f.at(offEntryType) == typeLinkStats || f.at(offEntryType) == typeLocalDeviceNotice) &&
             (f.at(offBody) & requestMark) == 0)
        fromDevice = true;

    if (fromDevice) {
        std::memcpy(e.deviceMac, f.source(), macSize);
        e.devicePresent = 1;
        if (f.has(offDeviceType) && f.at(offEntryType) == typeLinkStats)
            e.deviceType = f.at(offDeviceType) & deviceTypeMask;
    }
    if (isParamReply(f) && f.at(offBlockKind) == blockKindEeprom) {
        e.paramsSeen = 1;
        std::memcpy(e.deviceParams, f.data + offParamBlock, paramBlockSize);
    }
    return record;
}

int pollAdapters(uint8_t* buffer, uint32_t* length)
{
    for (int n = 0; n < adapterCount; ++n) {
        const int i = (firstPolledAdapter + n) % adapterCount;
        currentAdapterHandle = adapters[i].handle;
        uint8_t* record = classifyFrame(i);
        selfAddressedSeen = 0;
        if (!record)
            continue;
        FrameView f = recordFrame(record);
        uint32_t copied = 0;
        if (f.isManagement()) {
            copied = std::min<uint32_t>(static_cast<uint32_t>(f.length), receiveBufferSize);
            std::memcpy(buffer, f.data, copied);
        }
        if (length)
            *length = copied;
        repostReceive(record);
        firstPolledAdapter = (i + 1) % adapterCount;
        return 1;
    }
    return 0;
}

int receiveFrame(uint8_t* buffer, uint32_t* length) { return pollAdapters(buffer, length); }

int waitForSelfAddressedReply(int a, uint32_t ms)
{
    currentAdapterHandle = adapters[a].handle;
    // Elapsed time, not a deadline: stays right when the tick count wraps.
    DWORD start = GetTickCount();
    bool seen = false;
    while (!seen && GetTickCount() - start < ms) {
        selfAddressedSeen = 0;
        uint8_t* record = classifyFrame(a);
        if (selfAddressedSeen) {
            selfAddressedSeen = 0;
            seen = true;
        }
        if (record)
            repostReceive(record);
        // Asleep until a frame may have come or the window ends; a frame just
        // taken may have others behind it.
        waitForFrames(record || seen ? start : start + ms);
    }
    return seen ? 1 : 0;
}

namespace {
ProbeWaitHook probeWaitHook = nullptr;
}

void setProbeWaitHook(ProbeWaitHook hook) { probeWaitHook = hook; }

int probeAllAdapters()
{
    for (int a = 0; a < adapterCount; ++a) {
        bool success = false;
        for (int j = 0; j < probeTries && !success; ++j) {
            sendDiscoveryProbe(a);
            success = waitForSelfAddressedReply(a, 400u * static_cast<uint32_t>(j) + 50u) != 0;
            if (!success && probeWaitHook)
                probeWaitHook();
        }
        if (countPass(adapters[a], success, 5))
            adapters[a].devicePresent = 0;
    }
    return 1;
}

int reprobeAdapter(int a)
{
    bool success = false;
    for (int j = 0; j < reprobeTries && !success; ++j) {
        sendParamQuery(a, adapters[a].ownMac, broadcastMac, selectorEeprom);
        success = waitForSelfAddressedReply(a, 4u * static_cast<uint32_t>(j) + 50u) != 0;
    }
    if (countPass(adapters[a], success, 3))
        adapters[a].paramsSeen = 0;
    return 1;
}

int bringUpDevices()
{
    if (!openAdapters())
        return 0;
    probeAllAdapters();
    bool any = false;
    for (int a = 0; a < adapterCount; ++a) {
        if (adapters[a].devicePresent != 1)
            continue;
        if (adapters[a].deviceType >= 1 && adapters[a].deviceType <= 3) {
            any = true;
            reprobeAdapter(a);
        } else {
            adapters[a].devicePresent = 0;
        }
    }
    return any ? 1 : 0;
}
