// The packet link on the simulated driver and the virtual clock.
#include "link/link.h"
#include "platform/platform.h"
#include "platform/simclock.h"
#include "zentrik/sim.h"
#include "zentrik/zentrik.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> mgmtFrame(uint8_t tag, size_t length = 60)
{
    std::vector<uint8_t> f(length, 0);
    std::memset(f.data(), 0xFF, 6);
    f[6] = 0x02;
    f[11] = tag;
    f[12] = 0x88;
    f[13] = 0x7B;
    f[14] = 1;
    f[15] = 0x08;
    f[17] = tag;
    return f;
}

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        closeAdapters();
        zsim::reset();
        simclock::reset();
        platform::limitEventCreation(-1);
    }
    void TearDown() override
    {
        closeAdapters();
        platform::limitEventCreation(-1);
    }
    int add(const char* name, uint8_t last)
    {
        uint8_t mac[6] = {0x00, 0x50, 0x8B, 0x00, 0x00, last};
        return zsim::addAdapter(name, mac);
    }
    uint32_t slotOf(uint8_t* record) { return getU32(record, readrec::slotIndex); }
};

TEST_F(LinkTest, OpensEveryAdapterArmedForManagementFrames)
{
    add("eth0", 1);
    add("eth1", 2);
    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, 2);
    for (int a = 0; a < 2; ++a) {
        EXPECT_STREQ(adapters[a].name, a == 0 ? "eth0" : "eth1");
        EXPECT_EQ(adapters[a].ownMac[5], a + 1);
        EXPECT_TRUE(zsim::promiscuous(a));
        EXPECT_EQ(zsim::postedReads(a), receiveSlotsPerAdapter);
        std::vector<uint8_t> program = zsim::filterProgram(a);
        ASSERT_EQ(program.size(), 32u);
        EXPECT_EQ(0, std::memcmp(program.data(), frameFilterProgram, 32));
        EXPECT_EQ(getU32(receiveSlots[a][511].readRecord, readrec::bufferSize), 1500u);
    }
    EXPECT_EQ(currentSendSlot, 0);
    // 1024 receive events, two send events, the NDIS event
    EXPECT_EQ(platform::openEventCount(), 2 * 512 + 2 + 1);

    closeAdapters();
    EXPECT_EQ(adapterCount, 0);
    EXPECT_EQ(zsim::openHandleCount(), 0);
    EXPECT_EQ(platform::openEventCount(), 0);
    EXPECT_FALSE(zsim::isOpen(0));
    // The entries keep what the open found.
    EXPECT_STREQ(adapters[1].name, "eth1");
    EXPECT_EQ(closeAdapters(), 1);
    EXPECT_EQ(platform::openEventCount(), 0);
}

TEST_F(LinkTest, EnumerationFailuresLeaveNoGaps)
{
    add("bad-open", 1);
    add("good-a", 2);
    add("no-size", 3);
    add("zero-second", 4);
    add("size-zero-ok", 5);
    add(std::string(100, 'n').c_str(), 6);
    add(std::string(101, 'L').c_str(), 7);
    add("reports-more", 8);
    zsim::setOpenFails(0, true);
    zsim::setNameMode(2, zsim::NameMode::fails);
    zsim::setNameMode(3, zsim::NameMode::secondSizeZero);
    zsim::setNameMode(4, zsim::NameMode::sizeQueryZero);
    // Terminating the name at the size the second call reports would write past the buffer.
    zsim::setNameMode(7, zsim::NameMode::secondSizeLarger);

    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, 4);
    EXPECT_STREQ(adapters[0].name, "good-a");
    EXPECT_STREQ(adapters[1].name, "size-zero-ok");
    EXPECT_EQ(std::strlen(adapters[2].name), 100u);  // 100 characters fit, 101 do not
    EXPECT_STREQ(adapters[3].name, "reports-more");
    EXPECT_EQ(adapters[1].ownMac[5], 5);
    EXPECT_FALSE(zsim::isOpen(6));
}

TEST_F(LinkTest, AdapterWhoseAddressCannotBeReadIsLeftOut)
{
    add("eth0", 1);
    add("eth1", 2);
    add("eth2", 3);
    struct Case {
        int failing;
        const char* names[2];
        uint8_t macs[2];
    } cases[] = {
        {0, {"eth1", "eth2"}, {2, 3}},
        {1, {"eth0", "eth2"}, {1, 3}},  // eth1 must not take eth0's address
        {2, {"eth0", "eth1"}, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        closeAdapters();
        for (int i = 0; i < 3; ++i)
            zsim::setMacQueryFails(i, i == c.failing);
        ASSERT_EQ(openAdapters(), 1);
        ASSERT_EQ(adapterCount, 2);
        EXPECT_FALSE(zsim::isOpen(c.failing));
        EXPECT_EQ(zsim::postedReads(c.failing), 0);
        for (int a = 0; a < 2; ++a) {
            EXPECT_STREQ(adapters[a].name, c.names[a]);
            EXPECT_EQ(adapters[a].ownMac[5], c.macs[a]);
            int simIndex = zsim::adapterOfHandle(adapters[a].handle);
            EXPECT_EQ(simIndex, adapters[a].name[3] - '0');
            EXPECT_EQ(zsim::postedReads(simIndex), receiveSlotsPerAdapter);
            EXPECT_TRUE(zsim::promiscuous(simIndex));
        }
        EXPECT_EQ(platform::openEventCount(), 2 * 512 + 2 + 1);
    }
    // Every query failing: no adapter, so no device is looked for.
    closeAdapters();
    for (int i = 0; i < 3; ++i)
        zsim::setMacQueryFails(i, true);
    ASSERT_EQ(openAdapters(), 1);
    EXPECT_EQ(adapterCount, 0);
    EXPECT_EQ(zsim::openHandleCount(), 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(adapters[i].ownMac[5], 0) << i;
}

// The driver refuses an NDIS request it does not carry out, and says why.
TEST_F(LinkTest, UnsupportedNdisRequestIsAnInvalidParameter)
{
    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    alignas(8) uint8_t record[ndisrec::size] = {};
    alignas(8) uint8_t buffer[6] = {};
    ASSERT_TRUE(setNdisBuffer(record, buffer));
    struct Case {
        uint32_t type, oid, length;
    } cases[] = {
        {ndisrec::query, ndisrec::oidCurrentAddress, 5},  // no room for the address
        {ndisrec::set, ndisrec::oidCurrentAddress, 6},
        {ndisrec::query, ndisrec::oidPacketFilter, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.oid);
        ASSERT_EQ(W32N_OpenAdapterA("absent"), -1);  // leaves another error behind
        putU32(record, ndisrec::requestType, c.type);
        putU32(record, ndisrec::oid, c.oid);
        putU32(record, ndisrec::bufferLength, c.length);
        EXPECT_EQ(W32N_MakeNdisRequest(adapters[0].handle, record, nullptr, 1), 0);
        EXPECT_EQ(W32N_GetLastError(), errorInvalidParameter);
        EXPECT_EQ(getU32(record, ndisrec::bytesDone), 0u);
    }
}

TEST_F(LinkTest, EmptyOrFailedEnumeration)
{
    EXPECT_EQ(openAdapters(), 1);
    EXPECT_EQ(adapterCount, 0);
    EXPECT_EQ(platform::openEventCount(), 3);  // NDIS and send events only
    closeAdapters();
    EXPECT_EQ(platform::openEventCount(), 0);

    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    closeAdapters();
    zsim::setEnumerationFails(true);
    EXPECT_EQ(openAdapters(), 0);
    EXPECT_EQ(adapterCount, 0);
    EXPECT_EQ(zsim::openHandleCount(), 0);
}

TEST_F(LinkTest, NoNdisEventClosesEverything)
{
    add("eth0", 1);
    add("eth1", 2);
    platform::limitEventCreation(0);
    EXPECT_EQ(openAdapters(), 0);
    EXPECT_EQ(adapterCount, 0);
    EXPECT_EQ(zsim::openHandleCount(), 0);
}

TEST_F(LinkTest, SeventeenthAdapterIsNotStored)
{
    for (int i = 0; i < 17; ++i)
        add(("eth" + std::to_string(i)).c_str(), static_cast<uint8_t>(i));
    ASSERT_EQ(openAdapters(), 1);
    EXPECT_EQ(adapterCount, 16);
    EXPECT_EQ(zsim::openHandleCount(), 16);
    EXPECT_FALSE(zsim::isOpen(16));
}

TEST_F(LinkTest, LowestCompletedSlotIsTakenFirst)
{
    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    currentAdapterHandle = adapters[0].handle;
    EXPECT_EQ(takeReceived(0), nullptr);

    for (uint8_t tag = 0; tag < 6; ++tag)
        zsim::deliver(0, mgmtFrame(tag));
    // Slots 0..5 now hold frames 0..5; take all but 2 and 5, re-posting them at the back of the driver's queue.
    std::vector<uint8_t*> held;
    for (int i = 0; i < 6; ++i) {
        uint8_t* r = takeReceived(0);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(slotOf(r), static_cast<uint32_t>(i));
        EXPECT_EQ(getU32(r, readrec::status), readrec::statusPending);
        held.push_back(r);
    }
    EXPECT_EQ(takeReceived(0), nullptr);
    for (uint8_t* r : held)
        repostReceive(r);
    // The oldest posted record is slot 6; re-posted slots come after slot 511.
    zsim::deliver(0, mgmtFrame(9));
    uint8_t* r = takeReceived(0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(slotOf(r), 6u);
    EXPECT_EQ(r[readrec::frame + 17], 9);
    EXPECT_EQ(getU32(r, readrec::frameLength), 60u);
    repostReceive(r);

    // A burst that fills the ring round the end of the posting order: slots 7..511
    // then 0..6. Takes still go by slot, and frames that come midway into the
    // slots just given back go before the higher slots already waiting.
    for (int i = 0; i < receiveSlotsPerAdapter; ++i)
        zsim::deliver(0, mgmtFrame(static_cast<uint8_t>(i)));
    std::vector<uint32_t> slots;
    for (int i = 0; i < 300; ++i) {
        uint8_t* t = takeReceived(0);
        ASSERT_NE(t, nullptr);
        slots.push_back(slotOf(t));
        EXPECT_EQ(t[readrec::frame + 17], static_cast<uint8_t>(slotOf(t) >= 7 ? slotOf(t) - 7 : slotOf(t) + 505));
        repostReceive(t);
    }
    for (uint8_t tag : {0xA0, 0xA1})
        zsim::deliver(0, mgmtFrame(tag));
    std::vector<uint8_t> tags;
    while (uint8_t* t = takeReceived(0)) {
        slots.push_back(slotOf(t));
        tags.push_back(t[readrec::frame + 17]);
        repostReceive(t);
    }
    std::vector<uint32_t> expected;
    for (uint32_t i = 0; i < 300; ++i)
        expected.push_back(i);
    expected.insert(expected.end(), {0, 1});  // given back first, so filled first
    for (uint32_t i = 300; i < 512; ++i)
        expected.push_back(i);
    EXPECT_EQ(slots, expected);
    ASSERT_EQ(tags.size(), 214u);
    EXPECT_EQ(tags[0], 0xA0);
    EXPECT_EQ(tags[1], 0xA1);
}

TEST_F(LinkTest, CompletedSlotsAreTakenByIndexNotArrival)
{
    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    currentAdapterHandle = adapters[0].handle;
    // Take slots 0..5 out and put back 5 then 2, so that 5 completes before 2.
    for (uint8_t t = 0; t < 6; ++t)
        zsim::deliver(0, mgmtFrame(t));
    uint8_t* taken[6];
    for (auto& r : taken)
        r = takeReceived(0);
    // Fill every other posted slot so the driver's queue reaches the re-posted ones.
    for (int i = 6; i < 512; ++i)
        zsim::deliver(0, mgmtFrame(0xEE));
    repostReceive(taken[5]);
    repostReceive(taken[2]);
    zsim::deliver(0, mgmtFrame(0x55));
    zsim::deliver(0, mgmtFrame(0x22));
    // Slots 6..511 hold 0xEE frames; drain them, then slot 2 must come before slot 5.
    std::vector<uint32_t> order;
    while (uint8_t* r = takeReceived(0)) {
        if (r[readrec::frame + 17] != 0xEE)
            order.push_back(slotOf(r));
        else
            EXPECT_GE(slotOf(r), 6u);
    }
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], 2u);
    EXPECT_EQ(order[1], 5u);
    EXPECT_EQ(taken[2][readrec::frame + 17], 0x22);
}

// Refresh closes and opens the adapters between a look at the ring and a take:
// a frame seen then is gone with its reads, and each slot is posted once.
TEST_F(LinkTest, ReopenedAdaptersHandOutNothingFromBefore)
{
    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    zsim::deliver(0, mgmtFrame(0x11));
    ASSERT_TRUE(framesWaiting());
    closeAdapters();
    ASSERT_EQ(openAdapters(), 1);
    currentAdapterHandle = adapters[0].handle;
    EXPECT_FALSE(framesWaiting());
    EXPECT_EQ(takeReceived(0), nullptr);
    zsim::deliver(0, mgmtFrame(0x22));
    uint8_t* r = takeReceived(0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[readrec::frame + 17], 0x22);
    repostReceive(r);
    EXPECT_EQ(takeReceived(0), nullptr);
    EXPECT_EQ(zsim::postedReads(0), receiveSlotsPerAdapter);
}

TEST_F(LinkTest, EveryFrameIsTakenWhateverOrderTheSlotsComeBackIn)
{
    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    currentAdapterHandle = adapters[0].handle;
    // A take looks at the oldest posted read first: the link's idea of that
    // order must follow every re-post, or frames would wait unseen.
    std::vector<uint8_t*> held;
    std::vector<int> seen(256, 0);
    uint32_t seed = 7;
    int delivered = 0, taken = 0;
    for (int round = 0; round < 300; ++round) {
        seed = seed * 1103515245u + 12345u;
        int frames = 1 + static_cast<int>((seed >> 16) % 9);
        for (int k = 0; k < frames; ++k, ++delivered)
            zsim::deliver(0, mgmtFrame(static_cast<uint8_t>(delivered)));
        // Some rounds take everything there is, others leave frames waiting.
        int takes = round % 3 == 0 ? 1000 : static_cast<int>((seed >> 4) % 6);
        for (int k = 0; k < takes; ++k) {
            uint8_t* r = takeReceived(0);
            if (!r)
                break;
            ++taken;
            ++seen[r[readrec::frame + 17]];
            held.push_back(r);
        }
        if (round % 3 == 0) {
            ASSERT_EQ(taken, delivered) << "round " << round;
        }
        // Put back all but a few, in an order that changes from round to round.
        if (!held.empty())
            std::rotate(held.begin(), held.begin() + static_cast<long>((seed >> 8) % held.size()), held.end());
        while (held.size() > 3) {
            repostReceive(held.back());
            held.pop_back();
        }
    }
    while (uint8_t* r = takeReceived(0)) {
        ++taken;
        ++seen[r[readrec::frame + 17]];
        repostReceive(r);
    }
    EXPECT_EQ(taken, delivered);
    for (int tag = 0; tag < 256; ++tag)
        EXPECT_EQ(seen[static_cast<size_t>(tag)], delivered / 256 + (tag < delivered % 256 ? 1 : 0)) << tag;
}

TEST_F(LinkTest, SendLengthsAndSlotAlternation)
{
    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    std::vector<uint8_t> f(1515, 0xAB);

    struct Case {
        uint16_t length;
        int result;
        size_t onWire;
        int slotAfter;
    } cases[] = {
        {14, 1, 60, 1},     {60, 1, 60, 0}, {1515, 0, 0, 0},  // refused: slot unchanged
        {1514, 1, 1514, 1}, {59, 1, 60, 0},
    };
    for (const Case& c : cases) {
        size_t before = zsim::sentFrames().size();
        EXPECT_EQ(sendFrame(0, f.data(), c.length), c.result) << c.length;
        EXPECT_EQ(currentSendSlot, c.slotAfter) << c.length;
        if (c.onWire) {
            ASSERT_EQ(zsim::sentFrames().size(), before + 1);
            const std::vector<uint8_t>& wire = zsim::sentFrames().back().bytes;
            ASSERT_EQ(wire.size(), c.onWire);
            for (size_t i = 0; i < wire.size(); ++i)
                ASSERT_EQ(wire[i], i < c.length ? 0xAB : 0) << "byte " << i << " of " << c.length;
        } else {
            EXPECT_EQ(zsim::sentFrames().size(), before);
        }
    }
}

TEST_F(LinkTest, FailedAndStalledSends)
{
    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    uint8_t f[14] = {};

    zsim::setSendMode(0, zsim::SendMode::fails);
    EXPECT_EQ(sendFrame(0, f, 14), 0);
    EXPECT_EQ(currentSendSlot, 1);  // a failed send still flips

    // A send that never completes is reported done after the 5000 ms wait.
    zsim::setSendMode(0, zsim::SendMode::neverCompletes);
    uint32_t start = simclock::now();
    EXPECT_EQ(sendFrame(0, f, 14), 1);
    EXPECT_GE(simclock::now() - start, sendWaitMs);
    EXPECT_LT(simclock::now() - start, sendWaitMs + 50);

    // The slot's event from that send is not left set for its next use.
    EXPECT_EQ(sendFrame(0, f, 14), 1);
    start = simclock::now();
    EXPECT_EQ(sendFrame(0, f, 14), 1);
    EXPECT_GE(simclock::now() - start, sendWaitMs);

    // Without a send event the wait fails and the send reports 0.
    closeAdapters();
    ASSERT_EQ(openAdapters(), 1);
    CloseHandle(sendSlots[0].overlapped.hEvent);
    sendSlots[0].overlapped.hEvent = 0;
    zsim::setSendMode(0, zsim::SendMode::completes);
    EXPECT_EQ(sendFrame(0, f, 14), 0);
    EXPECT_EQ(sendFrame(0, f, 14), 1);
}

TEST_F(LinkTest, LongFramesAreCutToTheBuffer)
{
    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    currentAdapterHandle = adapters[0].handle;
    std::vector<uint8_t> big = mgmtFrame(1, 1514);
    putU32(receiveSlots[0][0].readRecord, readrec::bufferSize, 100);
    std::memset(receiveSlots[0][0].readRecord + readrec::frame + 100, 0x5A, 50);
    zsim::deliver(0, big);
    zsim::deliver(0, big);
    uint8_t* r = takeReceived(0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(getU32(r, readrec::frameLength), 100u);
    EXPECT_EQ(r[readrec::frame + 100], 0x5A);
    repostReceive(r);
    r = takeReceived(0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(getU32(r, readrec::frameLength), 1500u);
}

TEST_F(LinkTest, OnlyManagementFramesPassTheFilter)
{
    add("eth0", 1);
    ASSERT_EQ(openAdapters(), 1);
    currentAdapterHandle = adapters[0].handle;
    std::vector<uint8_t> ipv4 = mgmtFrame(1), arp = mgmtFrame(2);
    ipv4[12] = 0x08, ipv4[13] = 0x00;
    arp[12] = 0x08, arp[13] = 0x06;
    zsim::deliver(0, ipv4);
    zsim::deliver(0, arp);
    zsim::deliver(0, mgmtFrame(3));
    uint8_t* r = takeReceived(0);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r[readrec::frame + 17], 3);
    repostReceive(r);
    EXPECT_EQ(takeReceived(0), nullptr);
}

TEST_F(LinkTest, ReceiveEventShortageStopsPreparationButNotPosting)
{
    add("eth0", 1);
    // NDIS event first, then 10 receive events.
    platform::limitEventCreation(11);
    ASSERT_EQ(openAdapters(), 1);
    EXPECT_EQ(getU32(receiveSlots[0][9].readRecord, readrec::bufferSize), 1500u);
    EXPECT_EQ(receiveSlots[0][10].overlapped.hEvent, 0);
    EXPECT_EQ(zsim::postedReads(0), 512);
    platform::limitEventCreation(-1);
}

}  // namespace
