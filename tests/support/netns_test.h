#pragma once
// A fixture for tests that open interfaces: each test runs in a network
// namespace of the process's own, holding only the TAP interfaces it adds,
// and is skipped where the process may not make one.
#include "support/netns.h"
#include "support/tap.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>

namespace testsupport {

class NetnsTest : public ::testing::Test {
protected:
    // A fixture of its own that extends this returns at once when IsSkipped().
    void SetUp() override
    {
        std::string why;
        if (!enterPrivateNetns(&why))
            GTEST_SKIP() << "no private network namespace: " << why;
    }

    // A TAP interface that lasts as long as the test.
    TapDevice& addTap(const std::string& name, const uint8_t mac[6], bool up = true)
    {
        taps.emplace_back();
        std::string why;
        bool made = taps.back().create(name, mac, up, &why);
        EXPECT_TRUE(made) << why;
        return taps.back();
    }

    std::deque<TapDevice> taps;  // a deque: references to earlier ones stay good
};

}  // namespace testsupport
