#pragma once
// Shared by the network-state tests: a clean profile table, adapters on the
// simulated driver and frames as a device sends them.
#include "mme/exchange.h"
#include "mme/intake.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "platform/platform.h"
#include "netstate/profiles.h"
#include "link/session.h"
#include "zentrik/sim.h"
#include "platform/simclock.h"
#include "netstate/stations.h"
#include "platform/timers.h"

#include "support/sim_frames.h"
#include "support/system_state.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace nstest {

using namespace simframes;


inline Mac station(int i) { return {0x02, 0x55, 0x00, 0x00, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}; }

inline Bytes stationReply(const Mac& src, const Mac& dst = hostMac0) { return frame(dst, src, 0x08, 6); }

struct Listed {
    Mac mac;
    uint16_t linkValue;
};

// A LinkStatsReply with the given station records (at most 15), cut to `total` bytes.
inline Bytes linkStatsReply(const std::vector<Listed>& records, size_t total = 204, uint8_t typeCode = 0x01)
{
    Bytes f = frame(hostMac0, deviceMac0, 0x1A, 0xBB, {typeCode}, 204);
    for (size_t j = 0; j < records.size(); ++j) {
        size_t at = 24 + 12 * j;
        std::memcpy(f.data() + at, records[j].mac.data(), 6);
        f[at + 6] = static_cast<uint8_t>(records[j].linkValue & 0xFF);
        f[at + 7] = static_cast<uint8_t>(records[j].linkValue >> 8);
    }
    f.resize(total);
    return f;
}

inline Bytes paramReply(uint8_t kind, const Bytes& blk)
{
    Bytes body{kind};
    body.insert(body.end(), blk.begin(), blk.end());
    return frame(hostMac0, deviceMac0, 0x19, 0x33, body, 68);
}

inline Bytes readFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const char* path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline uint8_t* image() { return reinterpret_cast<uint8_t*>(profiles); }
inline Bytes imageCopy() { return Bytes(image(), image() + profileImageSize); }

// Records what the monitor draws.
class RecordingView : public MonitorView {
public:
    int steps = 0;
    std::vector<LinkQuality> qualities;
    std::vector<std::vector<StationRow>> lists;
    int scanDialogEnds = 0;
    void stepProgressBars() override { ++steps; }
    void showLinkQuality(const LinkQuality& q) override { qualities.push_back(q); }
    void fillStationList(const std::vector<StationRow>& rows) override { lists.push_back(rows); }
    void endScanDialog() override { ++scanDialogEnds; }
};

class NetstateFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::resetSystemState();
        zsim::reset();
        simclock::reset();
        busy = 0;
        std::remove("wizard.data");
        std::remove("plc.log");
    }
    void TearDown() override
    {
        setMonitorView(nullptr);
        closeAdapters();
        zsim::reset();
        platform::clearTimers();
        std::remove("wizard.data");
        std::remove("plc.log");
    }
    RemoteStation* table() { return profiles[selectedAdapter].stations; }
    void use(int i, const Mac& mac, double rate = 0.0, int seen = 0)
    {
        RemoteStation& s = table()[i];
        s.inUse = 1;
        std::memcpy(s.mac, mac.data(), 6);
        s.rateMbps = rate;
        s.seenCount = seen;
    }
};

}  // namespace nstest
