#pragma once
// Frames as a device sends them, for the network-state tests on the shared
// simulated system.
#include "link/flags.h"
#include "link/link.h"
#include "mme/exchange.h"
#include "mme/intake.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "netstate/stations.h"
#include "platform/platform.h"
#include "platform/simclock.h"
#include "platform/timers.h"
#include "support/sim_system.h"
#include "zentrik/sim.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace nstest {

using namespace simsystem;
using NetstateFixture = SimSystemTest;

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

}  // namespace nstest
