#pragma once
// Reply intake: every received frame is classified here, and the local device
// behind each adapter is discovered from what it sends.
#include <cstdint>

constexpr uint32_t receiveBufferSize = 1500;

extern int selfAddressedSeen;
// The adapter the next take looks at first.
extern int firstPolledAdapter;

uint8_t* classifyFrame(int a);
int pollAdapters(uint8_t* buffer, uint32_t* length);
// Takes at most one frame. The adapters are asked in table order, starting
// after the one that gave the last frame, so that a flood on one adapter cannot
// hold back the frames of another. A management frame is copied to buffer (at least 1500 bytes) and its length
// stored in *length (0 when the record held no management frame).
int receiveFrame(uint8_t* buffer, uint32_t* length = nullptr);
int waitForSelfAddressedReply(int a, uint32_t ms);
int probeAllAdapters();
// Called after each probe window that ended without a reply, so that a caller
// can say that discovery is taking long. nullptr: nothing is called.
using ProbeWaitHook = void (*)();
void setProbeWaitHook(ProbeWaitHook hook);
int reprobeAdapter(int a);
int bringUpDevices();

// Probe windows: 50 + 400 j ms for five tries, re-probe 50 + 4 j ms for three.
constexpr int probeTries = 5;
constexpr int reprobeTries = 3;
