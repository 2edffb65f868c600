// The packet driver on Linux: one AF_PACKET raw socket per opened adapter.
// Reads are completed only when the link asks for an overlapped result, so
// frames wait in the kernel until then; nothing runs behind the program's back
// and there are no threads. Frames are read from a receive ring the kernel
// shares with us, so looking for one costs no system call; where a kernel
// refuses the ring, they are read from the socket's receive queue instead.
#include "zentrik/zentrik.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <linux/filter.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr uint32_t errorInvalidParameter = 87;

struct ListedAdapter {
    unsigned index;
    std::string name;
};

// The adapters as they were when the list was opened; item handles index it.
std::vector<ListedAdapter> listed;
int32_t listCursor = -1;
constexpr int32_t listHandle = 1;

int controlSocket()
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd;
}

bool fillName(ifreq& request, const char* name)
{
    std::memset(&request, 0, sizeof request);
    size_t length = std::strlen(name);
    if (length >= IFNAMSIZ)
        return false;
    std::memcpy(request.ifr_name, name, length);
    return true;
}

// Up, Ethernet-type and not loopback: an adapter a powerline device can sit behind.
bool isUsable(int fd, const char* name)
{
    ifreq request;
    if (!fillName(request, name) || ioctl(fd, SIOCGIFFLAGS, &request) != 0)
        return false;
    short flags = request.ifr_flags;
    if ((flags & IFF_UP) == 0 || (flags & IFF_LOOPBACK) != 0)
        return false;
    if (!fillName(request, name) || ioctl(fd, SIOCGIFHWADDR, &request) != 0)
        return false;
    return request.ifr_hwaddr.sa_family == ARPHRD_ETHER;
}

constexpr int maxOpen = 32;
// The link posts 512 reads per adapter; room for twice that.
constexpr size_t postedCapacity = 1024;
// A burst of 512 full frames with the kernel's per-buffer overhead.
constexpr int receiveBufferBytes = 4 * 1024 * 1024;
// For frames thrown away unread; anything longer is cut off.
constexpr size_t scratchSize = 2048;
// A ring slot holds the kernel's header and a whole 1514-byte frame.
constexpr unsigned ringFrameSize = 2048;
// Twice the link's 512 reads, so a full burst waits in the ring whole.
constexpr unsigned ringFrameCount = 1024;

struct PostedRead {
    uint8_t* record;
    OVERLAPPED* overlapped;
    uint32_t* bytes;
};

struct OpenAdapter {
    int fd = -1;
    unsigned index = 0;
    char name[IFNAMSIZ]{};
    bool promiscuous = false;
    // The mapped receive ring, null when frames come through recvfrom.
    uint8_t* ring = nullptr;
    size_t ringBytes = 0;
    // The slot the kernel fills next; it fills them strictly in turn.
    unsigned ringNext = 0;
    // Posted reads, oldest first, as a ring over `posted`.
    std::array<PostedRead, postedCapacity> posted{};
    size_t head = 0;
    size_t count = 0;
};

std::array<OpenAdapter, maxOpen> opened;
uint32_t lastError = 0;

OpenAdapter* byHandle(int32_t handle)
{
    if (handle < 0 || handle >= maxOpen)
        return nullptr;
    OpenAdapter& a = opened[static_cast<size_t>(handle)];
    return a.fd >= 0 ? &a : nullptr;
}

void reportOpenFailure(const char* name, int error)
{
    const char* hint = (error == EPERM || error == EACCES) ? " (needs CAP_NET_RAW)" : "";
    std::fprintf(stderr, "%s: cannot open adapter %s: %s%s\n", program_invocation_short_name, name,
                 std::strerror(error), hint);
}

void forgetPosted(OpenAdapter& a)
{
    a.head = 0;
    a.count = 0;
}

// Maps a receive ring onto the socket, leaving a.ring null where the kernel
// will not have one. False only when the socket is left unusable.
bool setUpRing(OpenAdapter& a, int fd)
{
    a.ring = nullptr;
    a.ringBytes = 0;
    a.ringNext = 0;
    int version = TPACKET_V2;
    if (setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0)
        return true;
    auto page = static_cast<unsigned>(sysconf(_SC_PAGESIZE));
    unsigned blockSize = std::max(page, ringFrameSize);
    unsigned framesPerBlock = blockSize / ringFrameSize;
    tpacket_req request{};
    request.tp_block_size = blockSize;
    request.tp_block_nr = std::max(1u, ringFrameCount / framesPerBlock);
    request.tp_frame_size = ringFrameSize;
    request.tp_frame_nr = request.tp_block_nr * framesPerBlock;
    if (setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0)
        return true;
    size_t bytes = size_t{request.tp_block_size} * request.tp_block_nr;
    void* mapped = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        // An unread ring would swallow every frame; take it away again.
        tpacket_req none{};
        return setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &none, sizeof none) == 0;
    }
    a.ring = static_cast<uint8_t*>(mapped);
    a.ringBytes = bytes;
    return true;
}

void tearDownRing(OpenAdapter& a)
{
    if (a.ring)
        munmap(a.ring, a.ringBytes);
    a.ring = nullptr;
    a.ringBytes = 0;
    a.ringNext = 0;
}

// The slot at ringNext once the kernel has handed it over, else null.
tpacket2_hdr* readySlot(OpenAdapter& a)
{
    auto* slot = reinterpret_cast<tpacket2_hdr*>(a.ring + size_t{a.ringNext} * ringFrameSize);
    // Acquire: the frame's bytes were written before the kernel set the status.
    if ((std::atomic_ref<__u32>(slot->tp_status).load(std::memory_order_acquire) & TP_STATUS_USER) == 0)
        return nullptr;
    return slot;
}

void releaseSlot(OpenAdapter& a, tpacket2_hdr* slot)
{
    std::atomic_ref<__u32>(slot->tp_status).store(TP_STATUS_KERNEL, std::memory_order_release);
    a.ringNext = (a.ringNext + 1) * ringFrameSize < a.ringBytes ? a.ringNext + 1 : 0;
}

// Throws away whatever the kernel holds for the socket now.
void drain(OpenAdapter& a)
{
    if (a.ring)
        while (tpacket2_hdr* slot = readySlot(a))
            releaseSlot(a, slot);
    uint8_t scratch[scratchSize];
    while (recv(a.fd, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) {
    }
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

// Moves the next frame from another station out of the ring into the oldest
// posted read. False when the ring holds none.
bool completeFromRing(OpenAdapter& a)
{
    while (tpacket2_hdr* slot = readySlot(a)) {
        auto* base = reinterpret_cast<const uint8_t*>(slot);
        const auto* from = reinterpret_cast<const sockaddr_ll*>(base + TPACKET_ALIGN(sizeof(tpacket2_hdr)));
        // Kernels before 4.20 ignore PACKET_IGNORE_OUTGOING and hand back what
        // other sockets sent on the interface.
        if (from->sll_pkttype == PACKET_OUTGOING) {
            releaseSlot(a, slot);
            continue;
        }
        size_t offset = std::min<size_t>(slot->tp_mac, ringFrameSize);
        // A frame longer than the room is cut to it, never written past it.
        size_t length = std::min({size_t{slot->tp_snaplen}, ringFrameSize - offset, roomOf(a.posted[a.head])});
        std::memcpy(a.posted[a.head].record + readrec::frame, base + offset, length);
        releaseSlot(a, slot);
        complete(a, static_cast<uint32_t>(length));
        return true;
    }
    return false;
}

// As completeFromRing, for a socket without a ring.
bool completeFromSocket(OpenAdapter& a)
{
    PostedRead& read = a.posted[a.head];
    for (;;) {
        sockaddr_ll from{};
        socklen_t fromLength = sizeof from;
        // A datagram longer than the room is cut to it, never written past it.
        ssize_t n = recvfrom(a.fd, read.record + readrec::frame, roomOf(read), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0)
            return false;
        if (from.sll_pkttype == PACKET_OUTGOING)
            continue;
        complete(a, static_cast<uint32_t>(n));
        return true;
    }
}
}  // namespace

int32_t adapterListOpen()
{
    listed.clear();
    listCursor = -1;
    struct if_nameindex* names = if_nameindex();
    if (!names) {
        lastError = static_cast<uint32_t>(errno);
        return -1;
    }
    int fd = controlSocket();
    if (fd < 0) {
        lastError = static_cast<uint32_t>(errno);
        if_freenameindex(names);
        return -1;
    }
    for (struct if_nameindex* n = names; n->if_index != 0 && n->if_name; ++n)
        if (isUsable(fd, n->if_name))
            listed.push_back({n->if_index, n->if_name});
    close(fd);
    if_freenameindex(names);
    std::sort(listed.begin(), listed.end(),
              [](const ListedAdapter& x, const ListedAdapter& y) { return x.index < y.index; });
    return listHandle;
}

void adapterListClose(int32_t)
{
    listed.clear();
    listCursor = -1;
}

int32_t adapterListFirst(int32_t list)
{
    listCursor = (list == listHandle && !listed.empty()) ? 0 : -1;
    return listCursor;
}

int32_t adapterListNext(int32_t list)
{
    if (list != listHandle || listCursor < 0 || listCursor + 1 >= static_cast<int32_t>(listed.size()))
        return listCursor = -1;
    return ++listCursor;
}

void adapterItemRelease(int32_t) {}

uint32_t adapterItemName(int32_t item, char* buffer, uint32_t* size)
{
    if (item < 0 || item >= static_cast<int32_t>(listed.size()) || !size)
        return errorInvalidParameter;
    const std::string& name = listed[static_cast<size_t>(item)].name;
    auto needed = static_cast<uint32_t>(name.size() + 1);
    if (!buffer || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(buffer, name.c_str(), needed);
    *size = needed;
    return 0;
}

int32_t W32N_OpenAdapterA(const char* name)
{
    auto slot = std::find_if(opened.begin(), opened.end(), [](const OpenAdapter& a) { return a.fd < 0; });
    if (slot == opened.end()) {
        lastError = EMFILE;
        reportOpenFailure(name, EMFILE);
        return -1;
    }
    ifreq request;
    if (!fillName(request, name)) {
        lastError = ENODEV;
        reportOpenFailure(name, ENODEV);
        return -1;
    }
    // Protocol 0 until bound: an unbound ETH_P_ALL socket would queue every
    // interface's traffic in the meantime.
    int fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    int error = 0;
    unsigned index = 0;
    if (fd < 0) {
        error = errno;
    } else if (ioctl(fd, SIOCGIFINDEX, &request) != 0) {
        error = errno;
    } else {
        index = static_cast<unsigned>(request.ifr_ifindex);
        sockaddr_ll address{};
        address.sll_family = AF_PACKET;
        address.sll_protocol = htons(ETH_P_ALL);
        address.sll_ifindex = request.ifr_ifindex;
        if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            error = errno;
        // Setting the ring also discards what the socket queued since the bind.
        else if (!setUpRing(*slot, fd))
            error = errno;
    }
    if (error != 0) {
        if (fd >= 0)
            close(fd);
        lastError = static_cast<uint32_t>(error);
        reportOpenFailure(name, error);
        return -1;
    }

    int one = 1;
    setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    // Only the receive queue counts against the buffer; the ring has its own room.
    if (!slot->ring) {
        // The forced size passes net.core.rmem_max where we may (CAP_NET_ADMIN).
        int bytes = receiveBufferBytes;
        if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
            setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    }

    OpenAdapter& a = *slot;
    a.fd = fd;
    a.index = index;
    std::memcpy(a.name, request.ifr_name, IFNAMSIZ);
    a.promiscuous = false;
    forgetPosted(a);
    return static_cast<int32_t>(slot - opened.begin());
}

int W32N_CloseAdapter(int32_t handle)
{
    OpenAdapter* a = byHandle(handle);
    if (!a)
        return 0;
    // The mapping would keep the socket alive past its close.
    tearDownRing(*a);
    // Closing the socket also drops its promiscuous membership.
    close(a->fd);
    a->fd = -1;
    a->promiscuous = false;
    forgetPosted(*a);
    return 1;
}

int W32N_MakeNdisRequest(int32_t handle, uint8_t* record, OVERLAPPED*, int)
{
    OpenAdapter* a = byHandle(handle);
    if (!a || !record)
        return 0;
    uint32_t type = getU32(record, ndisrec::requestType);
    uint32_t oid = getU32(record, ndisrec::oid);
    uint32_t length = getU32(record, ndisrec::bufferLength);
    uint8_t* buffer = ndisBuffer(record);

    if (type == ndisrec::query && oid == ndisrec::oidCurrentAddress && length >= 6) {
        ifreq request;
        fillName(request, a->name);
        if (ioctl(a->fd, SIOCGIFHWADDR, &request) != 0) {
            lastError = static_cast<uint32_t>(errno);
            return 0;
        }
        std::memcpy(buffer, request.ifr_hwaddr.sa_data, 6);
        putU32(record, ndisrec::bytesDone, 6);
        return 1;
    }
    if (type == ndisrec::set && oid == ndisrec::oidPacketFilter && length >= 4) {
        bool wanted = (getU32(buffer, 0) & ndisrec::filterPromiscuous) != 0;
        // Memberships count; keep at most one so a single drop undoes it.
        if (wanted != a->promiscuous) {
            packet_mreq membership{};
            membership.mr_ifindex = static_cast<int>(a->index);
            membership.mr_type = PACKET_MR_PROMISC;
            int option = wanted ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP;
            if (setsockopt(a->fd, SOL_PACKET, option, &membership, sizeof membership) != 0) {
                lastError = static_cast<uint32_t>(errno);
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
    // Instruction: 16-bit opcode, 8-bit jt, 8-bit jf, 32-bit constant, little-endian.
    constexpr size_t insnSize = 8;
    constexpr size_t opcodeAt = 0, jtAt = 2, jfAt = 3, constantAt = 4;
    constexpr size_t maxInstructions = 4096;  // BPF_MAXINSNS

    OpenAdapter* a = byHandle(handle);
    if (!a || !program || length == 0 || length % insnSize != 0 || length / insnSize > maxInstructions) {
        lastError = errorInvalidParameter;
        return 0;
    }
    std::vector<sock_filter> code(length / insnSize);
    for (size_t i = 0; i < code.size(); ++i) {
        const uint8_t* insn = program + i * insnSize;
        code[i].code = static_cast<uint16_t>(insn[opcodeAt] | insn[opcodeAt + 1] << 8);
        code[i].jt = insn[jtAt];
        code[i].jf = insn[jfAt];
        code[i].k = static_cast<uint32_t>(insn[constantAt]) | static_cast<uint32_t>(insn[constantAt + 1]) << 8 |
                    static_cast<uint32_t>(insn[constantAt + 2]) << 16 |
                    static_cast<uint32_t>(insn[constantAt + 3]) << 24;
    }
    sock_fprog fprog{};
    fprog.len = static_cast<unsigned short>(code.size());
    fprog.filter = code.data();
    if (setsockopt(a->fd, SOL_SOCKET, SO_ATTACH_FILTER, &fprog, sizeof fprog) != 0) {
        lastError = static_cast<uint32_t>(errno);
        return 0;
    }
    // Frames queued since the open never saw the filter.
    drain(*a);
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

int W32N_PacketSend(int32_t handle, const uint8_t* data, uint32_t length, uint32_t* bytesSent,
                    OVERLAPPED* overlapped)
{
    OpenAdapter* a = byHandle(handle);
    if (!a || !data) {
        lastError = errorInvalidParameter;
        return 0;
    }
    ssize_t n = send(a->fd, data, length, MSG_DONTWAIT);
    if (n < 0 || static_cast<uint32_t>(n) != length) {
        lastError = n < 0 ? static_cast<uint32_t>(errno) : static_cast<uint32_t>(EIO);
        return 0;
    }
    // The kernel has the frame; the slot is free again.
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
    // Only as many frames as there are reads; the rest stay with the kernel.
    if (a->ring)
        while (a->count > 0 && completeFromRing(*a)) {
        }
    else
        while (a->count > 0 && completeFromSocket(*a)) {
        }
    return 1;
}
