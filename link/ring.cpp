#include "link/link.h"
#include "zentrik/zentrik.h"

#include <cstring>

ReceiveSlot receiveSlots[maxAdapters][receiveSlotsPerAdapter];
SendSlot sendSlots[2];
int currentSendSlot = 0;

namespace {
// Each adapter's posted reads in the order the driver took them. The driver
// completes reads oldest first, so while the oldest is pending none is
// complete, and a take need not walk the 512 slots: that walk, over some
// 800 KB that an idle tick finds cold, was most of the program's idle cost.
struct PostOrder {
    uint16_t slots[receiveSlotsPerAdapter];
    int head = 0;
    int count = 0;

    void clear() { head = count = 0; }
    void push(int slot)
    {
        if (count == receiveSlotsPerAdapter)
            return;
        slots[(head + count) % receiveSlotsPerAdapter] = static_cast<uint16_t>(slot);
        ++count;
    }
    int oldest() const { return count > 0 ? slots[head] : -1; }
    void remove(int slot)
    {
        for (int k = 0; k < count; ++k) {
            if (slots[(head + k) % receiveSlotsPerAdapter] != slot)
                continue;
            // Mostly the oldest; otherwise the gap closes, keeping the order.
            for (int m = k; m > 0; --m)
                slots[(head + m) % receiveSlotsPerAdapter] = slots[(head + m - 1) % receiveSlotsPerAdapter];
            head = (head + 1) % receiveSlotsPerAdapter;
            --count;
            return;
        }
    }
};
PostOrder postOrder[maxAdapters];

bool completed(const ReceiveSlot& slot) { return getU32(slot.readRecord, readrec::status) == readrec::statusDone; }
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
    postOrder[a].clear();
    for (int i = 0; i < receiveSlotsPerAdapter; ++i) {
        ReceiveSlot& slot = receiveSlots[a][i];
        ResetEvent(slot.overlapped.hEvent);
        if (W32N_PacketRead(currentAdapterHandle, slot.readRecord, &slot.bytesTransferred, &slot.overlapped, 0) != 0)
            postOrder[a].push(i);
    }
}

uint8_t* takeReceived(int a)
{
    int oldest = postOrder[a].oldest();
    if (oldest >= 0) {
        ReceiveSlot& slot = receiveSlots[a][oldest];
        GetOverlappedResult(currentAdapterHandle, &slot.overlapped, &slot.bytesTransferred, 0);
        if (!completed(slot))
            return nullptr;
    }
    for (int i = 0; i < receiveSlotsPerAdapter; ++i) {
        ReceiveSlot& slot = receiveSlots[a][i];
        GetOverlappedResult(currentAdapterHandle, &slot.overlapped, &slot.bytesTransferred, 0);
        if (completed(slot)) {
            putU32(slot.readRecord, readrec::adapterIndex, static_cast<uint32_t>(a));
            putU32(slot.readRecord, readrec::slotIndex, static_cast<uint32_t>(i));
            putU32(slot.readRecord, readrec::status, readrec::statusPending);
            postOrder[a].remove(i);
            return slot.readRecord;
        }
    }
    return nullptr;
}

void repostReceive(uint8_t* record)
{
    uint32_t a = getU32(record, readrec::adapterIndex);
    uint32_t i = getU32(record, readrec::slotIndex);
    if (a >= maxAdapters || i >= receiveSlotsPerAdapter)
        return;
    ReceiveSlot& slot = receiveSlots[a][i];
    if (W32N_PacketRead(currentAdapterHandle, slot.readRecord, &slot.bytesTransferred, &slot.overlapped, 0) != 0)
        postOrder[a].push(static_cast<int>(i));
}

void cancelReceives(int a)
{
    postOrder[a].clear();
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
