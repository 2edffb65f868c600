#pragma once
// What the Linux packet driver and brennic-link say to each other over the
// socketpair the helper inherits, and the receive ring they share.
//
// A request is one SOCK_SEQPACKET message: op (1 byte), three zero bytes, the
// helper's handle (32-bit little-endian), then the op's payload. Every request
// but a send gets a reply of two 32-bit words: 0 or an errno, and a value (the
// handle for an open, the ring position for a filter). The reply to a
// successful open carries the adapter's receive ring as a memfd (SCM_RIGHTS).
#include <cstddef>
#include <cstdint>

#include <linux/filter.h>
#include <net/if.h>

namespace linkwire {

// The helper's end of the socketpair, the only descriptor it keeps open.
constexpr int helperFd = 3;

enum Op : uint8_t {
    opOpen = 1,         // payload: interface name, 1 to 15 bytes, no NUL
    opClose = 2,        // no payload
    opPromiscuous = 3,  // payload: one byte, 1 on, 0 off
    opFilter = 4,       // payload: the program below, byte for byte
    opSend = 5,         // payload: the frame; no reply
    opWake = 6,         // no payload, handle 0; the reply carries an eventfd (SCM_RIGHTS)
                        // that the helper makes readable whenever it has put frames in a ring
};

// Every op the parser accepts. A new op is added here, and the request fuzz
// target refuses to build until it knows what that op may ask of the helper.
constexpr Op acceptedOps[] = {opOpen, opClose, opPromiscuous, opFilter, opSend, opWake};

constexpr size_t headerSize = 8;
constexpr size_t minFrame = 60;
constexpr size_t maxFrame = 1514;
constexpr size_t maxRequest = headerSize + maxFrame;
constexpr size_t replySize = 8;
constexpr uint32_t maxHandles = 32;
constexpr uint16_t managementType = 0x887B;

// ethertype 0x887B: accept; anything else: drop
//   ldh [12]; jeq #0x887B, 0, 1; ret #0xFFFFFFFF; ret #0
constexpr sock_filter filterProgram[4] = {
    {0x28, 0, 0, 12},
    {0x15, 0, 1, managementType},
    {0x06, 0, 0, 0xFFFFFFFF},
    {0x06, 0, 0, 0},
};
// As the library receives it: 16-bit opcode, jt, jf, 32-bit constant, little-endian.
constexpr size_t filterBytes = sizeof filterProgram / sizeof filterProgram[0] * 8;

// The receive ring: the helper fills a free slot and marks it filled, the
// driver copies the frame out and marks it free again; both go round in order.
constexpr size_t ringSlots = 1024;
constexpr size_t slotSize = 2048;
constexpr size_t ringBytes = ringSlots * slotSize;
constexpr size_t slotStatus = 0;  // 32-bit, written with release, read with acquire
constexpr size_t slotLength = 4;
constexpr size_t slotFrame = 16;
// A received frame is carried whole up to this; what is longer is cut to it.
constexpr size_t slotRoom = slotSize - slotFrame;
static_assert(maxFrame <= slotRoom);
constexpr uint32_t slotFree = 0;
constexpr uint32_t slotFilled = 1;

struct Request {
    Op op = opOpen;
    uint32_t handle = 0;
    char name[IFNAMSIZ] = {};        // opOpen
    bool on = false;                 // opPromiscuous
    const uint8_t* frame = nullptr;  // opSend
    size_t frameLength = 0;
};

// The one place a request is accepted or refused; false for anything that is
// not exactly one of the requests above.
bool parseRequest(const uint8_t* data, size_t length, Request* out);

}  // namespace linkwire
