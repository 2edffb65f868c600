// Discovery of the local devices on the virtual clock, with scripted devices.
#include "replies.h"
#include "mme/requests.h"
#include "emulator/sim_attach.h"

using namespace mmetest;

namespace {

// A scripted device behind one adapter: what it answers to each probe and query.
struct ScriptedDevice {
    Mac mac = deviceMac0;
    uint8_t type = 1;
    // Per DiscoveryProbe, in order: reply self-addressed, to the asker, or not at all.
    enum Answer { self, toAsker, none };
    std::vector<Answer> probeAnswers;
    Answer lastAnswer = none;  // for probes beyond the list
    Answer paramAnswer = toAsker;
    uint32_t delayMs = 3;
    int probes = 0;
    int paramQueries = 0;
};

class DiscoveryTest : public MmeFixture {
protected:
    ScriptedDevice devices[2];
    bool attached[2] = {false, false};

    void attach()
    {
        zsim::setSendHook([this](int a, const uint8_t* f, size_t n) {
            if (a > 1 || !attached[a] || n < 18)
                return;
            ScriptedDevice& d = devices[a];
            Mac asker = macAt(f + 6);
            if (f[15] == 0x1A && f[17] == 0x80) {
                ScriptedDevice::Answer answer = d.probes < static_cast<int>(d.probeAnswers.size())
                                                    ? d.probeAnswers[static_cast<size_t>(d.probes)]
                                                    : d.lastAnswer;
                ++d.probes;
                if (answer == ScriptedDevice::self)
                    zsim::deliver(a, linkStatsReply(d.mac, d.mac, d.type), d.delayMs);
                else if (answer == ScriptedDevice::toAsker)
                    zsim::deliver(a, linkStatsReply(asker, d.mac, d.type), d.delayMs);
            } else if (f[15] == 0x19 && f[16] == 0x0F) {
                ++d.paramQueries;
                Mac to = d.paramAnswer == ScriptedDevice::self ? d.mac : asker;
                if (d.paramAnswer != ScriptedDevice::none)
                    zsim::deliver(a, paramReply(to, d.mac, 1, block(0x30)), d.delayMs);
            }
        });
    }
};

TEST_F(DiscoveryTest, SecondProbeFromTheLearnedAddressSucceeds)
{
    open(1);
    devices[0].type = 2;
    devices[0].probeAnswers = {ScriptedDevice::toAsker, ScriptedDevice::self};
    devices[0].paramAnswer = ScriptedDevice::self;
    attached[0] = true;
    attach();

    uint32_t start = simclock::now();
    EXPECT_EQ(probeAllAdapters(), 1);
    uint32_t spent = simclock::now() - start;

    std::vector<Bytes> out = sent(0);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(macAt(out[0].data() + 6), hostMac0);    // nothing known yet
    EXPECT_EQ(macAt(out[1].data() + 6), deviceMac0);  // learned from the first reply
    EXPECT_EQ(adapters[0].devicePresent, 1);
    EXPECT_EQ(adapters[0].deviceType, 2);
    EXPECT_EQ(macAt(adapters[0].deviceMac), deviceMac0);
    EXPECT_EQ(adapters[0].probeMisses, 1);
    // The first window runs out (50 ms), the second ends with the reply.
    EXPECT_GE(spent, 50u + devices[0].delayMs);
    EXPECT_LT(spent, 50u + devices[0].delayMs + 5);
}

TEST_F(DiscoveryTest, SilentAdapterCostsAllFiveWindows)
{
    addSimAdapters(1);
    uint64_t start = simclock::nowMicros();
    EXPECT_EQ(bringUpDevices(), 0);
    uint64_t spent = simclock::nowMicros() - start;
    // 50 + 450 + 850 + 1250 + 1650 ms, plus the tick polls of the open and the sends.
    EXPECT_GE(spent, 4250000u);
    EXPECT_LT(spent, 4250000u + 5000u);
    std::vector<Bytes> out = sent(0);
    ASSERT_EQ(out.size(), 5u);
    EXPECT_EQ(countType(out, 0x1A), 5u);
    EXPECT_EQ(adapters[0].devicePresent, 0);
    EXPECT_EQ(adapters[0].probeMisses, 1);  // one failed pass from 0
    EXPECT_EQ(zsim::sentFrames()[4].atMs - zsim::sentFrames()[3].atMs, 1250u);
}

TEST_F(DiscoveryTest, UnsupportedKindIsDroppedBehindASupportedOne)
{
    addSimAdapters(2);
    devices[0].type = 1;
    devices[0].lastAnswer = ScriptedDevice::self;
    devices[1].mac = deviceMac1;
    devices[1].type = 4;
    devices[1].lastAnswer = ScriptedDevice::self;
    attached[0] = attached[1] = true;
    attach();

    EXPECT_EQ(bringUpDevices(), 1);
    EXPECT_EQ(adapters[0].devicePresent, 1);
    EXPECT_EQ(adapters[1].devicePresent, 0);
    EXPECT_EQ(adapters[1].deviceType, 4);  // known, but not kept
    EXPECT_EQ(macAt(adapters[1].deviceMac), deviceMac1);
    EXPECT_GE(devices[0].paramQueries, 1);  // re-probed
    EXPECT_EQ(devices[1].paramQueries, 0);
    EXPECT_EQ(countType(sent(1), 0x19), 0u);
    EXPECT_EQ(adapters[0].paramsSeen, 1);
    EXPECT_EQ(Bytes(adapters[0].deviceParams, adapters[0].deviceParams + 50), block(0x30));

    // Only kind 4 and kind 0: nothing supported.
    closeAdapters();
    devices[0].type = 0;
    EXPECT_EQ(bringUpDevices(), 0);
    EXPECT_EQ(adapters[0].devicePresent, 0);
}

TEST_F(DiscoveryTest, SupportedKinds)
{
    addSimAdapters(1);
    devices[0].lastAnswer = ScriptedDevice::self;
    attached[0] = true;
    attach();
    for (uint8_t type : {0, 1, 2, 3, 4, 0x7F}) {
        SCOPED_TRACE(static_cast<int>(type));
        closeAdapters();
        adapters[0].devicePresent = 0;
        devices[0].type = type;
        int expected = type >= 1 && type <= 3 ? 1 : 0;
        EXPECT_EQ(bringUpDevices(), expected);
        EXPECT_EQ(adapters[0].devicePresent, expected);
    }
}

TEST_F(DiscoveryTest, ProbeMissesSequences)
{
    open(1);
    simclock::setPollCost(2000);  // fewer polls per window; the windows stay the same
    attached[0] = true;
    attach();

    // A success leaves 1 whatever came before.
    for (uint8_t before : {0, 1, 5, 200, 255}) {
        adapters[0].probeMisses = before;
        devices[0].probes = 0;
        devices[0].probeAnswers = {ScriptedDevice::self};
        probeAllAdapters();
        EXPECT_EQ(adapters[0].probeMisses, 1) << static_cast<int>(before);
    }

    // Failed passes from a given start: the pass that finds 5 clears devicePresent.
    struct Case {
        uint8_t start;
        int passesToClear;
    } cases[] = {{1, 5}, {0, 6}, {5, 1}, {250, 12}};
    devices[0].probeAnswers.clear();
    devices[0].lastAnswer = ScriptedDevice::none;
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.start));
        adapters[0].probeMisses = c.start;
        adapters[0].devicePresent = 1;
        for (int pass = 1; pass < c.passesToClear; ++pass) {
            probeAllAdapters();
            ASSERT_EQ(adapters[0].devicePresent, 1) << "pass " << pass;
        }
        EXPECT_EQ(adapters[0].probeMisses, 5);
        probeAllAdapters();
        EXPECT_EQ(adapters[0].devicePresent, 0);
        EXPECT_EQ(adapters[0].probeMisses, 0);
    }
    // From 6 the counter has to wrap before it can clear.
    adapters[0].probeMisses = 254;
    adapters[0].devicePresent = 1;
    probeAllAdapters();
    probeAllAdapters();
    EXPECT_EQ(adapters[0].probeMisses, 0);
    EXPECT_EQ(adapters[0].devicePresent, 1);
}

TEST_F(DiscoveryTest, ReprobeRules)
{
    open(1);
    attached[0] = true;
    attach();
    std::memcpy(adapters[0].deviceMac, deviceMac0.data(), 6);
    adapters[0].devicePresent = 1;

    // A self-addressed answer is a success.
    devices[0].paramAnswer = ScriptedDevice::self;
    adapters[0].probeMisses = 3;
    adapters[0].paramsSeen = 1;
    EXPECT_EQ(reprobeAdapter(0), 1);
    EXPECT_EQ(adapters[0].probeMisses, 1);
    EXPECT_EQ(devices[0].paramQueries, 1);
    EXPECT_EQ(adapters[0].paramsSeen, 1);

    // An answer to ownMac is not self-addressed: three tries, 50 + 54 + 58 ms,
    // and the reply still records the block.
    devices[0].paramAnswer = ScriptedDevice::toAsker;
    devices[0].paramQueries = 0;
    adapters[0].paramsSeen = 0;
    adapters[0].probeMisses = 0;
    std::memset(adapters[0].deviceParams, 0, 50);
    uint64_t start = simclock::nowMicros();
    EXPECT_EQ(reprobeAdapter(0), 1);
    uint64_t spent = simclock::nowMicros() - start;
    EXPECT_GE(spent, 162000u);
    EXPECT_LT(spent, 162000u + 2000u);
    EXPECT_EQ(devices[0].paramQueries, 3);
    EXPECT_EQ(adapters[0].probeMisses, 1);
    EXPECT_EQ(adapters[0].paramsSeen, 1);
    EXPECT_EQ(Bytes(adapters[0].deviceParams, adapters[0].deviceParams + 50), block(0x30));
    for (const Bytes& q : sent(0)) {
        EXPECT_EQ(macAt(q.data()), broadcast);
        EXPECT_EQ(macAt(q.data() + 6), hostMac0);
        EXPECT_EQ(q[17], 0x00);
    }

    // Failed passes: the one that finds 3 clears paramsSeen; devicePresent stays.
    devices[0].paramAnswer = ScriptedDevice::none;
    adapters[0].probeMisses = 1;
    adapters[0].paramsSeen = 1;
    reprobeAdapter(0);
    reprobeAdapter(0);
    EXPECT_EQ(adapters[0].probeMisses, 3);
    EXPECT_EQ(adapters[0].paramsSeen, 1);
    reprobeAdapter(0);
    EXPECT_EQ(adapters[0].probeMisses, 0);
    EXPECT_EQ(adapters[0].paramsSeen, 0);
    EXPECT_EQ(adapters[0].devicePresent, 1);
}

TEST_F(DiscoveryTest, NothingLeavesAnAdapterWhoseAddressIsUnknown)
{
    addSimAdapters(2);
    devices[0].lastAnswer = devices[1].lastAnswer = ScriptedDevice::self;
    devices[1].mac = deviceMac1;
    attached[0] = attached[1] = true;
    attach();
    // The second adapter's query fails after the first one's succeeded.
    zsim::setMacQueryFails(1, true);

    EXPECT_EQ(bringUpDevices(), 1);
    ASSERT_EQ(adapterCount, 1);
    EXPECT_EQ(macAt(adapters[0].ownMac), hostMac0);
    EXPECT_EQ(sent(1).size(), 0u);
    EXPECT_EQ(devices[1].probes, 0);
    std::vector<Bytes> out = sent(0);
    ASSERT_FALSE(out.empty());
    for (const Bytes& f : out) {
        Mac source = macAt(f.data() + 6);
        EXPECT_TRUE(source == hostMac0 || source == deviceMac0);
    }

    // The first adapter's query fails: the second one works under its own address.
    resetSystemState();
    busy.catchUpAndSet(false);
    zsim::clearSent();
    zsim::setMacQueryFails(1, false);
    zsim::setMacQueryFails(0, true);
    devices[1].probes = 0;
    EXPECT_EQ(bringUpDevices(), 1);
    ASSERT_EQ(adapterCount, 1);
    EXPECT_EQ(macAt(adapters[0].ownMac), hostMac1);
    EXPECT_EQ(adapters[0].devicePresent, 1);
    EXPECT_EQ(macAt(adapters[0].deviceMac), deviceMac1);
    EXPECT_EQ(sent(0).size(), 0u);
    EXPECT_EQ(macAt(sent(1).at(0).data() + 6), hostMac1);
}

TEST_F(DiscoveryTest, FramesTakenDuringTheWaitAreDropped)
{
    open(1);
    devices[0].probeAnswers = {ScriptedDevice::self};
    attached[0] = true;
    attach();
    // A StationReply waiting before the probe is classified and dropped.
    zsim::deliver(0, stationReply(hostMac0, strangerMac));
    EXPECT_EQ(waitForSelfAddressedReply(0, 50), 0);
    uint8_t buffer[1500];
    uint32_t length = 0;
    EXPECT_EQ(receiveFrame(buffer, &length), 0);
    sendDiscoveryProbe(0);
    EXPECT_EQ(waitForSelfAddressedReply(0, 50), 1);
    EXPECT_EQ(receiveFrame(buffer, &length), 0);
}

TEST_F(DiscoveryTest, BringUpWithTheEmulator)
{
    emu::Network net;
    emu::EmulatedAdapter a;
    a.interfaceName = "eth0";
    a.hostMac = hostMac0;
    a.device = emu::makeDevice(deviceMac0, 2, "DEVICE-PW-0001");
    net.addAdapter(a);
    emu::addSimAdapters(net);
    emu::attachToSimDriver(net);

    EXPECT_EQ(bringUpDevices(), 1);
    EXPECT_EQ(adapters[0].devicePresent, 1);
    EXPECT_EQ(adapters[0].deviceType, 2);
    EXPECT_EQ(macAt(adapters[0].deviceMac), deviceMac0);
    EXPECT_EQ(adapters[0].paramsSeen, 1);
    EXPECT_EQ(0, std::memcmp(adapters[0].deviceParams, net.adapter(0).device.eeprom.data(), 50));
    emu::detachFromSimDriver();
}

}  // namespace
