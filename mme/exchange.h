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

bool setKey(int a, const uint8_t* source, const uint8_t* destination, uint8_t keySelect, const uint8_t* key,
            uint8_t controlValue, bool withControl, bool provisional);
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
