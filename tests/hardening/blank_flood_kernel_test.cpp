// A station floods blank parameter blocks at 20 kHz for 3 s through the kernel:
// every tick takes at most one receive ring, the monitor keeps its cycle, and
// "plc.log" is rewritten at most once per tick, with one record for the flood
// and the unconfirmed key change before it kept. Counted, not timed: the
// frames and the rewrites through wrapped receiveFrame and rename.
#include "bench/blank_flood.h"
#include "frames/frame.h"
#include "keysetlog/keysetlog.h"
#include "link/link.h"
#include "support/saved_files.h"
#include "support/scratch.h"
#include "support/netns_test.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace {

using testsupport::fileText;

using BlankBlockFlood = testsupport::NetnsTest;

TEST_F(BlankBlockFlood, TicksKeepTheCycleAndWriteTheLogOnce)
{
    scratch::Directory dir("brennic-blank-flood");
    ASSERT_TRUE(dir.ok());
    char home[4096];
    ASSERT_NE(getcwd(home, sizeof home), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);

    // An unconfirmed key change, logged before the flood.
    std::array<uint8_t, mme::paramReplyLength> reply{};
    reply[mme::offBlockKind] = mme::blockKindEeprom;
    appendKeySetLog(logSetNek, 2, reply.data());
    const std::string before = fileText("plc.log");

    blankflood::Result r = blankflood::run(20000, 3);
    const std::string after = fileText("plc.log");
    ASSERT_EQ(chdir(home), 0);
    ASSERT_TRUE(r.ok) << r.why;
    EXPECT_EQ(r.framesWritten, 60000);

    int taken = 0, rewrites = 0, fullTicks = 0;
    for (size_t i = 0; i < r.ticks.size(); ++i) {
        const blankflood::Tick& t = r.ticks[i];
        const int n = int(i) + 1;
        EXPECT_LE(t.framesTaken, receiveSlotsPerAdapter) << "tick " << n;
        EXPECT_LE(t.logRewrites, 1) << "tick " << n;
        // No local device: one count a tick, a second every ten.
        EXPECT_EQ(t.monitorTicks, n % 10) << "tick " << n;
        EXPECT_EQ(t.monitorSecond, n / 10) << "tick " << n;
        taken += t.framesTaken;
        rewrites += t.logRewrites;
        fullTicks += t.framesTaken == receiveSlotsPerAdapter;
    }
    EXPECT_EQ(r.ticks.size(), 32u);
    EXPECT_GT(fullTicks, 0) << "the flood never filled a tick's take: " << taken << " frames in all";
    // One station, one block kind, one cycle: one record, one rewrite.
    EXPECT_EQ(rewrites, 1);
    ASSERT_GT(after.size(), before.size());
    EXPECT_EQ(after.substr(0, before.size()), before);
    EXPECT_EQ(std::count(after.begin(), after.end(), '\n'), 4);
    EXPECT_NE(after.find("**EEPROM** ff ff ff"), std::string::npos) << after;
}

}  // namespace
