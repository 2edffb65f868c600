// brennic-link: holds CAP_NET_RAW so that nothing with a toolkit has to. It
// opens the adapters its caller names, lets only management frames through,
// and carries them both ways over the socketpair it was started with. It takes
// no paths, no options and no environment from anyone.
#include "helper/link_helper.h"

#include "helper/link_wire.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if_arp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace linkwire;

namespace {

// Frames taken from the kernel in one call.
constexpr unsigned batchFrames = 32;
// While a shared ring is full, look again this often for slots the caller freed.
constexpr int fullRingPollMs = 2;

struct Adapter {
    int fd = -1;
    int index = 0;
    bool promiscuous = false;
    uint8_t* shared = nullptr;
    size_t sharedNext = 0;
};

std::array<Adapter, maxHandles> adapters;
unsigned long refused = 0;
// Made readable whenever frames reach a shared ring, so that the caller can sleep until then.
int wakeFd = -1;

std::atomic_ref<uint32_t> sharedStatus(Adapter& a, size_t slot)
{
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(a.shared + slot * slotSize + slotStatus));
}

bool usable(int fd, const char* name, int* index)
{
    ifreq request{};
    std::memcpy(request.ifr_name, name, std::strlen(name));
    if (ioctl(fd, SIOCGIFFLAGS, &request) != 0)
        return false;
    if ((request.ifr_flags & IFF_UP) == 0 || (request.ifr_flags & IFF_LOOPBACK) != 0)
        return false;
    if (ioctl(fd, SIOCGIFHWADDR, &request) != 0 || request.ifr_hwaddr.sa_family != ARPHRD_ETHER)
        return false;
    if (ioctl(fd, SIOCGIFINDEX, &request) != 0)
        return false;
    *index = request.ifr_ifindex;
    return true;
}

void closeAdapter(Adapter& a)
{
    if (a.shared)
        munmap(a.shared, ringBytes);
    if (a.fd >= 0)
        close(a.fd);  // also drops the promiscuous membership
    a = Adapter{};
}

// Opens the interface behind the management-frame filter; 0 or an errno.
// The shared ring's memfd is left in *ringFd.
int openAdapter(Adapter& a, const char* name, int* ringFd)
{
    a.fd = socket(AF_PACKET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (a.fd < 0)
        return errno;
    if (!usable(a.fd, name, &a.index))
        return ENODEV;
    sock_fprog program{static_cast<unsigned short>(std::size(filterProgram)), const_cast<sock_filter*>(filterProgram)};
    if (setsockopt(a.fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0)
        return errno;
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(managementType);
    address.sll_ifindex = a.index;
    if (bind(a.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return errno;
    int one = 1;
    setsockopt(a.fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    // No kernel ring: setting one up and tearing it down each wait out an RCU
    // grace period. The queue is capped at net.core.rmem_max; Debian's 212992
    // holds some 500 small frames on a TAP (185 full ones), well over 10 ms of a
    // burst at the powerline's rate, and the helper empties it as frames come.
    int bytes = 4 * 1024 * 1024;
    setsockopt(a.fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    // Sealed, so the caller cannot shrink it under our writes.
    int fd = memfd_create("brennic-ring", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return errno;
    void* mapped = MAP_FAILED;
    if (ftruncate(fd, ringBytes) == 0 && fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) == 0)
        mapped = mmap(nullptr, ringBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        int error = errno;
        close(fd);
        return error;
    }
    a.shared = static_cast<uint8_t*>(mapped);
    *ringFd = fd;
    return 0;
}

// Moves frames from the kernel into the shared ring while it has room.
// True when frames may be waiting for room; *moved is raised for a frame moved.
bool pump(Adapter& a, bool* moved)
{
    std::array<mmsghdr, batchFrames> messages;
    std::array<iovec, batchFrames> buffers;
    std::array<sockaddr_ll, batchFrames> senders;
    for (;;) {
        // Only as many frames as there are free slots leave the kernel.
        unsigned room = 0;
        while (room < batchFrames &&
               sharedStatus(a, (a.sharedNext + room) % ringSlots).load(std::memory_order_acquire) == slotFree)
            ++room;
        if (room == 0)
            return true;
        for (unsigned i = 0; i < room; ++i) {
            buffers[i] = {a.shared + (a.sharedNext + i) % ringSlots * slotSize + slotFrame, slotRoom};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = &senders[i];
            messages[i].msg_hdr.msg_namelen = sizeof senders[i];
            messages[i].msg_hdr.msg_iov = &buffers[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        int got = recvmmsg(a.fd, messages.data(), room, MSG_DONTWAIT, nullptr);
        if (got <= 0)
            return false;
        // Dropped frames leave gaps; the kept ones close up behind them, in order.
        unsigned kept = 0;
        for (unsigned i = 0; i < static_cast<unsigned>(got); ++i) {
            auto* frame = static_cast<uint8_t*>(buffers[i].iov_base);
            size_t length = messages[i].msg_len;
            if (senders[i].sll_pkttype == PACKET_OUTGOING)
                continue;
            // The kernel filtered already; this holds even if it did not.
            if (length < 14 || frame[12] != managementType >> 8 || frame[13] != (managementType & 0xFF))
                continue;
            uint8_t* slot = a.shared + a.sharedNext * slotSize;
            if (i != kept)
                std::memcpy(slot + slotFrame, frame, length);
            uint32_t length32 = static_cast<uint32_t>(length);
            std::memcpy(slot + slotLength, &length32, 4);
            sharedStatus(a, a.sharedNext).store(slotFilled, std::memory_order_release);
            a.sharedNext = (a.sharedNext + 1) % ringSlots;
            ++kept;
            *moved = true;
        }
        if (static_cast<unsigned>(got) < room)
            return false;
    }
}

// Throws away what the kernel holds and what the ring holds unread; returns
// the ring position the caller takes up from.
size_t drain(Adapter& a)
{
    uint8_t scratch[maxFrame];
    while (recv(a.fd, scratch, sizeof scratch, MSG_DONTWAIT) >= 0) {}
    return a.sharedNext;
}

bool reply(uint32_t result, uint32_t value, int fd = -1)
{
    uint8_t words[replySize];
    std::memcpy(words, &result, 4);
    std::memcpy(words + 4, &value, 4);
    iovec iov{words, sizeof words};
    msghdr message{};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
    if (fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    }
    return sendmsg(helperFd, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof words);
}

// False when the caller is gone.
bool serve(const Request& r)
{
    if (r.op == opWake) {
        if (wakeFd < 0)
            wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        return reply(wakeFd < 0 ? static_cast<uint32_t>(errno) : 0, 0, wakeFd);
    }
    if (r.op == opOpen) {
        auto free = std::find_if(adapters.begin(), adapters.end(), [](const Adapter& a) { return a.fd < 0; });
        if (free == adapters.end())
            return reply(EMFILE, 0);
        int ringFd = -1;
        int error = openAdapter(*free, r.name, &ringFd);
        if (error != 0) {
            closeAdapter(*free);
            return reply(static_cast<uint32_t>(error), 0);
        }
        bool sent = reply(0, static_cast<uint32_t>(free - adapters.begin()), ringFd);
        close(ringFd);
        return sent;
    }
    Adapter& a = adapters[r.handle];
    if (a.fd < 0) {
        ++refused;
        return r.op == opSend || reply(EBADF, 0);
    }
    switch (r.op) {
    case opClose: closeAdapter(a); return reply(0, 0);
    case opPromiscuous:
        // Memberships count; keep at most one so a single drop undoes it.
        if (r.on != a.promiscuous) {
            packet_mreq membership{};
            membership.mr_ifindex = a.index;
            membership.mr_type = PACKET_MR_PROMISC;
            if (setsockopt(a.fd, SOL_PACKET, r.on ? PACKET_ADD_MEMBERSHIP : PACKET_DROP_MEMBERSHIP, &membership,
                           sizeof membership) != 0)
                return reply(static_cast<uint32_t>(errno), 0);
            a.promiscuous = r.on;
        }
        return reply(0, 0);
    case opFilter: return reply(0, static_cast<uint32_t>(drain(a)));
    case opSend:
        // A frame the kernel will not take is lost, as on the wire.
        send(a.fd, r.frame, r.frameLength, MSG_DONTWAIT | MSG_NOSIGNAL);
        return true;
    default: return true;
    }
}

// Keeps CAP_NET_RAW, if it was given, and nothing else; and no way back to more.
void dropCapabilities()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0)
        return;
    uint32_t raw = uint32_t{1} << CAP_NET_RAW;
    bool had = (data[0].permitted & raw) != 0;
    std::memset(data, 0, sizeof data);
    if (had)
        data[0].permitted = data[0].effective = raw;
    syscall(SYS_capset, &header, data);
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
}

bool isOurSocket(int fd)
{
    int domain = 0, type = 0;
    socklen_t size = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &size) != 0)
        return false;
    size = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &size) != 0)
        return false;
    return domain == AF_UNIX && type == SOCK_SEQPACKET;
}

}  // namespace

int linkHelperMain()
{
    clearenv();
    // Nothing but the socketpair and the standard streams stays open.
    close_range(helperFd + 1, ~0U, 0);
    for (int fd = 0; fd < helperFd; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && open("/dev/null", O_RDWR) != fd)
            return 2;
    dropCapabilities();
    if (!isOurSocket(helperFd)) {
        std::fputs("brennic-link: started by brennic, not by hand\n", stderr);
        return 2;
    }
    fcntl(helperFd, F_SETFD, FD_CLOEXEC);

    uint8_t request[maxRequest];
    std::array<pollfd, maxHandles + 1> watched{};
    for (;;) {
        size_t count = 0;
        bool waitingForRoom = false;
        bool moved = false;
        watched[count++] = {helperFd, POLLIN, 0};
        for (Adapter& a : adapters) {
            if (a.fd < 0)
                continue;
            if (pump(a, &moved))
                waitingForRoom = true;
            else
                watched[count++] = {a.fd, POLLIN, 0};
        }
        if (moved && wakeFd >= 0) {
            uint64_t one = 1;
            [[maybe_unused]] ssize_t ignored = write(wakeFd, &one, sizeof one);
        }
        if (poll(watched.data(), count, waitingForRoom ? fullRingPollMs : -1) < 0 && errno != EINTR)
            break;
        if ((watched[0].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
            continue;
        ssize_t n = recv(helperFd, request, sizeof request, MSG_DONTWAIT | MSG_TRUNC);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
            break;  // the caller is gone
        if (n < 0)
            continue;
        Request r;
        if (static_cast<size_t>(n) > sizeof request || !parseRequest(request, static_cast<size_t>(n), &r)) {
            ++refused;
            // Whoever waits for an answer gets one; a refused frame has none.
            if (request[0] != opSend && !reply(EINVAL, 0))
                break;
            continue;
        }
        if (!serve(r))
            break;
    }
    for (Adapter& a : adapters)
        closeAdapter(a);
    if (refused != 0)
        std::fprintf(stderr, "brennic-link: refused %lu requests\n", refused);
    return 0;
}
