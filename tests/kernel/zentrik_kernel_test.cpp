// The Linux packet driver's own contract, below the link.
#include "support/helper_copy.h"
#include "support/scratch.h"
#include "kernel_fixture.h"
#include "helper/link_wire.h"
#include "link/link.h"
#include "zentrik/link_build_path.h"
#include "zentrik/zentrik.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kerneltest;

namespace {

struct Read {
    uint8_t record[readrec::size]{};
    uint32_t bytes = 0;
    OVERLAPPED overlapped{};
};

class ZentrikKernelTest : public KernelTest {
protected:
    void TearDown() override
    {
        if (handle != -1)
            W32N_CloseAdapter(handle);
        for (Read& r : reads)
            CloseHandle(r.overlapped.hEvent);
    }

    // Opens tap0 behind the management-frame filter, with `count` unposted reads.
    void openWithReads(int count)
    {
        tap = &addTap("tap0", 1);
        handle = W32N_OpenAdapterA("tap0");
        ASSERT_NE(handle, -1);
        ASSERT_EQ(W32N_SetBPFProgram(handle, frameFilterProgram, sizeof frameFilterProgram), 1);
        reads.resize(static_cast<size_t>(count));
        for (Read& r : reads) {
            r.overlapped.hEvent = CreateEventA(nullptr, 1, 0, nullptr);
            putU32(r.record, readrec::bufferSize, readrec::preparedBufferSize);
        }
    }

    void post(size_t i)
    {
        ASSERT_EQ(W32N_PacketRead(handle, reads[i].record, &reads[i].bytes, &reads[i].overlapped, 0), 1);
    }
    bool done(size_t i) { return getU32(reads[i].record, readrec::status) == readrec::statusDone; }
    uint16_t seqIn(size_t i) { return seqOf(reads[i].record + readrec::frame); }

    // Queries results until read i completes or a second has passed.
    bool waitDone(size_t i)
    {
        return pollFor(
            [&] {
                GetOverlappedResult(handle, &reads[i].overlapped, &reads[i].bytes, 0);
                return done(i);
            },
            1000);
    }

    testsupport::TapDevice* tap = nullptr;
    int32_t handle = -1;
    std::vector<Read> reads;
};

TEST_F(ZentrikKernelTest, FramesFillTheOldestPostedReadsAndTheRestWaitInTheKernel)
{
    openWithReads(3);
    post(1);
    post(0);
    EXPECT_EQ(getU32(reads[1].record, readrec::status), readrec::statusPending);
    for (uint16_t seq : {10, 11, 12})
        ASSERT_TRUE(tap->write(frameOf(mgmtType, seq)));

    ASSERT_TRUE(waitDone(0));
    EXPECT_TRUE(done(1));
    EXPECT_EQ(seqIn(1), 10);  // posted first
    EXPECT_EQ(seqIn(0), 11);
    EXPECT_EQ(reads[1].bytes, 60u);
    EXPECT_TRUE(platform::eventIsSet(reads[0].overlapped.hEvent));
    EXPECT_FALSE(platform::eventIsSet(reads[2].overlapped.hEvent));

    // The third frame was left with the kernel until a read was there for it.
    post(2);
    ASSERT_TRUE(waitDone(2));
    EXPECT_EQ(seqIn(2), 12);
}

// Bytes the kernel holds for packet sockets on the interface.
size_t kernelQueued(unsigned index)
{
    std::ifstream packets("/proc/net/packet");
    size_t total = 0;
    for (std::string line; std::getline(packets, line);) {
        unsigned iface = 0;
        size_t queued = 0;
        if (std::sscanf(line.c_str(), "%*s %*s %*s %*s %u %*s %zu", &iface, &queued) == 2 && iface == index)
            total += queued;
    }
    return total;
}

TEST_F(ZentrikKernelTest, FullRingLeavesTheRestInTheKernelAndLosesAndReordersNothing)
{
    openWithReads(1);
    unsigned index = if_nametoindex("tap0");
    const int frames = static_cast<int>(linkwire::ringSlots) + 40;
    for (int seq = 0; seq < frames; ++seq) {
        ASSERT_TRUE(tap->write(frameOf(mgmtType, static_cast<uint16_t>(seq))));
        // In steps the helper takes whole, so that the kernel's queue never overflows.
        if (seq % 256 == 255) {
            ASSERT_TRUE(pollFor([&] { return kernelQueued(index) == 0; }, 1000)) << seq;
        }
    }
    size_t held = kernelQueued(index);
    ASSERT_GT(held, 0u);
    for (int seq = 0; seq < frames; ++seq) {
        post(0);
        ASSERT_TRUE(waitDone(0)) << seq;
        ASSERT_EQ(seqIn(0), seq);
        // Three slots free in a full ring: the helper takes no more frames than that.
        if (seq == 2) {
            ASSERT_TRUE(pollFor([&] { return kernelQueued(index) < held; }, 1000));
        }
    }
}

TEST_F(ZentrikKernelTest, CancelledReadIsSkippedAndTheOthersKeepTheirOrder)
{
    openWithReads(3);
    post(0);
    post(1);
    post(2);
    ASSERT_EQ(W32N_CancelPacketRead(handle, reads[1].record), 1);
    ASSERT_TRUE(tap->write(frameOf(mgmtType, 20)));
    ASSERT_TRUE(tap->write(frameOf(mgmtType, 21)));
    ASSERT_TRUE(waitDone(2));
    EXPECT_EQ(seqIn(0), 20);
    EXPECT_EQ(seqIn(2), 21);
    EXPECT_EQ(getU32(reads[1].record, readrec::status), readrec::statusPending);
}

TEST_F(ZentrikKernelTest, FilterDropsWhatWasQueuedBeforeIt)
{
    tap = &addTap("tap0", 1);
    handle = W32N_OpenAdapterA("tap0");
    ASSERT_NE(handle, -1);
    ASSERT_TRUE(tap->write(frameOf(0x0800, 30)));
    ASSERT_TRUE(tap->write(frameOf(mgmtType, 31)));
    ASSERT_EQ(W32N_SetBPFProgram(handle, frameFilterProgram, sizeof frameFilterProgram), 1);
    ASSERT_TRUE(tap->write(frameOf(0x0800, 32)));
    ASSERT_TRUE(tap->write(frameOf(mgmtType, 33)));

    reads.resize(1);
    reads[0].overlapped.hEvent = CreateEventA(nullptr, 1, 0, nullptr);
    putU32(reads[0].record, readrec::bufferSize, readrec::preparedBufferSize);
    post(0);
    ASSERT_TRUE(waitDone(0));
    EXPECT_EQ(seqIn(0), 33);

    EXPECT_EQ(W32N_SetBPFProgram(handle, frameFilterProgram, 31), 0);  // not whole instructions
}

TEST_F(ZentrikKernelTest, ClosedHandleRefusesEverything)
{
    openWithReads(1);
    post(0);
    ASSERT_EQ(W32N_CloseAdapter(handle), 1);
    uint8_t frame[60] = {};
    uint32_t sent = 0;
    EXPECT_EQ(W32N_PacketSend(handle, frame, sizeof frame, &sent, &reads[0].overlapped), 0);
    EXPECT_EQ(GetOverlappedResult(handle, &reads[0].overlapped, &reads[0].bytes, 0), 0);
    EXPECT_EQ(W32N_PacketRead(handle, reads[0].record, &reads[0].bytes, &reads[0].overlapped, 0), 0);
    EXPECT_EQ(W32N_CloseAdapter(handle), 0);
    handle = -1;
}

// The helper's end wakes the loop once; from then on its descriptor is not
// offered, or a loop still watching it would wake at once, again and again.
TEST_F(ZentrikKernelTest, LostHelperWakesTheLoopOnce)
{
    openWithReads(1);
    int fd = zentrikWakeFd();
    ASSERT_GE(fd, 0);
    pid_t helper = -1;
    std::ifstream children("/proc/self/task/" + std::to_string(gettid()) + "/children");
    for (pid_t pid = 0; children >> pid;) {
        std::string name;
        std::ifstream("/proc/" + std::to_string(pid) + "/comm") >> name;
        helper = name == "brennic-link" ? pid : helper;
    }
    ASSERT_GT(helper, 0);
    ASSERT_EQ(kill(helper, SIGKILL), 0);
    pollfd woken{fd, POLLIN, 0};
    ASSERT_EQ(poll(&woken, 1, 5000), 1);
    zentrikClearWake();
    fd = zentrikWakeFd();
    pollfd again{fd, POLLIN, 0};
    EXPECT_TRUE(fd < 0 || poll(&again, 1, 0) == 0);
    EXPECT_EQ(linkHelperLost(), 1);
    handle = -1;  // it went with the helper
}

// Runs W32N_OpenAdapterA in a child, as nobody if asked, and returns what it
// wrote to standard error; the child's exit status says whether it got -1.
std::string openInChild(const char* name, bool dropPrivileges, int* exitCode)
{
    scratch::ChildResult child = scratch::runChild([&] {
        // Leaving uid 0 without keeping capabilities drops CAP_NET_RAW.
        if (dropPrivileges && setuid(scratch::nobody) != 0)
            return 3;
        return W32N_OpenAdapterA(name) == -1 ? 0 : 1;
    });
    *exitCode = WIFEXITED(child.status) ? WEXITSTATUS(child.status) : -1;
    return child.errorText;
}

TEST_F(ZentrikKernelTest, RefusedOpenSaysWhyInOneLine)
{
    addTap("tap0", 1);
    // Nobody starts a copy of the helper outside the build tree, or one shut in
    // a directory only root may enter.
    testsupport::ReachableHelper reachable;
    ASSERT_TRUE(reachable.ok());
    std::string shut = reachable.dir().file("shut");
    ASSERT_EQ(mkdir(shut.c_str(), 0700), 0);
    ASSERT_TRUE(scratch::copyProgram(brennicLinkBuildPath(), shut + "/brennic-link", 0, 0755));
    std::string me = std::string(program_invocation_short_name) + ": ";
    struct Case {
        const char* name;
        bool dropPrivileges;
        std::string helper;
        std::string said;
    };
    const Case cases[] = {
        {"tap0", true, "", "cannot open adapter tap0: Operation not permitted (needs CAP_NET_RAW)\n"},
        {"nosuch0", false, "", "cannot open adapter nosuch0: No such device\n"},
        {"an-interface-name-too-long", false, "", "cannot open adapter an-interface-name-too-long: No such device\n"},
        {"tap0", true, shut + "/brennic-link",
         shut + "/brennic-link is out of reach of the user nobody: a directory on its path is closed to them\n" + me +
             "cannot open adapter tap0: Permission denied\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name + c.helper);
        setLinkHelperBuildPath(c.helper.empty() ? reachable.dir().file("brennic-link") : c.helper);
        int exitCode = -1;
        std::string text = openInChild(c.name, c.dropPrivileges, &exitCode);
        EXPECT_EQ(exitCode, 0);
        EXPECT_EQ(text, me + c.said);
    }
}

}  // namespace
