// Classification of received frames and receiveFrame's order and copies.
#include "mme/classify.h"
#include "replies.h"
#include "mme/requests.h"
#include "zentrik/zentrik.h"

using namespace mmetest;

namespace {

class IntakeTest : public MmeFixture {
protected:
    void SetUp() override
    {
        MmeFixture::SetUp();
        open(2);
    }
    void forgetDevice(int a)
    {
        AdapterEntry& e = adapters[a];
        std::memset(e.deviceMac, 0, 6);
        e.devicePresent = 0;
        e.deviceType = 0;
        e.paramsSeen = 0;
        std::memset(e.deviceParams, 0, sizeof e.deviceParams);
    }
    // Delivers and takes one frame through receiveFrame; returns the copied length.
    uint32_t take(const Bytes& f, int adapter = 0)
    {
        zsim::deliver(adapter, f);
        uint8_t buffer[1500];
        uint32_t length = 12345;
        EXPECT_EQ(receiveFrame(buffer, &length), 1);
        EXPECT_EQ(selfAddressedSeen, 0);  // lowered right after every classification
        return length;
    }
};

struct ClassifyCase {
    const char* name;
    Bytes frame;
    bool fromDevice;
    int deviceType;  // expected afterwards; starts at 0
};

TEST_F(IntakeTest, LocalDeviceRecognition)
{
    const Mac self = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    const ClassifyCase cases[] = {
        // self-addressed: from the local device whatever its entry
        {"self-addressed StationReply", frame(self, self, 0x08, 6), true, 0},
        {"self-addressed unknown type", frame(self, self, 0x2A, 0), true, 0},
        {"self-addressed request-form 0x1A sets the type", linkStatsReply(self, self, 0x83), true, 3},
        {"broadcast to broadcast is not self-addressed", frame(broadcast, broadcast, 0x08, 6), false, 0},
        {"StationReply to us", frame(hostMac0, self, 0x08, 6), false, 0},
        // LinkStatsReply and LocalDeviceNotice by bit 7 of offset 17
        {"LinkStatsReply 0x03", linkStatsReply(hostMac0, self, 0x03), true, 3},
        {"LinkStatsReply to broadcast", linkStatsReply(broadcast, self, 0x7F), true, 0x7F},
        {"request form 0x83", linkStatsReply(hostMac0, self, 0x83), false, 0},
        {"request form 0x80", linkStatsReply(broadcast, self, 0x80), false, 0},
        {"LocalDeviceNotice", frame(broadcast, self, 0x1E, 1, {0x05}), true, 0},
        {"LocalDeviceNotice bit 7 set", frame(broadcast, self, 0x1E, 1, {0x85}), false, 0},
        {"ParamReply from the device is not a device frame", paramReply(hostMac0, self, 1, block(9)), false, 0},
    };
    for (const ClassifyCase& c : cases) {
        SCOPED_TRACE(c.name);
        forgetDevice(0);
        take(c.frame);
        EXPECT_EQ(adapters[0].devicePresent, c.fromDevice ? 1 : 0);
        EXPECT_EQ(macAt(adapters[0].deviceMac), c.fromDevice ? self : Mac{});
        EXPECT_EQ(adapters[0].deviceType, c.deviceType);
        EXPECT_EQ(adapters[1].devicePresent, 0);  // the frame came in on adapter 0
    }
}

TEST_F(IntakeTest, SelfAddressedFrameRaisesTheFlagForTheWaitOnly)
{
    const Mac self = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    zsim::deliver(0, frame(self, self, 0x2A, 0));
    currentAdapterHandle = adapters[0].handle;
    uint8_t* record = classifyFrame(0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(selfAddressedSeen, 1);
    repostReceive(record);
    selfAddressedSeen = 0;

    zsim::deliver(0, frame(broadcast, broadcast, 0x2A, 0));
    record = classifyFrame(0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(selfAddressedSeen, 0);
    repostReceive(record);
}

TEST_F(IntakeTest, ParamReplyKindAndLength)
{
    struct Case {
        const char* name;
        Bytes frame;
        bool taken;
    } cases[] = {
        {"kind 1 from anyone", paramReply(hostMac0, strangerMac, 1, block(0x40)), true},
        {"kind 1 to broadcast", paramReply(broadcast, deviceMac0, 1, block(0x40)), true},
        {"kind 2", paramReply(hostMac0, deviceMac0, 2, block(0x40)), false},
        {"kind 3", paramReply(hostMac0, deviceMac0, 3, block(0x40)), false},
        {"length 0x0F (the query)", paramReply(hostMac0, deviceMac0, 1, block(0x40), 0x0F), false},
        {"length 0x34", paramReply(hostMac0, deviceMac0, 1, block(0x40), 0x34), false},
        {"67 bytes: block cut short", paramReply(hostMac0, deviceMac0, 1, block(0x40), 0x33, 67), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        forgetDevice(0);
        take(c.frame);
        EXPECT_EQ(adapters[0].paramsSeen, c.taken ? 1 : 0);
        Bytes expected = c.taken ? block(0x40) : Bytes(50, 0);
        EXPECT_EQ(Bytes(adapters[0].deviceParams, adapters[0].deviceParams + 50), expected);
        EXPECT_EQ(adapters[0].devicePresent, 0);
    }
}

// Short frames land in a read record that still holds a longer frame behind
// their end; nothing behind the end may count.
TEST_F(IntakeTest, ShortFramesAreNotReadPastTheirEnd)
{
    struct Case {
        const char* name;
        Bytes stale;  // the longer frame left in the record
        size_t cut;   // what arrives: its first `cut` bytes
    } cases[] = {
        {"20-byte ParamReply", paramReply(hostMac0, deviceMac0, 1, block(0x40)), 20},
        {"67-byte ParamReply", paramReply(hostMac0, deviceMac0, 1, block(0x40)), 67},
        {"17-byte LinkStatsReply", linkStatsReply(hostMac0, deviceMac0, 0x03), 17},
        {"16-byte LocalDeviceNotice", frame(broadcast, deviceMac0, 0x1E, 1, {0x05}), 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        closeAdapters();
        forgetDevice(0);
        ASSERT_EQ(openAdapters(), 1);
        // The first read posted after an open is slot 0.
        uint8_t* record = receiveSlots[0][0].readRecord;
        std::memcpy(record + readrec::frame, c.stale.data(), c.stale.size());
        Bytes arriving(c.stale.begin(), c.stale.begin() + static_cast<long>(c.cut));
        EXPECT_EQ(take(arriving), c.cut);
        EXPECT_EQ(adapters[0].paramsSeen, 0);
        EXPECT_EQ(adapters[0].devicePresent, 0);
        EXPECT_EQ(macAt(adapters[0].deviceMac), Mac{});

        // The classification tests themselves refuse the stale tail too.
        mme::FrameView v{record + readrec::frame, c.cut};
        EXPECT_FALSE(mme::isParamReply(v));
        EXPECT_FALSE(mme::isMonitorLinkStatsReply(v));
    }
}

TEST_F(IntakeTest, ReceiveFrameTakesAdaptersInTurn)
{
    // Adapter 1's frame arrives first in time; adapter 0 still goes first, then
    // the adapters take turns, each one's frames in their order.
    zsim::deliver(1, frame(hostMac1, strangerMac, 0x08, 6, {0xB1}));
    simclock::advance(5);
    zsim::deliver(0, frame(hostMac0, strangerMac, 0x08, 6, {0xA1}));
    zsim::deliver(0, frame(hostMac0, strangerMac, 0x08, 6, {0xA2}));
    uint8_t buffer[1500];
    uint32_t length = 0;
    std::vector<uint8_t> order;
    while (receiveFrame(buffer, &length)) {
        ASSERT_EQ(length, 60u);
        order.push_back(buffer[17]);
    }
    EXPECT_EQ(order, (std::vector<uint8_t>{0xA1, 0xB1, 0xA2}));
    EXPECT_EQ(receiveFrame(buffer, &length), 0);
    // Every taken read is posted again.
    EXPECT_EQ(zsim::postedReads(0), receiveSlotsPerAdapter);
    EXPECT_EQ(zsim::postedReads(1), receiveSlotsPerAdapter);
}

TEST_F(IntakeTest, ReceiveFrameCopiesTheWholeFrame)
{
    Bytes big(1400);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    Bytes f = frame(hostMac0, strangerMac, 0x2A, 0, {}, 1400);
    std::copy(big.begin() + 17, big.end(), f.begin() + 17);
    zsim::deliver(0, f);
    uint8_t buffer[1500];
    std::memset(buffer, 0xEE, sizeof buffer);
    uint32_t length = 0;
    ASSERT_EQ(receiveFrame(buffer, &length), 1);
    ASSERT_EQ(length, 1400u);
    EXPECT_EQ(Bytes(buffer, buffer + 1400), f);
    EXPECT_EQ(buffer[1400], 0xEE);
}

TEST_F(IntakeTest, NonManagementRecordsCountButLeaveTheBuffer)
{
    // Lift the frame filter so that other frames reach the reads.
    ASSERT_EQ(W32N_SetBPFProgram(zsim::handleOf(0), nullptr, 0), 1);
    Bytes ipv4 = frame(hostMac0, strangerMac, 0x08, 6);
    ipv4[12] = 0x08;
    ipv4[13] = 0x00;
    // A record the driver completed with frameLength 0: the first read (slot 0)
    // completes with one byte, and its length is then set to 0.
    zsim::deliver(0, Bytes{0x42});
    GetOverlappedResult(adapters[0].handle, &receiveSlots[0][0].overlapped, nullptr, 0);
    ASSERT_EQ(getU32(receiveSlots[0][0].readRecord, readrec::status), readrec::statusDone);
    putU32(receiveSlots[0][0].readRecord, readrec::frameLength, 0);
    zsim::deliver(0, ipv4);
    Bytes halfEthertype = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4, 5, 6, 0x88};
    zsim::deliver(0, halfEthertype);

    uint8_t buffer[1500];
    std::memset(buffer, 0xEE, sizeof buffer);
    for (int i = 0; i < 3; ++i) {
        uint32_t length = 999;
        ASSERT_EQ(receiveFrame(buffer, &length), 1) << i;
        EXPECT_EQ(length, 0u) << i;
    }
    EXPECT_EQ(Bytes(buffer, buffer + 1500), Bytes(1500, 0xEE));
    uint32_t length = 0;
    EXPECT_EQ(receiveFrame(buffer, &length), 0);
    EXPECT_EQ(adapters[0].devicePresent, 0);
}

TEST_F(IntakeTest, RequestsAreNeverTakenForReplies)
{
    // Every request of the system, looped back as if received.
    uint8_t key[8] = {};
    std::memcpy(adapters[0].deviceMac, deviceMac0.data(), 6);
    zsim::setSendHook([](int a, const uint8_t* f, size_t n) { zsim::deliver(a, f, n); });
    sendStationQuery(0, hostMac0.data(), broadcast.data());
    sendParamQuery(0, hostMac0.data(), broadcast.data(), 0);
    sendLinkStatsQuery(0, hostMac0.data(), broadcast.data());
    sendDiscoveryProbe(0);
    sendControlFrame(0, hostMac0.data(), broadcast.data(), 0x40, 0x01, 0x01);
    setKey(0, {.source = hostMac0.data(),
               .destination = broadcast.data(),
               .keySelect = 1,
               .key = key,
               .controlValue = 1,
               .withControl = true});
    zsim::setSendHook(nullptr);
    forgetDevice(0);

    uint8_t buffer[1500];
    uint32_t length = 0;
    int frames = 0;
    while (receiveFrame(buffer, &length)) {
        ++frames;
        mme::FrameView v{buffer, length};
        EXPECT_FALSE(mme::isStationReply(v));
        EXPECT_FALSE(mme::isParamReply(v));
        EXPECT_FALSE(mme::isMonitorLinkStatsReply(v));
    }
    EXPECT_EQ(frames, 6);
    EXPECT_EQ(adapters[0].devicePresent, 0);
    EXPECT_EQ(adapters[0].paramsSeen, 0);
}

}  // namespace
