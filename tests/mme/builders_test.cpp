// Every request as it leaves on the wire, against golden bytes.
#include "replies.h"
#include "mme/requests.h"

using namespace mmetest;

namespace {

// Brings a golden request up to the 60 bytes sendFrame puts on the wire.
Bytes onWire(Bytes golden)
{
    golden.resize(std::max<size_t>(golden.size(), 60), 0x00);
    return golden;
}

class BuilderTest : public MmeFixture {
protected:
    void SetUp() override
    {
        MmeFixture::SetUp();
        open(2);
    }
    Bytes only()
    {
        EXPECT_EQ(zsim::sentFrames().size(), 1u);
        Bytes f = zsim::sentFrames().empty() ? Bytes{} : zsim::sentFrames().back().bytes;
        zsim::clearSent();
        return f;
    }
};

TEST_F(BuilderTest, StationQueryIsEighteenBytesPaddedWithZeros)
{
    // clang-format off
    const Bytes golden = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // destination: broadcast
        0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // source: ownMac of adapter 0
        0x88, 0x7B,                          // Ethertype
        0x01,                                // entryCount
        0x07,                                // entryType StationQuery
        0x00,                                // entryLength 0
        0x00,                                // offset 17 zero
    };
    // clang-format on
    EXPECT_TRUE(sendStationQuery(0, hostMac0.data(), broadcast.data()));
    Bytes wire = only();
    EXPECT_EQ(wire, onWire(golden));
    EXPECT_EQ(wire.size(), 60u);

    // Unicast to a remote, on the second adapter.
    EXPECT_TRUE(sendStationQuery(1, hostMac1.data(), remoteMac.data()));
    ASSERT_EQ(zsim::sentFrames().size(), 1u);
    EXPECT_EQ(zsim::sentFrames()[0].adapter, 1);
    // clang-format off
    const Bytes unicast = {
        0x02, 0x77, 0x88, 0x99, 0xAA, 0xBB,  // destination: the remote
        0x00, 0x50, 0x8B, 0x00, 0x00, 0x02,  // source: ownMac of adapter 1
        0x88, 0x7B, 0x01, 0x07, 0x00, 0x00,  // Ethertype, one StationQuery entry, no body
    };
    // clang-format on
    EXPECT_EQ(only(), onWire(unicast));
}

TEST_F(BuilderTest, ParamQueryCarriesTheSelector)
{
    for (uint8_t selector : {0x00, 0x10}) {
        SCOPED_TRACE(static_cast<int>(selector));
        // clang-format off
        Bytes golden = {
            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // destination: broadcast
            0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // source: ownMac
            0x88, 0x7B,                          // Ethertype
            0x01,                                // entryCount
            0x19,                                // entryType ParamQuery
            0x0F,                                // entryLength 15
            selector,                            // offset 17: selector
            0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // offsets 18 to 31 zero
        };
        // clang-format on
        ASSERT_EQ(golden.size(), 32u);
        EXPECT_TRUE(sendParamQuery(0, hostMac0.data(), broadcast.data(), selector));
        EXPECT_EQ(only(), onWire(golden));
    }
}

TEST_F(BuilderTest, LinkStatsQueryAnnouncesMoreThanItCarries)
{
    // clang-format off
    const Bytes golden = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // destination: broadcast
        0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // source: ownMac
        0x88, 0x7B,                          // Ethertype
        0x01,                                // entryCount
        0x1A,                                // entryType LinkStatsQuery
        0xBB,                                // entryLength 187, of which 21 are sent
        0x80,                                // offset 17: request mark
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // offsets 18 to 37
    };
    // clang-format on
    ASSERT_EQ(golden.size(), 38u);
    EXPECT_TRUE(sendLinkStatsQuery(0, hostMac0.data(), broadcast.data()));
    EXPECT_EQ(only(), onWire(golden));
}

TEST_F(BuilderTest, DiscoveryProbeSourceNeedsAllSixDeviceBytes)
{
    // Header shared by both probes; the source is filled in per case.
    struct Case {
        Mac deviceMac;
        Mac expectedSource;
        // clang-format off
    } cases[] = {
        {{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x00}, hostMac0},  // one zero byte: not yet known
        {{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, hostMac0},
        {{0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, hostMac0},
        {{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}, {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::memcpy(adapters[0].deviceMac, c.deviceMac.data(), 6);
        EXPECT_TRUE(sendDiscoveryProbe(0));
        Bytes wire = only();
        // clang-format off
        Bytes golden = {
            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // destination: broadcast
            c.expectedSource[0], c.expectedSource[1], c.expectedSource[2],
            c.expectedSource[3], c.expectedSource[4], c.expectedSource[5],  // source
            0x88, 0x7B,  // Ethertype
            0x01,        // entryCount
            0x1A,        // entryType DiscoveryProbe
            0xBB,        // entryLength 187
            0x80,        // offset 17: request mark
        };
        // clang-format on
        golden.resize(204, 0x00);  // the whole 187-byte body, zero after the mark
        EXPECT_EQ(wire, golden);
    }
    // The probe uses the adapter's own entry, not adapter 0's.
    std::memcpy(adapters[1].deviceMac, deviceMac1.data(), 6);
    EXPECT_TRUE(sendDiscoveryProbe(1));
    ASSERT_EQ(zsim::sentFrames().size(), 1u);
    EXPECT_EQ(zsim::sentFrames()[0].adapter, 1);
    EXPECT_EQ(macAt(zsim::sentFrames()[0].bytes.data() + 6), deviceMac1);
}

TEST_F(BuilderTest, ControlFrame)
{
    // clang-format off
    const Bytes golden = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // destination: broadcast
        0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // source: ownMac
        0x88, 0x7B,                          // Ethertype
        0x01,                                // entryCount
        0x1F,                                // entryType ControlFrame
        0x03,                                // entryLength 3
        0x42, 0x05, 0x01,                    // controlFlags, controlMark, controlValue
    };
    // clang-format on
    EXPECT_TRUE(sendControlFrame(0, hostMac0.data(), broadcast.data(), 0x42, 0x05, 0x01));
    EXPECT_EQ(only(), onWire(golden));
}

TEST_F(BuilderTest, SetKeyFrameOneAndTwoEntryForms)
{
    const uint8_t key[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    referenceBlock[23] = 0x02;
    referenceBlock[24] = 0x04;

    // clang-format off
    const Bytes oneEntry = {
        0x02, 0x77, 0x88, 0x99, 0xAA, 0xBB,  // destination: a remote device
        0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // source: ownMac
        0x88, 0x7B,                          // Ethertype
        0x01,                                // entryCount 1
        0x04, 0x09,                          // SetKeyEntry, length 9
        0x01,                                // keySelect 1
        0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,  // key, byte 0 first
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // offsets 26 to 31 zero: no ControlEntry
    };
    // clang-format on
    EXPECT_TRUE(setKey(0, {.source = hostMac0.data(),
                           .destination = remoteMac.data(),
                           .keySelect = 1,
                           .key = key,
                           .controlValue = 0x01}));
    EXPECT_EQ(only(), onWire(oneEntry));

    // clang-format off
    const Bytes twoEntries = {
        0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // destination: broadcast
        0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // source: ownMac
        0x88, 0x7B,                          // Ethertype
        0x02,                                // entryCount 2
        0x04, 0x09,                          // SetKeyEntry, length 9
        0x00,                                // keySelect 0
        0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,  // key
        0x1F, 0x03,                          // ControlEntry, length 3
        0x42,                                // controlFlags: 0x02 from the block, 0x40 always
        0x05,                                // controlMark: 0x04 from the block, 0x01 provisional
        0x00,                                // controlValue
        0x00,                                // offset 31
    };
    // clang-format on
    EXPECT_TRUE(setKey(0, {.source = hostMac0.data(),
                           .destination = broadcast.data(),
                           .keySelect = 0,
                           .key = key,
                           .controlValue = 0x00,
                           .withControl = true,
                           .provisional = true}));
    EXPECT_EQ(only(), onWire(twoEntries));
}

TEST_F(BuilderTest, RefusedSendsReportFalse)
{
    zsim::setSendMode(0, zsim::SendMode::fails);
    EXPECT_FALSE(sendStationQuery(0, hostMac0.data(), broadcast.data()));
    EXPECT_FALSE(sendParamQuery(0, hostMac0.data(), broadcast.data(), 0));
    EXPECT_FALSE(sendLinkStatsQuery(0, hostMac0.data(), broadcast.data()));
    EXPECT_FALSE(sendDiscoveryProbe(0));
    EXPECT_FALSE(sendControlFrame(0, hostMac0.data(), broadcast.data(), 0x40, 0x01, 0x01));
    EXPECT_TRUE(zsim::sentFrames().empty());
    EXPECT_TRUE(sendStationQuery(1, hostMac1.data(), broadcast.data()));
}

}  // namespace
