#pragma once
// The packet link: the table of opened adapters, their receive rings and the
// two send slots. Every frame in or out of the system passes through here.
#include "platform/platform.h"
#include "zentrik/records.h"

#include <cstddef>
#include <cstdint>

constexpr int maxAdapters = 16;
constexpr int receiveSlotsPerAdapter = 512;
constexpr int adapterNameSize = 101;  // 100 characters and a NUL

struct AdapterEntry {
    int32_t handle;
    uint8_t ownMac[6];
    uint8_t probeMisses;
    char name[adapterNameSize];
    int32_t devicePresent;
    int32_t deviceType;
    int32_t paramsSeen;
    uint8_t deviceMac[6];
    uint8_t deviceParams[50];
};

struct ReceiveSlot {
    uint32_t bytesTransferred;
    OVERLAPPED overlapped;
    uint8_t readRecord[readrec::size];
};

struct SendSlot {
    uint16_t length;
    uint32_t bytesSent;
    OVERLAPPED overlapped;
    uint8_t data[1514];
};

extern AdapterEntry adapters[maxAdapters];
extern int adapterCount;
extern int32_t currentAdapterHandle;
extern OVERLAPPED ndisOverlapped;
extern ReceiveSlot receiveSlots[maxAdapters][receiveSlotsPerAdapter];
extern SendSlot sendSlots[2];
extern int currentSendSlot;

// ethertype 0x887B: accept; anything else: drop
//   ldh [12]; jeq #0x887B, 0, 1; ret #0xFFFFFFFF; ret #0
constexpr uint8_t frameFilterProgram[32] = {
    0x28, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x15, 0x00, 0x00, 0x01, 0x7B, 0x88, 0x00, 0x00,
    0x06, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
};

int openAdapters();
int closeAdapters();
int queryOwnMac(uint8_t* buffer, uint32_t* length);
int setPacketFilter(uint32_t filter);
int installFrameFilter();

int createReceiveEvents(int a);
void postReceives(int a);
// Address of the lowest-numbered completed read record of adapter a, or nullptr.
uint8_t* takeReceived(int a);
void repostReceive(uint8_t* record);
// True when a take on some adapter would find a frame; takes none.
bool framesWaiting();
// Sleeps until the tick count reaches `deadline` or a frame may have arrived
// (a millisecond at most where the driver cannot tell).
void waitForFrames(DWORD deadline);
void cancelReceives(int a);

int createSendEvents();
// Pads to 60 bytes, refuses more than 1514, waits at most 5000 ms for the send.
int sendFrame(int a, const uint8_t* frame, uint16_t length);

constexpr uint32_t sendWaitMs = 5000;

// Nonzero once the process that reaches the adapters has ended under them:
// nothing goes out or comes in until openAdapters starts a new one.
int linkLost();
