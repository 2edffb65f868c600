#pragma once
// Key-setting exchanges with the local device and, through it, with remote
// devices. All of them block the calling thread for their whole length.
#include "frames/frame.h"

#include <cstdint>

// The system's picture of the local device's parameter block.
extern uint8_t referenceBlock[mme::paramBlockSize];
// The last setKey's confirmation: 1 the device's block showed the key, 0 it
// did not, -1 none was asked for (no parameter block seen, or not a broadcast key).
extern int lastKeyConfirmed;

// One SetKey frame, its fields named at each call.
struct KeyFrame {
    const uint8_t* source = nullptr;       // the adapter's own MAC
    const uint8_t* destination = nullptr;  // the broadcast address reaches the local device
    uint8_t keySelect = 0;                 // 0: key0, the device's own key; 1: key1, the network key
    const uint8_t* key = nullptr;          // 8 bytes
    uint8_t controlValue = 0;
    bool withControl = false;  // a control entry follows the key
    // Marked provisional; the reference block keeps its control bytes.
    bool provisional = false;
};
// Sends the frame from adapter `a`; a network key to the broadcast address is
// then confirmed against the device's block (see lastKeyConfirmed).
bool setKey(int a, const KeyFrame& frame);
bool setRemoteKey(const uint8_t* key0, const uint8_t* key1, const uint8_t* remoteMac);
bool findRemoteDevice(const uint8_t* key0, const uint8_t* key1, uint8_t* responderMac);
bool setLocalKeys(const uint8_t* key0, const uint8_t* key1);

// For a ParamReply the monitor took.
void handleParamReply(const mme::FrameView& reply);
// Whether handleParamReply takes a block of this kind into referenceBlock: not
// blank, and of the kind the selected adapter's paramsSeen calls for.
bool takesParamBlock(const uint8_t* block, uint8_t kind);
bool matchesReference(const mme::FrameView& reply);
void busyWaitMs(uint32_t ms);

constexpr uint32_t confirmSettleMs = 100;
constexpr uint32_t replyWindowMs = 500;
constexpr int exchangeTries = 3;

// The key exchanges' and the intake's process-wide state as a fresh process has it.
void resetMmeState();
