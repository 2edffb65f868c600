// A burst that fills the receive ring while `busy` holds the monitor idle is
// handled whole by the next tick, through the kernel.
#include "bench/burst.h"
#include "support/netns_test.h"

#include <gtest/gtest.h>

using Burst = testsupport::NetnsTest;

TEST_F(Burst, OneTickHandlesAFullRing)
{
    for (int round = 0; round < 3; ++round) {
        burst::Result r = burst::run(512);
        ASSERT_TRUE(r.ok) << r.why;
        EXPECT_EQ(r.handled, 512) << "round " << round;
    }
}
