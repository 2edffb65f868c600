// The packet driver on Linux. The packet sockets live in brennic-link, the
// one program that holds CAP_NET_RAW; this side starts it on first use and
// talks to it over a socketpair. Frames arrive in a ring each adapter shares
// with the helper, so looking for one costs no system call, and reads are
// completed only when the link asks for an overlapped result. No threads.
#include "zentrik/zentrik.h"

#include "helper/link_wire.h"
#include "zentrik/link_path.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

constexpr int maxOpen = static_cast<int>(linkwire::maxHandles);
// The link posts 512 reads per adapter; room for twice that.
constexpr size_t postedCapacity = 1024;
// A helper that does not answer within this is taken for gone.
constexpr int replyTimeoutMs = 5000;

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
    // The ring shared with the helper, and the slot it fills next.
    uint8_t* ring = nullptr;
    size_t ringNext = 0;
    // Posted reads, oldest first, as a ring over `posted`.
    std::array<PostedRead, postedCapacity> posted{};
    size_t head = 0;
    size_t count = 0;
};

constinit std::array<OpenAdapter, maxOpen> opened{};
uint32_t lastError = 0;

// The helper's socket, and the process it belongs to: a forked child starts its own.
int helperSocket = -1;
pid_t helperPid = -1;
pid_t helperOwner = -1;
// The network namespace the helper was started in, and so sees adapters of.
ino_t helperNamespace = 0;
// Readable when the helper has put frames in a ring; -1 without one.
int wakeFd = -1;
// What a sleeping caller waits on: wakeFd, and the helper's socket closing,
// so that a helper that ends under an idle caller is noticed at once.
int waitSet = -1;

ino_t currentNamespace()
{
    struct stat status {};
    return stat("/proc/self/ns/net", &status) == 0 ? status.st_ino : 0;
}

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
    if (a.ring)
        munmap(a.ring, linkwire::ringBytes);
    a.ring = nullptr;
    a.ringNext = 0;
    a.open = false;
    a.promiscuous = false;
    forgetPosted(a);
}

// Set when the helper went while this process was talking to it; cleared by the next start.
bool helperLost = false;

// Drops the connection; every adapter went with it. `lost`: the helper has
// ended or failed a request, and what it was asked may not have been done.
void disconnect(bool lost = false)
{
    bool ours = helperOwner == getpid();
    if (helperSocket >= 0) {
        close(helperSocket);
        helperLost = helperLost || lost;
    }
    // The helper ends when it sees the socket close; a forked copy leaves it to
    // its parent. One that failed a request may hang: it is of no use any more.
    if (ours && helperPid > 0) {
        if (lost)
            kill(helperPid, SIGKILL);
        waitpid(helperPid, nullptr, 0);
    }
    helperSocket = -1;
    helperPid = -1;
    helperOwner = -1;
    if (waitSet >= 0)
        close(waitSet);
    waitSet = -1;
    if (wakeFd >= 0)
        close(wakeFd);
    wakeFd = -1;
    for (OpenAdapter& a : opened)
        forget(a);
}

bool inGroup(gid_t group)
{
    if (getegid() == group)
        return true;
    std::vector<gid_t> groups(static_cast<size_t>(std::max(getgroups(0, nullptr), 0)));
    groups.resize(static_cast<size_t>(std::max(getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    return std::find(groups.begin(), groups.end(), group) != groups.end();
}

// Why starting the helper was refused: the user is outside the group it is
// reserved for (and how to join it), or a directory on its path is closed to them.
void explainRefusedHelper(const std::string& path)
{
    static bool said = false;
    if (said)
        return;
    said = true;
    const passwd* user = getpwuid(getuid());
    const char* name = user ? user->pw_name : "$USER";
    struct stat status {};
    bool reached = stat(path.c_str(), &status) == 0;
    if (!reached && errno == EACCES)
        std::fprintf(stderr, "%s: %s is out of reach of the user %s: a directory on its path is closed to them\n",
                     program_invocation_short_name, path.c_str(), name);
    else if (reached && !(status.st_mode & S_IXOTH) && !inGroup(status.st_gid))
        std::fprintf(stderr,
                     "%s: %s may be started only by members of the group %s; to join it: sudo usermod -aG %s %s "
                     "(then log in again)\n",
                     program_invocation_short_name, path.c_str(), linkHelperGroup, linkHelperGroup, name);
    else
        std::fprintf(stderr, "%s: cannot start %s: %s\n", program_invocation_short_name, path.c_str(),
                     std::strerror(EACCES));
}

void askForWake();

// Starts the helper unless this process has one; 0 or an errno.
int connectHelper()
{
    ino_t space = currentNamespace();
    if (helperSocket >= 0 && helperOwner == getpid() && helperNamespace == space)
        return 0;
    if (helperSocket >= 0)
        disconnect();
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
        return errno;
    // The child's end must not already sit at the descriptor it is moved to.
    int childEnd = fcntl(pair[1], F_DUPFD_CLOEXEC, linkwire::helperFd + 1);
    close(pair[1]);
    if (childEnd < 0) {
        int error = errno;
        close(pair[0]);
        return error;
    }
    std::string path = linkHelperPath();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childEnd, linkwire::helperFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char program[] = "brennic-link";
    char* argv[] = {program, nullptr};
    char* envp[] = {nullptr};
    pid_t pid = -1;
    int error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, envp);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(childEnd);
    if (error != 0) {
        close(pair[0]);
        if (error == EACCES)
            explainRefusedHelper(path);
        else
            std::fprintf(stderr, "%s: cannot start %s: %s\n", program_invocation_short_name, path.c_str(),
                         std::strerror(error));
        return error;
    }
    timeval timeout{replyTimeoutMs / 1000, 0};
    setsockopt(pair[0], SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    helperSocket = pair[0];
    helperLost = false;
    helperPid = pid;
    helperOwner = getpid();
    helperNamespace = space;
    askForWake();
    return 0;
}

bool sendRequest(linkwire::Op op, uint32_t handle, const void* payload, size_t length)
{
    uint8_t message[linkwire::maxRequest]{};
    if (length > linkwire::maxFrame)
        return false;
    message[0] = op;
    std::memcpy(message + 4, &handle, 4);
    if (length)
        std::memcpy(message + linkwire::headerSize, payload, length);
    size_t size = linkwire::headerSize + length;
    ssize_t n;
    do
        n = send(helperSocket, message, size, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(size);
}

// A request and its reply; false, with the connection dropped, when the helper is gone.
bool ask(linkwire::Op op, uint32_t handle, const void* payload, size_t length, uint32_t* result, uint32_t* value,
         int* passedFd = nullptr)
{
    if (helperSocket < 0 || !sendRequest(op, handle, payload, length)) {
        disconnect(true);
        return false;
    }
    uint8_t words[linkwire::replySize];
    iovec iov{words, sizeof words};
    msghdr message{};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do
        n = recvmsg(helperSocket, &message, MSG_CMSG_CLOEXEC);
    while (n < 0 && errno == EINTR);
    int fd = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS && c->cmsg_len == CMSG_LEN(sizeof(int)))
            std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
    if (n != static_cast<ssize_t>(sizeof words)) {
        if (fd >= 0)
            close(fd);
        disconnect(true);
        return false;
    }
    std::memcpy(result, words, 4);
    std::memcpy(value, words + 4, 4);
    if (passedFd)
        *passedFd = fd;
    else if (fd >= 0)
        close(fd);
    return true;
}

// Without the descriptor the caller looks for frames on a timer instead.
void askForWake()
{
    uint32_t result = 0, value = 0;
    int fd = -1;
    if (ask(linkwire::opWake, 0, nullptr, 0, &result, &value, &fd) && result == 0 && fd >= 0)
        wakeFd = fd;
    else if (fd >= 0)
        close(fd);
    if (wakeFd < 0)
        return;
    // Only a hang-up of the socket counts: replies come while a request waits for them.
    waitSet = epoll_create1(EPOLL_CLOEXEC);
    epoll_event frames{EPOLLIN, {}};
    epoll_event ended{EPOLLRDHUP, {}};
    if (waitSet >= 0 && (epoll_ctl(waitSet, EPOLL_CTL_ADD, wakeFd, &frames) != 0 ||
                         epoll_ctl(waitSet, EPOLL_CTL_ADD, helperSocket, &ended) != 0)) {
        close(waitSet);
        waitSet = -1;
    }
}

std::atomic_ref<uint32_t> slotStatus(OpenAdapter& a, size_t slot)
{
    return std::atomic_ref<uint32_t>(
        *reinterpret_cast<uint32_t*>(a.ring + slot * linkwire::slotSize + linkwire::slotStatus));
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
    // Acquire: the frame's bytes were written before the helper set the status.
    if (slotStatus(a, a.ringNext).load(std::memory_order_acquire) != linkwire::slotFilled)
        return false;
    const uint8_t* slot = a.ring + a.ringNext * linkwire::slotSize;
    uint32_t stored = 0;
    std::memcpy(&stored, slot + linkwire::slotLength, 4);
    // A frame longer than the room is cut to it, never written past it.
    size_t length = std::min({size_t{stored}, linkwire::slotRoom, roomOf(a.posted[a.head])});
    std::memcpy(a.posted[a.head].record + readrec::frame, slot + linkwire::slotFrame, length);
    slotStatus(a, a.ringNext).store(linkwire::slotFree, std::memory_order_release);
    a.ringNext = (a.ringNext + 1) % linkwire::ringSlots;
    complete(a, static_cast<uint32_t>(length));
    return true;
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
    auto slot = std::find_if(opened.begin(), opened.end(), [](const OpenAdapter& a) { return !a.open; });
    int error = 0;
    size_t length = name ? std::strlen(name) : 0;
    if (slot == opened.end())
        error = EMFILE;
    else if (length == 0 || length >= IFNAMSIZ)
        error = ENODEV;
    else
        error = connectHelper();
    bool helperStarted = error == 0;
    uint32_t result = 0, handle = 0;
    int ringFd = -1;
    if (error == 0 && !ask(linkwire::opOpen, 0, name, length, &result, &handle, &ringFd))
        error = EPIPE;
    else if (error == 0)
        error = static_cast<int>(result);
    if (error == 0) {
        void* mapped = ringFd >= 0 ? mmap(nullptr, linkwire::ringBytes, PROT_READ | PROT_WRITE, MAP_SHARED, ringFd, 0)
                                   : MAP_FAILED;
        if (mapped == MAP_FAILED) {
            error = ringFd >= 0 ? errno : EPROTO;
            uint32_t ignored;
            ask(linkwire::opClose, handle, nullptr, 0, &result, &ignored);
        } else {
            slot->ring = static_cast<uint8_t*>(mapped);
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
    a.ringNext = 0;
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
    if (helperOwner == getpid())
        ask(linkwire::opClose, a->helperHandle, nullptr, 0, &result, &value);
    forget(*a);
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
        int fd = controlSocket();
        int error = fd < 0 ? errno : ioctl(fd, SIOCGIFHWADDR, &request) != 0 ? errno : 0;
        if (fd >= 0)
            close(fd);
        if (error != 0) {
            lastError = static_cast<uint32_t>(error);
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
            uint8_t on = wanted ? 1 : 0;
            uint32_t result = 0, value = 0;
            if (!ask(linkwire::opPromiscuous, a->helperHandle, &on, 1, &result, &value)) {
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
    if (length > linkwire::maxFrame || !ask(linkwire::opFilter, a->helperHandle, program, length, &result, &position) ||
        result != 0 || position >= linkwire::ringSlots) {
        lastError = errorInvalidParameter;
        return 0;
    }
    // Frames the ring took before the filter went on are dropped unread.
    while (a->ringNext != position) {
        slotStatus(*a, a->ringNext).store(linkwire::slotFree, std::memory_order_release);
        a->ringNext = (a->ringNext + 1) % linkwire::ringSlots;
    }
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
    // The helper sends management frames of 60 to 1514 bytes and nothing else.
    if (!a || !data || length < linkwire::minFrame || length > linkwire::maxFrame ||
        data[12] != linkwire::managementType >> 8 || data[13] != (linkwire::managementType & 0xFF)) {
        lastError = errorInvalidParameter;
        return 0;
    }
    if (!sendRequest(linkwire::opSend, a->helperHandle, data, length)) {
        lastError = static_cast<uint32_t>(errno);
        disconnect(true);
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

int linkHelperLost()
{
    // The helper writes only replies, so a socket that polls as anything but
    // quiet between requests means it has ended.
    if (helperSocket >= 0 && helperOwner == getpid()) {
        pollfd p{helperSocket, POLLIN | POLLRDHUP, 0};
        if (poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLRDHUP | POLLERR)) != 0)
            disconnect(true);
    }
    return helperLost ? 1 : 0;
}

int zentrikWakeFd()
{
    if (helperOwner != getpid())
        return -1;
    return waitSet >= 0 ? waitSet : wakeFd;
}

void zentrikClearWake()
{
    uint64_t count = 0;
    // The socket of a helper that has gone stays readable for good: once that
    // is seen the descriptor is no longer offered, or every wait ends at once.
    if (zentrikWakeFd() < 0 || wakeFd < 0 || linkHelperLost())
        return;
    [[maybe_unused]] ssize_t n = read(wakeFd, &count, sizeof count);
}

int GetOverlappedResult(int32_t handle, OVERLAPPED*, uint32_t*, int)
{
    OpenAdapter* a = byHandle(handle);
    if (!a)
        return 0;
    // Only as many frames as there are reads; the rest stay in the ring.
    while (a->count > 0 && completeFromRing(*a)) {
    }
    return 1;
}
