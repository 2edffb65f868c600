#pragma once
// Every kernel test runs in a fresh network namespace holding only the TAP
// interfaces it creates; the machine's own adapters are out of reach.
#include "support/netns_test.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

namespace kerneltest {

constexpr uint16_t mgmtType = 0x887B;

inline std::vector<uint8_t> macOf(uint8_t last) { return {0x02, 0x50, 0x8B, 0x00, 0x00, last}; }

// dst broadcast, src 02:50:8b:00:00:ee, the given Ethertype; payload bytes 14..15
// carry a sequence number and the rest a pattern derived from it.
inline std::vector<uint8_t> frameOf(uint16_t type, uint16_t seq, size_t length = 60)
{
    std::vector<uint8_t> f(length);
    std::memset(f.data(), 0xFF, 6);
    const uint8_t src[6] = {0x02, 0x50, 0x8B, 0x00, 0x00, 0xEE};
    std::memcpy(f.data() + 6, src, 6);
    f[12] = static_cast<uint8_t>(type >> 8);
    f[13] = static_cast<uint8_t>(type);
    f[14] = static_cast<uint8_t>(seq >> 8);
    f[15] = static_cast<uint8_t>(seq);
    for (size_t i = 16; i < length; ++i)
        f[i] = static_cast<uint8_t>(seq * 7 + i);
    return f;
}

inline uint16_t seqOf(const uint8_t* frame) { return static_cast<uint16_t>(frame[14] << 8 | frame[15]); }

class KernelTest : public testsupport::NetnsTest {
protected:
    testsupport::TapDevice& addTap(const std::string& name, uint8_t macLast, bool up = true)
    {
        return NetnsTest::addTap(name, macOf(macLast).data(), up);
    }
};

// Polls until `take` yields something or the time is up.
template <typename Take>
auto pollFor(Take take, int timeoutMs) -> decltype(take())
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (auto got = take())
            return got;
        if (std::chrono::steady_clock::now() > deadline)
            return take();
    }
}

}  // namespace kerneltest
