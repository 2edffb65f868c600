// The packet driver on Linux: the calls the link makes on open adapters.
// Requests go to brennic-link (helper_client.h), frames come back through the
// ring each adapter shares with it, and reads are completed only when the
// link asks for an overlapped result. No threads.
#include "zentrik/zentrik.h"

#include "helper/link_wire.h"
#include "zentrik/driver_linux.h"
#include "zentrik/helper_client.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <net/if.h>
#include <unistd.h>

using zlinux::lastError;

uint32_t zlinux::lastError = 0;

namespace {
constexpr int maxOpen = static_cast<int>(linkwire::maxHandles);
// The link posts 512 reads per adapter; room for twice that.
constexpr size_t postedCapacity = 1024;

struct PostedRead {
    uint8_t* record;
    OVERLAPPED* overlapped;
    uint32_t* bytes;
};

struct OpenAdapter {
    bool open = false;
    uint32_t helperHandle = 0;
    char name[IFNAMSIZ]{};
    bool promiscuous = false;
    linkclient::ReceiveRing ring;
    // Posted reads, oldest first, as a ring over `posted`.
    std::array<PostedRead, postedCapacity> posted{};
    size_t head = 0;
    size_t count = 0;
};

constinit std::array<OpenAdapter, maxOpen> opened{};

OpenAdapter* byHandle(int32_t handle)
{
    if (handle < 0 || handle >= maxOpen)
        return nullptr;
    OpenAdapter& a = opened[static_cast<size_t>(handle)];
    return a.open ? &a : nullptr;
}

// `bySocket`: the helper's packet socket refused, not the start of the helper.
void reportOpenFailure(const char* name, int error, bool bySocket)
{
    const char* hint = bySocket && (error == EPERM || error == EACCES) ? " (needs CAP_NET_RAW)" : "";
    std::fprintf(stderr, "%s: cannot open adapter %s: %s%s\n", program_invocation_short_name, name,
                 std::strerror(error), hint);
}

void forgetPosted(OpenAdapter& a)
{
    a.head = 0;
    a.count = 0;
}

void forget(OpenAdapter& a)
{
    linkclient::unmapRing(a.ring);
    a.open = false;
    a.promiscuous = false;
    forgetPosted(a);
}

// The record announces how much it takes; readers rely on never getting more.
size_t roomOf(const PostedRead& read)
{
    return std::min<size_t>(getU32(read.record, readrec::bufferSize), readrec::frameRoom);
}

// The oldest posted read now holds a frame of `length` bytes.
void complete(OpenAdapter& a, uint32_t length)
{
    PostedRead& read = a.posted[a.head];
    putU32(read.record, readrec::frameLength, length);
    putU32(read.record, readrec::status, readrec::statusDone);
    if (read.bytes)
        *read.bytes = length;
    if (read.overlapped)
        SetEvent(read.overlapped->hEvent);
    a.head = (a.head + 1) % postedCapacity;
    --a.count;
}

// Moves the next frame out of the shared ring into the oldest posted read.
// False when the ring holds none.
bool completeFromRing(OpenAdapter& a)
{
    uint32_t stored = 0;
    const uint8_t* frame = linkclient::filledFrame(a.ring, &stored);
    if (!frame)
        return false;
    // A frame longer than the room is cut to it, never written past it.
    size_t length = std::min({size_t{stored}, linkwire::slotRoom, roomOf(a.posted[a.head])});
    std::memcpy(a.posted[a.head].record + readrec::frame, frame, length);
    linkclient::freeSlot(a.ring);
    complete(a, static_cast<uint32_t>(length));
    return true;
}
}  // namespace

void linkclient::forgetAdapters()
{
    for (OpenAdapter& a : opened)
        forget(a);
}

int32_t W32N_OpenAdapterA(const char* name)
{
    auto slot = std::find_if(opened.begin(), opened.end(), [](const OpenAdapter& a) { return !a.open; });
    int error = 0;
    size_t length = name ? std::strlen(name) : 0;
    if (slot == opened.end())
        error = EMFILE;
    else if (length == 0 || length >= IFNAMSIZ)
        error = ENODEV;
    else
        error = linkclient::connectHelper();
    bool helperStarted = error == 0;
    uint32_t result = 0, handle = 0;
    int ringFd = -1;
    if (error == 0 && !linkclient::ask(linkwire::opOpen, 0, name, length, &result, &handle, &ringFd))
        error = EPIPE;
    else if (error == 0)
        error = static_cast<int>(result);
    if (error == 0) {
        error = linkclient::mapRing(slot->ring, ringFd);
        if (error != 0) {
            uint32_t ignored;
            linkclient::ask(linkwire::opClose, handle, nullptr, 0, &result, &ignored);
        }
    }
    if (ringFd >= 0)
        close(ringFd);
    if (error != 0) {
        lastError = static_cast<uint32_t>(error);
        reportOpenFailure(name ? name : "", error, helperStarted);
        return -1;
    }
    OpenAdapter& a = *slot;
    a.open = true;
    a.helperHandle = handle;
    std::memcpy(a.name, name, length + 1);
    a.promiscuous = false;
    forgetPosted(a);
    return static_cast<int32_t>(slot - opened.begin());
}

int W32N_CloseAdapter(int32_t handle)
{
    OpenAdapter* a = byHandle(handle);
    if (!a)
        return 0;
    // The helper closes the socket, which also drops its promiscuous membership.
    uint32_t result, value;
    if (linkclient::ownsHelper())
        linkclient::ask(linkwire::opClose, a->helperHandle, nullptr, 0, &result, &value);
    forget(*a);
    return 1;
}

int W32N_MakeNdisRequest(int32_t handle, uint8_t* record, OVERLAPPED*, int)
{
    OpenAdapter* a = byHandle(handle);
    if (!a || !record)
        return 0;
    NdisRequest request = decodeNdisRequest(record);
    if (request.kind == NdisRequest::queryCurrentAddress) {
        int error = zlinux::hardwareAddress(a->name, request.buffer);
        if (error != 0) {
            lastError = static_cast<uint32_t>(error);
            return 0;
        }
        putU32(record, ndisrec::bytesDone, 6);
        return 1;
    }
    if (request.kind == NdisRequest::setPacketFilter) {
        bool wanted = request.promiscuous;
        // Memberships count; keep at most one so a single drop undoes it.
        if (wanted != a->promiscuous) {
            uint8_t on = wanted ? 1 : 0;
            uint32_t result = 0, value = 0;
            if (!linkclient::ask(linkwire::opPromiscuous, a->helperHandle, &on, 1, &result, &value)) {
                lastError = EPIPE;
                return 0;
            }
            if (result != 0) {
                lastError = result;
                return 0;
            }
            a->promiscuous = wanted;
        }
        putU32(record, ndisrec::bytesDone, 4);
        return 1;
    }
    lastError = errorInvalidParameter;
    return 0;
}

int W32N_SetBPFProgram(int32_t handle, const uint8_t* program, uint32_t length)
{
    constexpr size_t insnSize = 8;
    constexpr size_t maxInstructions = 4096;  // BPF_MAXINSNS

    OpenAdapter* a = byHandle(handle);
    if (!a || !program || length == 0 || length % insnSize != 0 || length / insnSize > maxInstructions) {
        lastError = errorInvalidParameter;
        return 0;
    }
    // The helper filters for management frames from the open on; it takes this
    // program and no other, and drops what arrived before it.
    uint32_t result = 0, position = 0;
    if (length > linkwire::maxFrame ||
        !linkclient::ask(linkwire::opFilter, a->helperHandle, program, length, &result, &position) || result != 0 ||
        position >= linkwire::ringSlots) {
        lastError = errorInvalidParameter;
        return 0;
    }
    // Frames the ring took before the filter went on are dropped unread.
    while (a->ring.next != position)
        linkclient::freeSlot(a->ring);
    return 1;
}

int W32N_PacketRead(int32_t handle, uint8_t* record, uint32_t* bytes, OVERLAPPED* overlapped, int)
{
    OpenAdapter* a = byHandle(handle);
    if (!a || !record || a->count == postedCapacity) {
        lastError = errorInvalidParameter;
        return 0;
    }
    putU32(record, readrec::status, readrec::statusPending);
    a->posted[(a->head + a->count) % postedCapacity] = {record, overlapped, bytes};
    ++a->count;
    return 1;
}

int W32N_CancelPacketRead(int32_t handle, uint8_t* record)
{
    // A closed adapter's reads went with it.
    OpenAdapter* a = byHandle(handle);
    if (!a)
        return 1;
    for (size_t n = 0; n < a->count; ++n) {
        if (a->posted[(a->head + n) % postedCapacity].record != record)
            continue;
        // Close the gap, keeping the others in posting order.
        for (size_t m = n; m + 1 < a->count; ++m)
            a->posted[(a->head + m) % postedCapacity] = a->posted[(a->head + m + 1) % postedCapacity];
        --a->count;
        break;
    }
    return 1;
}

int W32N_PacketSend(int32_t handle, const uint8_t* data, uint32_t length, uint32_t* bytesSent, OVERLAPPED* overlapped)
{
    OpenAdapter* a = byHandle(handle);
    // The helper sends management frames of 60 to 1514 bytes and nothing else.
    if (!a || !data || length < linkwire::minFrame || length > linkwire::maxFrame ||
        data[12] != linkwire::managementType >> 8 || data[13] != (linkwire::managementType & 0xFF)) {
        lastError = errorInvalidParameter;
        return 0;
    }
    if (!linkclient::sendRequest(linkwire::opSend, a->helperHandle, data, length)) {
        lastError = static_cast<uint32_t>(errno);
        linkclient::disconnect(true);
        return 0;
    }
    // The helper has the frame; the slot is free again.
    if (bytesSent)
        *bytesSent = length;
    if (overlapped)
        SetEvent(overlapped->hEvent);
    return 1;
}

uint32_t W32N_GetLastError() { return lastError; }

int GetOverlappedResult(int32_t handle, OVERLAPPED*, uint32_t*, int)
{
    OpenAdapter* a = byHandle(handle);
    if (!a)
        return 0;
    // Only as many frames as there are reads; the rest stay in the ring.
    while (a->count > 0 && completeFromRing(*a)) {}
    return 1;
}
