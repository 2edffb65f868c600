#pragma once
// Shared by the management-message tests: adapters on the simulated driver,
// the virtual clock, and small builders for the frames a device sends back.
#include "mme/exchange.h"
#include "frames/frame.h"
#include "mme/intake.h"
#include "link/link.h"
#include "platform/platform.h"
#include "link/session.h"
#include "zentrik/sim.h"
#include "platform/simclock.h"
#include "platform/timers.h"

#include "support/sim_frames.h"
#include "support/system_state.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace mmetest {

using namespace simframes;

constexpr Mac hostMac1 = {0x00, 0x50, 0x8B, 0x00, 0x00, 0x02};
constexpr Mac deviceMac1 = {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x6F};
constexpr Mac remoteMac = {0x02, 0x77, 0x88, 0x99, 0xAA, 0xBB};
constexpr Mac strangerMac = {0x02, 0x44, 0x44, 0x44, 0x44, 0x44};

inline Bytes paramReply(const Mac& dst, const Mac& src, uint8_t kind, const Bytes& blk, uint8_t length = 0x33,
                        size_t total = 68)
{
    Bytes body{kind};
    body.insert(body.end(), blk.begin(), blk.end());
    return frame(dst, src, 0x19, length, body, total);
}

inline Bytes linkStatsReply(const Mac& dst, const Mac& src, uint8_t typeCode, size_t total = 204)
{
    return frame(dst, src, 0x1A, 0xBB, {typeCode}, total);
}

inline Bytes stationReply(const Mac& dst, const Mac& src) { return frame(dst, src, 0x08, 6, Bytes(src.begin(), src.end())); }

inline std::vector<std::string> readLines(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

// Event lines of plc.log (every second line), without their CR.
inline std::vector<std::string> logEvents()
{
    std::vector<std::string> events;
    std::vector<std::string> lines = readLines("plc.log");
    for (size_t i = 1; i < lines.size(); i += 2) {
        std::string l = lines[i];
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        events.push_back(l);
    }
    return events;
}

inline std::string hexBlock(const uint8_t* b)
{
    std::string s;
    char part[4];
    for (int i = 0; i < 50; ++i) {
        std::snprintf(part, sizeof part, " %.2x", b[i]);
        s += part;
    }
    return s;
}

class MmeFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::resetSystemState();
        zsim::reset();
        simclock::reset();
        busy = 0;
        std::remove("plc.log");
    }
    void TearDown() override
    {
        closeAdapters();
        zsim::reset();
        std::remove("plc.log");
    }
    static void addSimAdapters(int count)
    {
        const Mac macs[2] = {hostMac0, hostMac1};
        for (int i = 0; i < count; ++i)
            zsim::addAdapter("eth" + std::to_string(i), macs[i].data());
    }
    void open(int count)
    {
        addSimAdapters(count);
        ASSERT_EQ(openAdapters(), 1);
        ASSERT_EQ(adapterCount, count);
        zsim::clearSent();
    }
    // The frames that went out, as sent on the wire.
    std::vector<Bytes> sent(int adapter = -1) const
    {
        std::vector<Bytes> out;
        for (const auto& s : zsim::sentFrames())
            if (adapter < 0 || s.adapter == adapter)
                out.push_back(s.bytes);
        return out;
    }
    // Lets late replies arrive and drops every frame waiting in the rings.
    static void drain()
    {
        simclock::advance(1000);
        uint8_t buffer[1500];
        while (receiveFrame(buffer))
            ;
    }
    static size_t countType(const std::vector<Bytes>& frames, uint8_t type)
    {
        size_t n = 0;
        for (const auto& f : frames)
            n += f.size() > 15 && f[15] == type;
        return n;
    }
};

}  // namespace mmetest
