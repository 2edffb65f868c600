// brennic-link as its caller meets it: the requests it refuses, the
// environment it does not pass on, and its end when the caller goes. The
// parser's cases run anywhere; the rest in a private network namespace with
// a TAP interface (skipped without root).
#include "support/fd_text.h"
#include "support/netns.h"
#include "support/netns_test.h"
#include "support/tap.h"
#include "helper/link_wire.h"
#include "zentrik/zentrik.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace linkwire;

std::vector<uint8_t> request(uint8_t op, uint32_t handle, const std::vector<uint8_t>& payload = {})
{
    std::vector<uint8_t> r(headerSize);
    r[0] = op;
    std::memcpy(r.data() + 4, &handle, 4);
    r.insert(r.end(), payload.begin(), payload.end());
    return r;
}

// dst broadcast, src 02:b7:1c:00:00:71, the given Ethertype, zero payload.
std::vector<uint8_t> frameOf(uint16_t type, size_t length)
{
    std::vector<uint8_t> f(length, 0);
    std::memset(f.data(), 0xFF, 6);
    const uint8_t src[6] = {0x02, 0xb7, 0x1c, 0x00, 0x00, 0x71};
    std::memcpy(f.data() + 6, src, 6);
    f[12] = static_cast<uint8_t>(type >> 8);
    f[13] = static_cast<uint8_t>(type);
    return f;
}

std::vector<uint8_t> filterBytesOf()
{
    std::vector<uint8_t> bytes;
    for (const sock_filter& insn : filterProgram) {
        uint8_t b[8] = {static_cast<uint8_t>(insn.code), static_cast<uint8_t>(insn.code >> 8), insn.jt, insn.jf};
        std::memcpy(b + 4, &insn.k, 4);
        bytes.insert(bytes.end(), b, b + 8);
    }
    return bytes;
}

std::vector<uint8_t> bytesOf(const char* text) { return std::vector<uint8_t>(text, text + std::strlen(text)); }

TEST(LinkRequests, OnlyTheExactRequestsAreAccepted)
{
    std::vector<uint8_t> filter = filterBytesOf();
    std::vector<uint8_t> otherFilter = filter;
    otherFilter[12] = 0x00;  // jeq #0x0800: IPv4 instead
    otherFilter[13] = 0x08;
    std::vector<uint8_t> padded = request(opClose, 0);
    padded[2] = 1;
    std::vector<uint8_t> cut = request(opClose, 0);
    cut.pop_back();
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        bool accepted;
    };
    const Case cases[] = {
        {"open tap0", request(opOpen, 0, bytesOf("tap0")), true},
        {"open, 15 characters", request(opOpen, 0, bytesOf("abcdefghijklmno")), true},
        {"open, 16 characters", request(opOpen, 0, bytesOf("abcdefghijklmnop")), false},
        {"open, empty name", request(opOpen, 0), false},
        {"open, a path", request(opOpen, 0, bytesOf("../a")), false},
        {"open, NUL inside", request(opOpen, 0, {'t', 0, 'p'}), false},
        {"open with a handle", request(opOpen, 1, bytesOf("tap0")), false},
        {"close", request(opClose, 31), true},
        {"close, handle out of range", request(opClose, 32), false},
        {"close with payload", request(opClose, 0, {0}), false},
        {"promiscuous on", request(opPromiscuous, 0, {1}), true},
        {"promiscuous 2", request(opPromiscuous, 0, {2}), false},
        {"the filter", request(opFilter, 0, filter), true},
        {"another filter", request(opFilter, 0, otherFilter), false},
        {"send 60", request(opSend, 0, frameOf(0x887B, 60)), true},
        {"send 1514", request(opSend, 0, frameOf(0x887B, 1514)), true},
        {"send 59", request(opSend, 0, frameOf(0x887B, 59)), false},
        {"send 1515", request(opSend, 0, frameOf(0x887B, 1515)), false},
        {"send IPv4", request(opSend, 0, frameOf(0x0800, 60)), false},
        {"header cut short", cut, false},
        {"padding not zero", padded, false},
        {"unknown op", request(9, 0), false},
    };
    for (const Case& c : cases) {
        Request r;
        EXPECT_EQ(parseRequest(c.bytes.data(), c.bytes.size(), &r), c.accepted) << c.what;
    }
    Request r;
    std::vector<uint8_t> open = request(opOpen, 0, bytesOf("plc0"));
    ASSERT_TRUE(parseRequest(open.data(), open.size(), &r));
    EXPECT_STREQ(r.name, "plc0");
}

// brennic-link of this build on a socketpair, its standard error on a pipe.
class Helper {
public:
    bool start(std::string* why, int type = SOCK_SEQPACKET)
    {
        int pair[2], err[2];
        if (socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, pair) != 0 || pipe2(err, O_CLOEXEC) != 0) {
            *why = std::strerror(errno);
            return false;
        }
        int childEnd = fcntl(pair[1], F_DUPFD_CLOEXEC, 10);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, childEnd, helperFd);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
        char name[] = "brennic-link";
        char* argv[] = {name, nullptr};
        int error = posix_spawn(&pid_, BRENNIC_LINK_BUILD_PATH, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(childEnd);
        close(pair[1]);
        close(err[1]);
        socket_ = pair[0];
        errors_ = err[0];
        if (error != 0)
            *why = std::strerror(error);
        return error == 0;
    }
    ~Helper()
    {
        if (socket_ >= 0)
            finish();
    }

    bool send(const std::vector<uint8_t>& bytes)
    {
        return ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
    }
    // The reply's two words, with the passed descriptor (closed) counted.
    bool reply(uint32_t* result, uint32_t* value, bool* gotFd = nullptr)
    {
        uint8_t words[replySize];
        iovec iov{words, sizeof words};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))]{};
        msghdr m{};
        m.msg_iov = &iov;
        m.msg_iovlen = 1;
        m.msg_control = control;
        m.msg_controllen = sizeof control;
        pollfd p{socket_, POLLIN, 0};
        if (poll(&p, 1, 2000) != 1 || recvmsg(socket_, &m, MSG_CMSG_CLOEXEC) != static_cast<ssize_t>(sizeof words))
            return false;
        cmsghdr* c = CMSG_FIRSTHDR(&m);
        if (gotFd)
            *gotFd = c && c->cmsg_type == SCM_RIGHTS;
        if (c && c->cmsg_type == SCM_RIGHTS) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
            close(fd);
        }
        std::memcpy(result, words, 4);
        std::memcpy(value, words + 4, 4);
        return true;
    }
    // False, and the helper killed, when it has not ended within `ms`.
    bool endsWithin(int ms)
    {
        for (int waited = 0; waited < ms; waited += 10) {
            siginfo_t info{};
            if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(pid_, SIGKILL);
        return false;
    }
    // Closes our end; the helper's exit status and what it wrote.
    std::string finish(int* status = nullptr)
    {
        close(socket_);
        socket_ = -1;
        std::string text = testsupport::readToEnd(errors_);
        close(errors_);
        int s = -1;
        waitpid(pid_, &s, 0);
        if (status)
            *status = s;
        return text;
    }

private:
    pid_t pid_ = -1;
    int socket_ = -1;
    int errors_ = -1;
};

// Started by hand on any other descriptor it refuses to run; on the pair
// brennic makes it serves until brennic closes its end.
TEST(LinkHelperStart, RunsOnlyOnTheSocketBrennicMakes)
{
    const struct {
        int type;
        int status;
        const char* says;
    } cases[] = {
        {SOCK_SEQPACKET, 0, ""},
        {SOCK_STREAM, 2, "brennic-link: started by brennic, not by hand\n"},
        {SOCK_DGRAM, 2, "brennic-link: started by brennic, not by hand\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        Helper helper;
        std::string why;
        ASSERT_TRUE(helper.start(&why, c.type)) << why;
        if (c.status != 0) {
            EXPECT_TRUE(helper.endsWithin(5000));
        }
        int status = -1;
        EXPECT_EQ(helper.finish(&status), c.says);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.status);
    }
}

class LinkHelper : public testsupport::NetnsTest {
protected:
    void SetUp() override
    {
        NetnsTest::SetUp();
        if (IsSkipped())
            return;
        tap = &addTap("lnk0", mac);
        ASSERT_TRUE(tap->isOpen());
    }
    const uint8_t mac[6] = {0x02, 0xb7, 0x1c, 0x00, 0x00, 0x70};
    testsupport::TapDevice* tap = nullptr;
};

TEST_F(LinkHelper, SendsOnlyManagementFramesOfLawfulSizeAndCountsTheRest)
{
    Helper h;
    std::string why;
    ASSERT_TRUE(h.start(&why)) << why;
    uint32_t result = 1, handle = 99;
    bool gotFd = false;
    ASSERT_TRUE(h.send(request(opOpen, 0, bytesOf("lnk0"))));
    ASSERT_TRUE(h.reply(&result, &handle, &gotFd));
    ASSERT_EQ(result, 0u);
    EXPECT_TRUE(gotFd);
    // Loopback is not an adapter, nor is a name the namespace does not have.
    for (const char* name : {"lo", "eth0"}) {
        ASSERT_TRUE(h.send(request(opOpen, 0, bytesOf(name))));
        uint32_t r = 0, v = 0;
        ASSERT_TRUE(h.reply(&r, &v));
        EXPECT_EQ(r, static_cast<uint32_t>(ENODEV)) << name;
    }

    std::vector<uint8_t> good = frameOf(0x887B, 60);
    good[20] = 0x5A;
    std::vector<uint8_t> biggest = frameOf(0x887B, 1514);
    biggest[20] = 0xA5;
    // Refused: IPv4, 1515 bytes, 59 bytes, a closed handle; a header cut short;
    // another filter program and an open of a path, which are answered EINVAL.
    std::vector<uint8_t> otherFilter = filterBytesOf();
    otherFilter[12] = 0;
    ASSERT_TRUE(h.send(request(opSend, handle, frameOf(0x0800, 60))));
    ASSERT_TRUE(h.send(request(opSend, handle, frameOf(0x887B, 1515))));
    ASSERT_TRUE(h.send(request(opSend, handle, frameOf(0x887B, 59))));
    ASSERT_TRUE(h.send(request(opSend, handle + 1, frameOf(0x887B, 60))));
    ASSERT_TRUE(h.send({opClose, 0, 0}));
    for (const std::vector<uint8_t>& asked :
         {request(opFilter, handle, otherFilter), request(opOpen, 0, bytesOf("../tap"))}) {
        ASSERT_TRUE(h.send(asked));
        uint32_t r = 0, v = 0;
        ASSERT_TRUE(h.reply(&r, &v));
        EXPECT_EQ(r, static_cast<uint32_t>(EINVAL));
    }
    ASSERT_TRUE(h.send(request(opSend, handle, good)));
    ASSERT_TRUE(h.send(request(opSend, handle, biggest)));

    // The TAP shows what went out on the interface: the two lawful frames only.
    std::vector<std::vector<uint8_t>> out;
    while (auto f = tap->read(300))
        if (f->size() >= 14 && !((*f)[12] == 0x86 && (*f)[13] == 0xDD))  // the kernel's own IPv6 chatter
            out.push_back(*f);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0], good);
    EXPECT_EQ(out[1], biggest);

    int status = -1;
    std::string said = h.finish(&status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(said, "brennic-link: refused 7 requests\n");
}

TEST_F(LinkHelper, ReceivesOnlyManagementFramesIntoTheSharedRing)
{
    int32_t handle = W32N_OpenAdapterA("lnk0");
    ASSERT_NE(handle, -1);
    ASSERT_TRUE(tap->write(frameOf(0x0800, 60)));
    ASSERT_TRUE(tap->write(frameOf(0x88CC, 60)));
    std::vector<uint8_t> wanted = frameOf(0x887B, 64);
    ASSERT_TRUE(tap->write(wanted));
    uint8_t record[readrec::size]{};
    putU32(record, readrec::bufferSize, readrec::preparedBufferSize);
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, 1, 0, nullptr);
    uint32_t bytes = 0;
    ASSERT_EQ(W32N_PacketRead(handle, record, &bytes, &overlapped, 0), 1);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (getU32(record, readrec::status) != readrec::statusDone && std::chrono::steady_clock::now() < deadline)
        GetOverlappedResult(handle, &overlapped, &bytes, 0);
    ASSERT_EQ(bytes, 64u);
    EXPECT_EQ(std::vector<uint8_t>(record + readrec::frame, record + readrec::frame + 64), wanted);
    // Nothing else came after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(W32N_PacketRead(handle, record, &bytes, &overlapped, 0), 1);
    GetOverlappedResult(handle, &overlapped, &bytes, 0);
    EXPECT_EQ(getU32(record, readrec::status), readrec::statusPending);
    W32N_CloseAdapter(handle);
    CloseHandle(overlapped.hEvent);
}

// The brennic-link processes whose parent is `parent`.
std::vector<pid_t> helpersOf(pid_t parent)
{
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        pid_t pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        size_t close = text.rfind(')');
        if (text.find("(brennic-link)") == std::string::npos || close == std::string::npos)
            continue;
        // After the name: state, then the parent's pid.
        if (std::atoi(text.c_str() + close + 4) == parent)
            found.push_back(pid);
    }
    if (proc)
        closedir(proc);
    return found;
}

bool gone(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t close = text.rfind(')');
    return text.empty() || close == std::string::npos || text[close + 2] == 'Z';
}

TEST_F(LinkHelper, StartsWithoutTheCallersEnvironmentAndEndsWithTheCaller)
{
    // A caller with a loader preload that would kill any process it reached,
    // and a Qt plugin path: the helper gets neither and opens the adapter.
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t caller = fork();
    if (caller == 0) {
        close(report[0]);
        setenv("LD_PRELOAD", EXIT_ON_LOAD_PATH, 1);
        setenv("LD_LIBRARY_PATH", "/nonexistent", 1);
        setenv("QT_PLUGIN_PATH", "/nonexistent", 1);
        int32_t handle = W32N_OpenAdapterA("lnk0");
        std::vector<pid_t> helpers = helpersOf(getpid());
        int32_t answer[2] = {handle, helpers.size() == 1 ? helpers[0] : -1};
        if (write(report[1], answer, sizeof answer) != sizeof answer)
            _exit(3);
        pause();
        _exit(0);
    }
    close(report[1]);
    int32_t answer[2] = {-1, -1};
    ASSERT_EQ(read(report[0], answer, sizeof answer), static_cast<ssize_t>(sizeof answer));
    close(report[0]);
    EXPECT_NE(answer[0], -1);
    pid_t helper = answer[1];
    ASSERT_GT(helper, 0);
    std::ifstream environment("/proc/" + std::to_string(helper) + "/environ");
    std::string env((std::istreambuf_iterator<char>(environment)), std::istreambuf_iterator<char>());
    EXPECT_EQ(env, "");

    kill(caller, SIGKILL);
    waitpid(caller, nullptr, 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!gone(helper) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(gone(helper));
}

}  // namespace
