#pragma once
// The simulated packet driver that tests link instead of the Linux one: adapters
// held in memory, every frame sent visible to the test, frames deliverable to any
// adapter at a virtual time. It runs on the virtual clock (simclock.h).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zsim {

enum class NameMode {
    normal,            // size query returns 122, then the name
    sizeQueryZero,     // size query returns 0 (also accepted)
    secondSizeZero,    // the second call leaves a size of 0: adapter skipped
    secondSizeLarger,  // the second call reports more than the name and the buffer
    fails,             // the size query fails
};

enum class SendMode {
    completes,      // the event is set at once
    fails,          // W32N_PacketSend returns 0
    neverCompletes  // started, but the event is never set
};

struct SentFrame {
    int adapter;  // index in the simulated enumeration
    std::vector<uint8_t> bytes;
    uint32_t atMs;
    uint64_t atMicros = 0;
};

// Called for every frame that left through W32N_PacketSend (after it is recorded).
using SendHook = std::function<void(int adapter, const uint8_t* frame, size_t length)>;

// Forgets every adapter, frame, hook and failure mode.
void reset();
// Adds an adapter at the end of the enumeration; returns its index.
int addAdapter(const std::string& name, const uint8_t mac[6]);
int adapterCount();

void setEnumerationFails(bool fails);
void setOpenFails(int adapter, bool fails);
void setNameMode(int adapter, NameMode mode);
void setMacQueryFails(int adapter, bool fails);
void setSendMode(int adapter, SendMode mode);
void setSendHook(SendHook hook);
// As if the process behind the adapters had ended: sends fail until an adapter is opened again.
void loseHelper();

// Queues a frame to arrive `delayMs` from now. Frames that arrive while the
// adapter is closed are lost; the installed filter program applies.
void deliver(int adapter, const uint8_t* frame, size_t length, uint32_t delayMs = 0);
void deliver(int adapter, const std::vector<uint8_t>& frame, uint32_t delayMs = 0);

const std::vector<SentFrame>& sentFrames();
void clearSent();
// Every frame sent since reset(), whatever clearSent() dropped.
const std::vector<SentFrame>& wholeTrace();

bool isOpen(int adapter);
int openHandleCount();
bool promiscuous(int adapter);
std::vector<uint8_t> filterProgram(int adapter);
int postedReads(int adapter);
int pendingFrames(int adapter);  // delivered but not yet completed into a read
int handleOf(int adapter);       // -1 when closed
int adapterOfHandle(int32_t handle);

}  // namespace zsim
