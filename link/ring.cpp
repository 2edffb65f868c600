#include "link/link.h"
#include "zentrik/zentrik.h"

#include <cstring>

ReceiveSlot receiveSlots[maxAdapters][receiveSlotsPerAdapter];
SendSlot sendSlots[2];
int currentSendSlot = 0;

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
    for (auto& slot : receiveSlots[a]) {
        ResetEvent(slot.overlapped.hEvent);
        W32N_PacketRead(currentAdapterHandle, slot.readRecord, &slot.bytesTransferred, &slot.overlapped, 0);
    }
}

uint8_t* takeReceived(int a)
{
    for (int i = 0; i < receiveSlotsPerAdapter; ++i) {
        ReceiveSlot& slot = receiveSlots[a][i];
        GetOverlappedResult(currentAdapterHandle, &slot.overlapped, &slot.bytesTransferred, 0);
        if (getU32(slot.readRecord, readrec::status) == readrec::statusDone) {
            putU32(slot.readRecord, readrec::adapterIndex, static_cast<uint32_t>(a));
            putU32(slot.readRecord, readrec::slotIndex, static_cast<uint32_t>(i));
            putU32(slot.readRecord, readrec::status, readrec::statusPending);
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
    W32N_PacketRead(currentAdapterHandle, slot.readRecord, &slot.bytesTransferred, &slot.overlapped, 0);
}

void cancelReceives(int a)
{
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
