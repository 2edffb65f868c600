#pragma once
// Replies as a device sends them, for the management-message tests on the
// shared simulated system.
#include "frames/frame.h"
#include "link/flags.h"
#include "link/link.h"
#include "mme/exchange.h"
#include "mme/intake.h"
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

namespace mmetest {

using namespace simsystem;
using MmeFixture = SimSystemTest;

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

inline Bytes stationReply(const Mac& dst, const Mac& src)
{
    return frame(dst, src, 0x08, 6, Bytes(src.begin(), src.end()));
}

}  // namespace mmetest
