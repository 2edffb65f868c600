// The model behind the simulated driver: a frame sent through zentrik reaches
// the model, and its replies come back on the same adapter after their delay
// on the virtual clock.
#include "frames/frame.h"
#include "zentrik/sim.h"
#include "emulator/sim_attach.h"
#include "platform/simclock.h"
#include "zentrik/zentrik.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const emu::Mac hostMac[] = {{0x02, 0xB7, 0x1C, 0x00, 0x00, 0x01}, {0x02, 0xB7, 0x1C, 0x00, 0x00, 0x02}};
const emu::Mac deviceMac[] = {{0x02, 0xB7, 0x1C, 0x10, 0x1D, 0x01}, {0x02, 0xB7, 0x1C, 0x10, 0x1D, 0x02}};

class SimAttach : public ::testing::Test {
protected:
    void SetUp() override
    {
        zsim::reset();
        simclock::reset();
        for (int i = 0; i < 2; ++i) {
            emu::EmulatedAdapter a;
            a.interfaceName = "plc" + std::to_string(i);
            a.hostMac = hostMac[i];
            a.device = emu::makeDevice(deviceMac[i], static_cast<uint8_t>(i + 1), "ZP6J-4LAV-8EMQ");
            a.device.replyDelayMs = 40;
            net.addAdapter(a);
        }
        emu::addSimAdapters(net);
        emu::attachToSimDriver(net);
        for (int i = 0; i < 2; ++i) {
            handle[i] = W32N_OpenAdapterA(net.adapter(i).interfaceName.c_str());
            ASSERT_GE(handle[i], 0);
            event[i] = CreateEventA(nullptr, 1, 0, nullptr);
            read[i].hEvent = CreateEventA(nullptr, 1, 0, nullptr);
            putU32(record[i], readrec::bufferSize, readrec::preparedBufferSize);
            ASSERT_TRUE(W32N_PacketRead(handle[i], record[i], nullptr, &read[i], 0));
        }
    }

    void TearDown() override
    {
        for (int i = 0; i < 2; ++i) {
            W32N_CloseAdapter(handle[i]);
            CloseHandle(event[i]);
            CloseHandle(read[i].hEvent);
        }
        zsim::reset();
    }

    void sendParamQuery(int adapter)
    {
        uint8_t f[32] = {};
        std::memset(f, 0xFF, 6);
        std::memcpy(f + 6, hostMac[adapter].data(), 6);
        f[12] = 0x88;
        f[13] = 0x7B;
        f[14] = 1;
        f[15] = mme::typeParam;
        f[16] = mme::paramQueryEntryLength;
        f[17] = mme::selectorEeprom;
        OVERLAPPED o;
        o.hEvent = event[adapter];
        ASSERT_TRUE(W32N_PacketSend(handle[adapter], f, sizeof f, nullptr, &o));
    }

    bool received(int adapter)
    {
        GetOverlappedResult(handle[adapter], &read[adapter], nullptr, 0);
        return platform::eventIsSet(read[adapter].hEvent);
    }

    emu::Network net;
    int32_t handle[2] = {-1, -1};
    HANDLE event[2] = {};
    OVERLAPPED read[2];
    uint8_t record[2][readrec::size] = {};
};

TEST_F(SimAttach, AddsOneAdapterPerEmulatedAdapterWithItsHostMac)
{
    ASSERT_EQ(zsim::adapterCount(), 2);
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(zsim::isOpen(i));
}

TEST_F(SimAttach, ReplyArrivesOnTheSameAdapterAfterItsDelay)
{
    sendParamQuery(1);
    EXPECT_EQ(zsim::pendingFrames(1), 1);
    EXPECT_EQ(zsim::pendingFrames(0), 0);
    simclock::advance(39);
    EXPECT_FALSE(received(1));
    simclock::advance(1);
    ASSERT_TRUE(received(1));
    EXPECT_FALSE(received(0));
    uint32_t length = getU32(record[1], readrec::frameLength);
    ASSERT_EQ(length, mme::paramReplyLength);
    const uint8_t* f = record[1] + readrec::frame;
    EXPECT_EQ(0, std::memcmp(f + mme::offDestination, hostMac[1].data(), 6));
    EXPECT_EQ(0, std::memcmp(f + mme::offSource, deviceMac[1].data(), 6));
    EXPECT_EQ(f[mme::offBlockKind], mme::blockKindEeprom);
    EXPECT_EQ(0, std::memcmp(f + mme::offParamBlock, net.adapter(1).device.eeprom.data(), 50));
}

TEST_F(SimAttach, DetachedModelAnswersNothing)
{
    emu::detachFromSimDriver();
    sendParamQuery(0);
    simclock::advance(1000);
    EXPECT_FALSE(received(0));
    EXPECT_EQ(zsim::pendingFrames(0), 0);
}

TEST_F(SimAttach, FloodIsQueuedOverTheSpan)
{
    net.adapter(0).device.faults.floodPerSecond = 1000;
    EXPECT_EQ(emu::deliverFlood(net, 0, 50), 50u);
    EXPECT_EQ(zsim::pendingFrames(0), 50);
    EXPECT_EQ(emu::deliverFlood(net, 1, 50), 0u);
    simclock::advance(0);
    EXPECT_TRUE(received(0));  // the first is due at once
    EXPECT_EQ(zsim::pendingFrames(0), 49);
}

}  // namespace
