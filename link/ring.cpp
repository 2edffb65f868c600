#include "link/link.h"
#include "zentrik/zentrik.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <iterator>

// Constant-initialised: a run-time initialiser would touch all 13 MB of slots at
// every program start, though most adapters and slots are never used.
constinit ReceiveSlot receiveSlots[maxAdapters][receiveSlotsPerAdapter]{};
constinit SendSlot sendSlots[2]{};
int currentSendSlot = 0;

namespace {
// Each adapter's posted reads in the order the driver took them, and the
// completed ones not yet taken, by slot. The driver completes reads oldest
// first, so one look from the oldest posted read on finds every read that
// completed since the last look: a take costs the same however many frames
// wait, and an idle take looks at one read only.
struct ReadOrder {
    static constexpr int words = receiveSlotsPerAdapter / 64;
    uint16_t slots[receiveSlotsPerAdapter];
    int head = 0;
    int count = 0;
    uint64_t done[words] = {};

    void clear()
    {
        head = count = 0;
        std::fill(std::begin(done), std::end(done), 0);
    }
    void push(int slot)
    {
        if (count == receiveSlotsPerAdapter)
            return;
        slots[(head + count) % receiveSlotsPerAdapter] = static_cast<uint16_t>(slot);
        ++count;
    }
    int oldest() const { return count > 0 ? slots[head] : -1; }
    void completeOldest()
    {
        int slot = slots[head];
        done[slot / 64] |= uint64_t{1} << (slot % 64);
        head = (head + 1) % receiveSlotsPerAdapter;
        --count;
    }
    // The lowest-numbered completed slot, taken out of the set; -1 when none.
    int takeLowest()
    {
        for (int w = 0; w < words; ++w) {
            if (done[w] == 0)
                continue;
            int bit = std::countr_zero(done[w]);
            done[w] &= done[w] - 1;
            return w * 64 + bit;
        }
        return -1;
    }
    bool anyDone() const
    {
        for (uint64_t w : done)
            if (w != 0)
                return true;
        return false;
    }
};
constinit ReadOrder readOrder[maxAdapters]{};

bool completed(const ReceiveSlot& slot) { return getU32(slot.readRecord, readrec::status) == readrec::statusDone; }

// Moves the reads that completed since the last look into the completed set.
void collect(int a, int32_t handle)
{
    ReadOrder& order = readOrder[a];
    if (order.count == 0)
        return;
    ReceiveSlot& first = receiveSlots[a][order.oldest()];
    GetOverlappedResult(handle, &first.overlapped, &first.bytesTransferred, 0);
    while (order.count > 0 && completed(receiveSlots[a][order.oldest()]))
        order.completeOldest();
}
}  // namespace

int createReceiveEvents(int a)
{
    for (auto& slot : receiveSlots[a]) {
        slot.overlapped.hEvent = CreateEventA(nullptr, 1, 0, nullptr);
        if (slot.overlapped.hEvent == 0)
            return 0;
        putU32(slot.readRecord, readrec::bufferSize, readrec::preparedBufferSize);
    }
    return 1;
}

void postReceives(int a)
{
    readOrder[a].clear();
    for (int i = 0; i < receiveSlotsPerAdapter; ++i) {
        ReceiveSlot& slot = receiveSlots[a][i];
        ResetEvent(slot.overlapped.hEvent);
        if (W32N_PacketRead(currentAdapterHandle, slot.readRecord, &slot.bytesTransferred, &slot.overlapped, 0) != 0)
            readOrder[a].push(i);
    }
}

uint8_t* takeReceived(int a)
{
    collect(a, currentAdapterHandle);
    int i = readOrder[a].takeLowest();
    if (i < 0)
        return nullptr;
    ReceiveSlot& slot = receiveSlots[a][i];
    putU32(slot.readRecord, readrec::adapterIndex, static_cast<uint32_t>(a));
    putU32(slot.readRecord, readrec::slotIndex, static_cast<uint32_t>(i));
    putU32(slot.readRecord, readrec::status, readrec::statusPending);
    return slot.readRecord;
}

bool framesWaiting()
{
    for (int a = 0; a < adapterCount; ++a) {
        collect(a, adapters[a].handle);
        if (readOrder[a].anyDone())
            return true;
    }
    return false;
}

void waitForFrames(DWORD deadline)
{
    int fd = zentrikWakeFd();
    // A driver that cannot say when a frame comes is looked at every millisecond.
    platform::waitForTickOrReadable(deadline, fd, fd < 0 ? 1 : platform::noLimitMs);
    zentrikClearWake();
}

void repostReceive(uint8_t* record)
{
    uint32_t a = getU32(record, readrec::adapterIndex);
    uint32_t i = getU32(record, readrec::slotIndex);
    if (a >= maxAdapters || i >= receiveSlotsPerAdapter)
        return;
    ReceiveSlot& slot = receiveSlots[a][i];
    if (W32N_PacketRead(currentAdapterHandle, slot.readRecord, &slot.bytesTransferred, &slot.overlapped, 0) != 0)
        readOrder[a].push(static_cast<int>(i));
}

void cancelReceives(int a)
{
    readOrder[a].clear();
    for (auto& slot : receiveSlots[a]) {
        ResetEvent(slot.overlapped.hEvent);
        W32N_CancelPacketRead(currentAdapterHandle, slot.readRecord);
    }
}

int createSendEvents()
{
    for (auto& slot : sendSlots) {
        slot.overlapped.hEvent = CreateEventA(nullptr, 1, 0, nullptr);
        if (slot.overlapped.hEvent == 0)
            return 0;
    }
    currentSendSlot = 0;
    return 1;
}

int sendFrame(int a, const uint8_t* frame, uint16_t length)
{
    uint16_t sendLength = length;
    if (length < 60)
        sendLength = 60;
    else if (length > 1514)
        return 0;

    SendSlot& slot = sendSlots[currentSendSlot];
    std::memset(slot.data, 0, sendLength);  // filler of short frames is zero
    std::memcpy(slot.data, frame, length);
    slot.length = sendLength;

    int result = 0;
    if (W32N_PacketSend(adapters[a].handle, slot.data, sendLength, &slot.bytesSent, &slot.overlapped) != 0)
        result = WaitForSingleObject(slot.overlapped.hEvent, sendWaitMs) != WAIT_FAILED ? 1 : 0;
    currentSendSlot ^= 1;
    return result;
}
