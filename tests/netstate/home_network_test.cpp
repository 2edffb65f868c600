// A whole session against the device model, without a user interface: start,
// scan, a new network password, and a remote device brought onto it.
#include "replies.h"
#include "keys/password.h"
#include "emulator/sim_attach.h"

using namespace nstest;

namespace {

const Mac hostMac = {0x02, 0xB7, 0x1C, 0x00, 0x00, 0x01};
const Mac localMac = {0x02, 0xB7, 0x1C, 0x10, 0x1D, 0x01};
const Mac macA = {0x02, 0xB7, 0x1C, 0x20, 0x00, 0x01};
const Mac macB = {0x02, 0xB7, 0x1C, 0x20, 0x00, 0x02};
const Mac macC = {0x02, 0xB7, 0x1C, 0x20, 0x00, 0x03};
const Mac macD = {0x02, 0xB7, 0x1C, 0x20, 0x00, 0x04};
const char* devicePasswordA = "HX4N-7QPC-3VRA";

using Key = std::array<uint8_t, 8>;
Key derived(const char* password)
{
    Key k;
    std::memcpy(k.data(), deriveKey(password), 8);
    return k;
}

class HomeNetworkTest : public NetstateFixture {
protected:
    emu::Network net;
    RecordingView view;

    void SetUp() override
    {
        NetstateFixture::SetUp();
        emu::EmulatedAdapter a;
        a.interfaceName = "plc0";
        a.hostMac = hostMac;
        a.device = emu::makeDevice(localMac, 1, "ZP6J-4LAV-8EMQ");
        a.stations = {emu::makeStation(macA, devicePasswordA, 20), emu::makeStation(macB, "MB2T-9KEW-6JZF", 50),
                      emu::makeStation(macC, "RL8D-5GUY-1SCN", 400),
                      emu::makeStation(macD, "KQ7R-2M4X-PL9D", 140, "Neighbour-7")};
        net.addAdapter(a);
        emu::addSimAdapters(net);
        emu::attachToSimDriver(net);
    }
    void TearDown() override
    {
        emu::detachFromSimDriver();
        NetstateFixture::TearDown();
    }
    // Begins a scan and runs the timers until it has ended.
    uint32_t scan()
    {
        size_t before = view.qualities.size();
        uint32_t start = simclock::now();
        beginNetworkScan();
        while (view.qualities.size() == before && simclock::now() - start < 11000) {
            simclock::advance(1);
            platform::runDueTimers();
        }
        EXPECT_EQ(view.qualities.size(), before + 1);
        return simclock::now() - start;
    }
    std::vector<std::string> macs() const
    {
        std::vector<std::string> m;
        for (const StationRow& r : view.lists.back())
            m.push_back(r.mac);
        return m;
    }
};

TEST_F(HomeNetworkTest, StartScanSetPasswordAndBringARemoteOnto)
{
    ASSERT_EQ(startSession(), 1);
    ASSERT_EQ(adapterCount, 1);
    EXPECT_EQ(adapters[0].devicePresent, 1);
    EXPECT_EQ(adapters[0].paramsSeen, 1);
    EXPECT_EQ(macAt(adapters[0].deviceMac), localMac);
    EXPECT_STREQ(profiles[0].networkPassword, "TideWell");

    // What the Device page does next.
    std::memcpy(profiles[0].adapterMac, adapters[0].ownMac, 6);
    selectedAdapter = 0;
    busy.catchUpAndSet(false);
    setMonitorView(&view);
    ASSERT_NE(SetTimer(monitorIntervalMs, monitorTick), 0u);

    // The first scan: the three stations on the default network, rated from
    // the link values the device measures.
    EXPECT_LT(scan(), 4500u);
    EXPECT_EQ(macs(), (std::vector<std::string>{"02:b7:1c:20:00:01", "02:b7:1c:20:00:02", "02:b7:1c:20:00:03"}));
    EXPECT_EQ(table()[0].rateMbps, rateFromLinkValue(20));
    EXPECT_EQ(table()[1].rateMbps, rateFromLinkValue(50));
    EXPECT_EQ(table()[2].rateMbps, rateFromLinkValue(400));
    const LinkQuality& q = view.qualities.back();
    EXPECT_EQ(q.average, (rateFromLinkValue(20) + rateFromLinkValue(50) + rateFromLinkValue(400)) / 3);
    EXPECT_STREQ(q.ratingText, "Link Quality: Excellent");
    EXPECT_EQ(q.barPosition, linkQualityFor(q.average).barPosition);
    // The monitor has taken the device's block as the reference.
    EXPECT_EQ(0, std::memcmp(referenceBlock, net.adapter(0).device.eeprom.data(), 50));

    // Set Local with a new network password, confirmed by the device.
    const char* networkPassword = "Harbour-Light-9";
    ASSERT_TRUE(checkPassword(networkPassword));
    std::strcpy(profiles[0].networkPassword, networkPassword);
    Key networkKey = derived(networkPassword);
    ASSERT_TRUE(setKey(0, {.source = adapters[0].ownMac,
                           .destination = broadcast.data(),
                           .keySelect = 1,
                           .key = networkKey.data(),
                           .controlValue = 0x01,
                           .withControl = true}));
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(net.adapter(0).device.key1, networkKey);
    EXPECT_TRUE(readFile("plc.log").empty());
    ASSERT_TRUE(saveProfiles());
    scan();
    EXPECT_TRUE(view.lists.back().empty());  // nobody else is on the new network yet
    EXPECT_STREQ(view.qualities.back().ratingText, "Link Quality: Poor");

    // Add device A by its device password.
    Key deviceKeyA = derived(devicePasswordA);
    Key randomKey;
    ASSERT_TRUE(makeRandomKey(randomKey.data()));
    Mac found{};
    ASSERT_TRUE(findRemoteDevice(deviceKeyA.data(), randomKey.data(), found.data()));
    EXPECT_EQ(found, macA);
    int slot = firstFreeDevicePassword();
    ASSERT_EQ(slot, 0);
    std::strcpy(profiles[0].devicePasswords[slot].password, devicePasswordA);
    std::memcpy(profiles[0].devicePasswords[slot].remoteMac, found.data(), 6);

    // Set All: the network key to the local device, then to A, then both local keys back.
    ASSERT_TRUE(setKey(0, {.source = adapters[0].ownMac,
                           .destination = broadcast.data(),
                           .keySelect = 1,
                           .key = networkKey.data(),
                           .controlValue = 0x01}));
    ASSERT_TRUE(setRemoteKey(deviceKeyA.data(), networkKey.data(), macA.data()));
    profiles[0].devicePasswords[slot].networkKeySet = 1;
    EXPECT_EQ(net.adapter(0).stations[0].networkKey, networkKey);
    EXPECT_NE(net.adapter(0).stations[1].networkKey, networkKey);
    uint8_t restoreKey[8];
    std::memcpy(restoreKey, referenceBlock + 6, 8);
    EXPECT_TRUE(setLocalKeys(restoreKey, networkKey.data()));
    EXPECT_EQ(net.adapter(0).device.key0, net.adapter(0).device.deviceKey);
    EXPECT_EQ(net.adapter(0).device.key1, networkKey);
    EXPECT_FALSE(net.adapter(0).device.provisional);
    EXPECT_EQ(busy, 0);
    ASSERT_TRUE(saveProfiles());

    // Every key change was confirmed: no log.
    EXPECT_TRUE(readFile("plc.log").empty());

    scan();
    EXPECT_EQ(macs(), (std::vector<std::string>{"02:b7:1c:20:00:01"}));
    EXPECT_EQ(table()[0].rateMbps, rateFromLinkValue(20));

    // What was saved comes back at the next session start.
    std::memset(profiles, 0, sizeof profiles);
    closeAdapters();
    ASSERT_EQ(startSession(), 1);
    EXPECT_STREQ(profiles[0].networkPassword, networkPassword);
    EXPECT_EQ(findDevicePassword(devicePasswordA), 0);
    EXPECT_EQ(profiles[0].devicePasswords[0].networkKeySet, 1);
    EXPECT_EQ(macAt(profiles[0].devicePasswords[0].remoteMac), macA);
}

}  // namespace
