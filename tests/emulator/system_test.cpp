// The model against the system's own discovery and key exchanges on the
// simulated driver: an honest device confirms every key change of "Set Local",
// "Add" and "Set All"; a device that never mirrors leaves SETNEK records.
#include "mme/exchange.h"
#include "mme/intake.h"
#include "link/link.h"
#include "mme/requests.h"
#include "link/flags.h"
#include "zentrik/sim.h"
#include "emulator/sim_attach.h"
#include "platform/simclock.h"
#include "support/wire_oracle.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string keySetLog()
{
    std::ifstream in("plc.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

size_t count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class SystemTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        zsim::reset();
        simclock::reset();
        simclock::setPollCost(500);  // the confirmations poll for 1.6 s each: keep the test quick
        std::memset(adapters, 0, sizeof adapters);
        std::memset(referenceBlock, 0, sizeof referenceBlock);
        selectedAdapter = 0;
        busy.catchUpAndSet(false);
        std::remove("plc.log");
        std::string error;
        ASSERT_TRUE(emu::loadScenario(std::string(SCENARIO_DIR) + "/" + GetParam(), net, &error)) << error;
        emu::addSimAdapters(net);
        emu::attachToSimDriver(net);
    }

    void TearDown() override
    {
        std::vector<wireoracle::Frame> frames;
        for (const zsim::SentFrame& f : zsim::wholeTrace())
            frames.push_back({f.adapter, f.bytes, f.atMicros});
        for (const std::string& broken : wireoracle::check(frames, {}))
            ADD_FAILURE() << "wire rule: " << broken;
        closeAdapters();
        zsim::reset();
        std::remove("plc.log");
    }

    // What the monitor does at second 15: take the kind 1 block as reference.
    void refreshReference()
    {
        sendParamQuery(0, adapters[0].ownMac, mme::broadcastMac, mme::selectorEeprom);
        simclock::advance(50);
        uint8_t frame[1536];
        uint32_t length = 0;
        while (receiveFrame(frame, &length))
            if (frame[mme::offEntryType] == mme::typeParam && frame[mme::offEntryLength] == mme::paramReplyEntryLength)
                handleParamReply(mme::FrameView{frame, length});
    }

    emu::Network net;
};

TEST_P(SystemTest, DiscoveryThenSetLocalAddAndSetAll)
{
    const emu::LocalDevice& device = net.adapter(0).device;
    ASSERT_EQ(bringUpDevices(), 1);
    EXPECT_EQ(adapters[0].deviceType, device.deviceType);
    EXPECT_EQ(adapters[0].paramsSeen, 1);
    EXPECT_EQ(0, std::memcmp(adapters[0].deviceMac, device.mac.data(), 6));
    refreshReference();

    emu::Key network = emu::keyFromPassword("NEW-NETWORK");
    setKey(0, {.source = adapters[0].ownMac,
               .destination = mme::broadcastMac,
               .keySelect = 1,
               .key = network.data(),
               .controlValue = 0x01,
               .withControl = true});  // Set Local
    size_t afterSetLocal = count(keySetLog(), "**SETNEK**");

    emu::Key label = emu::keyFromPassword("KQ7R-2M4X-PL9D");
    const uint8_t temporary[8] = {0x5A, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    uint8_t found[6] = {};
    ASSERT_TRUE(findRemoteDevice(label.data(), temporary, found));  // Add
    const emu::RemoteStation* station = nullptr;
    for (const emu::RemoteStation& s : net.adapter(0).stations)
        if (std::memcmp(s.mac.data(), found, 6) == 0)
            station = &s;
    ASSERT_NE(station, nullptr);
    EXPECT_EQ(station->devicePassword, "KQ7R-2M4X-PL9D");

    setKey(0, {.source = adapters[0].ownMac,
               .destination = mme::broadcastMac,
               .keySelect = 1,
               .key = network.data(),
               .controlValue = 0x01});  // Set All
    EXPECT_TRUE(setRemoteKey(label.data(), network.data(), found));
    uint8_t restore[8];
    std::memcpy(restore, referenceBlock + mme::blockRestoreKey, 8);
    setLocalKeys(restore, network.data());
    EXPECT_EQ(station->networkKey, network);
    EXPECT_EQ(net.adapter(0).device.key0, net.adapter(0).device.deviceKey);

    std::string log = keySetLog();
    if (device.faults.neverConfirms) {
        // three tries for each of the four confirmations
        EXPECT_EQ(afterSetLocal, 3u);
        EXPECT_EQ(count(log, "**SETNEK**"), 10u) << log;  // the log keeps ten records
    } else {
        EXPECT_EQ(log, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, SystemTest, ::testing::Values("home.json", "unconfirmed-key.json"),
                         [](const auto& info) { return std::string(info.param).substr(0, 4); });

}  // namespace
