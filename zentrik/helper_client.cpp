// The packet sockets live in brennic-link, the one program that holds
// CAP_NET_RAW; this side starts it on first use and talks to it over a
// socketpair. Frames arrive in a ring each adapter shares with the helper,
// so looking for one costs no system call.
#include "zentrik/helper_client.h"

#include "zentrik/link_path.h"
#include "zentrik/zentrik.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace linkclient {
namespace {
// A helper that does not answer within this is taken for gone.
constexpr int replyTimeoutMs = 5000;

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
// Set when the helper went while this process was talking to it; cleared by the next start.
bool helperLost = false;

ino_t currentNamespace()
{
    struct stat status {};
    return stat("/proc/self/ns/net", &status) == 0 ? status.st_ino : 0;
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

std::atomic_ref<uint32_t> slotStatus(ReceiveRing& ring, size_t slot)
{
    return std::atomic_ref<uint32_t>(
        *reinterpret_cast<uint32_t*>(ring.slots + slot * linkwire::slotSize + linkwire::slotStatus));
}
}  // namespace

void disconnect(bool lost)
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
    forgetAdapters();
}

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

bool ownsHelper() { return helperOwner == getpid(); }

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

bool ask(linkwire::Op op, uint32_t handle, const void* payload, size_t length, uint32_t* result, uint32_t* value,
         int* passedFd)
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

int mapRing(ReceiveRing& ring, int fd)
{
    void* mapped = fd >= 0 ? mmap(nullptr, linkwire::ringBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (mapped == MAP_FAILED)
        return fd >= 0 ? errno : EPROTO;
    ring.slots = static_cast<uint8_t*>(mapped);
    ring.next = 0;
    return 0;
}

void unmapRing(ReceiveRing& ring)
{
    if (ring.slots)
        munmap(ring.slots, linkwire::ringBytes);
    ring.slots = nullptr;
    ring.next = 0;
}

const uint8_t* filledFrame(ReceiveRing& ring, uint32_t* stored)
{
    // Acquire: the frame's bytes were written before the helper set the status.
    if (slotStatus(ring, ring.next).load(std::memory_order_acquire) != linkwire::slotFilled)
        return nullptr;
    const uint8_t* slot = ring.slots + ring.next * linkwire::slotSize;
    std::memcpy(stored, slot + linkwire::slotLength, 4);
    return slot + linkwire::slotFrame;
}

void freeSlot(ReceiveRing& ring)
{
    slotStatus(ring, ring.next).store(linkwire::slotFree, std::memory_order_release);
    ring.next = (ring.next + 1) % linkwire::ringSlots;
}

}  // namespace linkclient

using namespace linkclient;

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
