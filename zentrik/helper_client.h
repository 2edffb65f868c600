#pragma once
// The Linux packet driver's side of brennic-link: starting it, the requests
// and replies on the socketpair, and the receive rings it shares with each
// open adapter. One helper per process and network namespace.
#include "helper/link_wire.h"

#include <cstddef>
#include <cstdint>

namespace linkclient {

// Starts the helper unless this process has one; 0 or an errno.
int connectHelper();
// Drops the connection; every adapter went with it. `lost`: the helper has
// ended or failed a request, and what it was asked may not have been done.
void disconnect(bool lost = false);
// False in a forked child, whose helper belongs to its parent.
bool ownsHelper();
// A request that gets no reply (a send).
bool sendRequest(linkwire::Op op, uint32_t handle, const void* payload, size_t length);
// A request and its reply; false, with the connection dropped, when the helper is gone.
bool ask(linkwire::Op op, uint32_t handle, const void* payload, size_t length, uint32_t* result, uint32_t* value,
         int* passedFd = nullptr);

// Defined by the driver: the connection has gone, and every adapter with it.
void forgetAdapters();

// An adapter's receive ring: the helper fills a free slot and marks it
// filled, the driver copies the frame out and marks it free again; both go
// round in order.
struct ReceiveRing {
    uint8_t* slots = nullptr;
    size_t next = 0;  // the slot the helper fills next
};

// Maps the ring the helper passed with an open; 0 or an errno (EPROTO when it passed none).
int mapRing(ReceiveRing& ring, int fd);
void unmapRing(ReceiveRing& ring);
// The frame in the next slot and the length the helper stored; null while the slot is free.
const uint8_t* filledFrame(ReceiveRing& ring, uint32_t* stored);
// Hands the next slot back to the helper and moves on.
void freeSlot(ReceiveRing& ring);

}  // namespace linkclient
