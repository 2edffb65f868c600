// The packet link over AF_PACKET sockets on TAP interfaces.
#include "kernel_fixture.h"
#include "link/link.h"
#include "zentrik/zentrik.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace kerneltest;

namespace {

class LinkKernelTest : public KernelTest {
protected:
    void TearDown() override { closeAdapters(); }

    uint8_t* take(int a, int timeoutMs = 1000)
    {
        currentAdapterHandle = adapters[a].handle;
        return pollFor([a] { return takeReceived(a); }, timeoutMs);
    }

    void repost(int a, uint8_t* record)
    {
        currentAdapterHandle = adapters[a].handle;
        repostReceive(record);
    }
};

// Our sockets' promiscuous membership shows in the kernel's count only.
bool isPromiscuous(const std::string& name) { return testsupport::promiscuityOf(name) > 0; }

TEST_F(LinkKernelTest, OpensExactlyTheEthernetInterfacesThatAreUpInIndexOrder)
{
    // Created in this order, so "zeta" has the lower index despite its name.
    addTap("zeta", 1);
    addTap("down0", 2, false);
    addTap("alpha", 3);
    std::string why;
    ASSERT_TRUE(testsupport::setLinkUp("lo", true, &why)) << why;

    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, 2);
    EXPECT_STREQ(adapters[0].name, "zeta");
    EXPECT_STREQ(adapters[1].name, "alpha");
    EXPECT_EQ(std::vector<uint8_t>(adapters[0].ownMac, adapters[0].ownMac + 6), macOf(1));
    EXPECT_EQ(std::vector<uint8_t>(adapters[1].ownMac, adapters[1].ownMac + 6), macOf(3));
    EXPECT_TRUE(isPromiscuous("zeta"));
    EXPECT_TRUE(isPromiscuous("alpha"));
    EXPECT_EQ(testsupport::promiscuityOf("down0"), 0);

    closeAdapters();
    EXPECT_FALSE(isPromiscuous("zeta"));
    EXPECT_FALSE(isPromiscuous("alpha"));
}

TEST_F(LinkKernelTest, EnumerationReportsNameSizesThenNames)
{
    addTap("tapname0", 1);
    int32_t list = adapterListOpen();
    ASSERT_NE(list, -1);
    int32_t item = adapterListFirst(list);
    ASSERT_NE(item, -1);
    uint32_t size = 0;
    EXPECT_EQ(adapterItemName(item, nullptr, &size), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(size, sizeof "tapname0");
    char small[4];
    uint32_t smallSize = sizeof small;
    EXPECT_EQ(adapterItemName(item, small, &smallSize), ERROR_INSUFFICIENT_BUFFER);
    std::vector<char> name(size);
    EXPECT_EQ(adapterItemName(item, name.data(), &size), 0u);
    EXPECT_STREQ(name.data(), "tapname0");
    adapterItemRelease(item);
    EXPECT_EQ(adapterListNext(list), -1);
    adapterListClose(list);
}

TEST_F(LinkKernelTest, NoInterfaceUpGivesAnEmptyButOpenSet)
{
    addTap("down0", 1, false);
    ASSERT_EQ(openAdapters(), 1);
    EXPECT_EQ(adapterCount, 0);
}

TEST_F(LinkKernelTest, OnlyManagementFramesArriveAndOwnSendsDoNotComeBack)
{
    auto& tap = addTap("tap0", 1);
    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, 1);

    // Our own management frames would pass the filter if they were looped back.
    std::vector<uint8_t> own = frameOf(mgmtType, 900);
    std::memcpy(own.data() + 6, adapters[0].ownMac, 6);
    ASSERT_EQ(sendFrame(0, own.data(), static_cast<uint16_t>(own.size())), 1);
    // The kernel never loops a socket's sends back to itself, but another
    // socket's sends on the same interface are transmissions of the adapter too.
    int32_t other = W32N_OpenAdapterA("tap0");
    ASSERT_NE(other, -1);
    uint32_t sent = 0;
    OVERLAPPED overlapped{};
    EXPECT_EQ(W32N_PacketSend(other, own.data(), static_cast<uint32_t>(own.size()), &sent, &overlapped), 1);
    W32N_CloseAdapter(other);

    ASSERT_TRUE(tap.write(frameOf(0x0800, 1)));  // IPv4
    ASSERT_TRUE(tap.write(frameOf(0x0806, 2)));  // ARP
    ASSERT_TRUE(tap.write(frameOf(mgmtType, 3)));
    ASSERT_TRUE(tap.write(frameOf(0x86DD, 4)));  // IPv6
    ASSERT_TRUE(tap.write(frameOf(mgmtType, 5)));

    // Arrival order is kept, so anything let through wrongly would show up
    // before the last management frame.
    std::vector<uint16_t> seen;
    while (uint8_t* r = take(0, seen.size() < 2 ? 1000 : 50)) {
        seen.push_back(seqOf(r + readrec::frame));
        EXPECT_EQ(getU32(r, readrec::frameLength), 60u);
        repost(0, r);
    }
    EXPECT_EQ(seen, (std::vector<uint16_t>{3, 5}));
}

TEST_F(LinkKernelTest, ShortFramesArePaddedAndFullFramesLeaveUnchanged)
{
    auto& tap = addTap("tap0", 1);
    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, 1);

    struct Case {
        size_t length;
        int result;
        size_t onWire;  // 0: nothing leaves
    };
    const Case cases[] = {{14, 1, 60}, {59, 1, 60}, {60, 1, 60}, {1514, 1, 1514}, {1515, 0, 0}};
    uint16_t seq = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<uint8_t> frame = frameOf(mgmtType, ++seq, std::max<size_t>(c.length, 16));
        frame.resize(c.length);
        EXPECT_EQ(sendFrame(0, frame.data(), static_cast<uint16_t>(c.length)), c.result);
        // A marker after each case: the first management frame read must be
        // this case's own, or the marker when it was refused.
        std::vector<uint8_t> marker = frameOf(mgmtType, 0xAAAA);
        ASSERT_EQ(sendFrame(0, marker.data(), 60), 1);
        auto out = tap.readOfType(mgmtType, 1000);
        ASSERT_TRUE(out);
        if (c.onWire == 0) {
            EXPECT_EQ(*out, marker);
            continue;
        }
        ASSERT_EQ(out->size(), c.onWire);
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), out->begin()));
        auto next = tap.readOfType(mgmtType, 1000);
        ASSERT_TRUE(next);
        EXPECT_EQ(*next, marker);
    }
}

TEST_F(LinkKernelTest, BurstWrittenWhileNobodyPollsIsTakenWholeAndOnce)
{
    auto& tap = addTap("tap0", 1);
    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, 1);

    // Two bursts: the second lands in reads that were re-posted after the first.
    for (uint16_t base : {uint16_t{0}, uint16_t{512}}) {
        SCOPED_TRACE(base);
        for (uint16_t i = 0; i < receiveSlotsPerAdapter; ++i)
            ASSERT_TRUE(tap.write(frameOf(mgmtType, static_cast<uint16_t>(base + i), 60 + i % 64)));

        std::vector<int> count(receiveSlotsPerAdapter, 0);
        int taken = 0;
        while (uint8_t* r = take(0, taken < receiveSlotsPerAdapter ? 2000 : 50)) {
            const uint8_t* f = r + readrec::frame;
            uint16_t seq = seqOf(f);
            ASSERT_GE(seq, base);
            ASSERT_LT(seq, base + receiveSlotsPerAdapter);
            std::vector<uint8_t> expected = frameOf(mgmtType, seq, 60 + (seq - base) % 64);
            ASSERT_EQ(getU32(r, readrec::frameLength), expected.size());
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), f)) << "frame " << seq;
            ++count[seq - base];
            ++taken;
            repost(0, r);
        }
        EXPECT_EQ(taken, receiveSlotsPerAdapter);
        EXPECT_TRUE(std::all_of(count.begin(), count.end(), [](int n) { return n == 1; }));
    }
}

TEST_F(LinkKernelTest, FramesAreCutToTheRecordAndNeverWrittenPastIt)
{
    auto& tap = addTap("tap0", 1);
    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, 1);

    struct Case {
        uint32_t bufferSize;  // bytes the record takes
        size_t frameLength;
        size_t stored;
    };
    const Case cases[] = {
        {1500, 1514, 1500},  // as the link prepares every record
        {100, 1514, 100},
        {0, 60, 0},
        {9000, 1600, readrec::frameRoom},  // an oversized frame stops at the record's end
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.bufferSize);
        // Reads taken so far went to the back of the queue, so slot i is the oldest.
        ReceiveSlot& slot = receiveSlots[0][i];
        ReceiveSlot& after = receiveSlots[0][i + 1];
        putU32(slot.readRecord, readrec::bufferSize, c.bufferSize);
        std::memset(slot.readRecord + readrec::frame, 0xEE, readrec::frameRoom);
        ReceiveSlot afterBefore = after;

        std::vector<uint8_t> frame = frameOf(mgmtType, static_cast<uint16_t>(i), c.frameLength);
        ASSERT_TRUE(tap.write(frame));
        uint8_t* r = take(0);
        ASSERT_EQ(r, slot.readRecord);
        ASSERT_EQ(getU32(r, readrec::frameLength), c.stored);
        EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + static_cast<long>(c.stored), r + readrec::frame));
        uint8_t* rest = r + readrec::frame + c.stored;
        EXPECT_TRUE(std::all_of(rest, slot.readRecord + readrec::size, [](uint8_t b) { return b == 0xEE; }));
        EXPECT_EQ(std::memcmp(&after, &afterBefore, sizeof after), 0);
        putU32(slot.readRecord, readrec::bufferSize, readrec::preparedBufferSize);
        repost(0, r);
    }
}

TEST_F(LinkKernelTest, RepeatedOpenAndCloseLeaksNothing)
{
    addTap("tap0", 1);
    addTap("tap1", 2);
    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, 2);
    closeAdapters();
    int fds = testsupport::openFdCount();
    int events = platform::openEventCount();
    for (int n = 0; n < 100; ++n) {
        ASSERT_EQ(openAdapters(), 1);
        ASSERT_EQ(adapterCount, 2);
        closeAdapters();
    }
    EXPECT_EQ(testsupport::openFdCount(), fds);
    EXPECT_EQ(platform::openEventCount(), events);
    // The sockets are really gone: the interfaces left promiscuous mode.
    EXPECT_FALSE(isPromiscuous("tap0"));
}

}  // namespace
