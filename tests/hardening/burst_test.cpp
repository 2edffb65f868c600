// A burst that fills the receive ring while `busy` holds the monitor idle is
// handled whole by the next tick, through the kernel.
#include "bench/burst.h"
#include "support/netns.h"

#include <gtest/gtest.h>

TEST(Burst, OneTickHandlesAFullRing)
{
    std::string why;
    if (!testsupport::enterPrivateNetns(&why))
        GTEST_SKIP() << "no private network namespace: " << why;
    for (int round = 0; round < 3; ++round) {
        burst::Result r = burst::run(512);
        ASSERT_TRUE(r.ok) << r.why;
        EXPECT_EQ(r.handled, 512) << "round " << round;
    }
}
