#pragma once
// Frames as a device sends them back, for tests on the simulated driver.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace simframes {

using Bytes = std::vector<uint8_t>;
using Mac = std::array<uint8_t, 6>;

constexpr Mac broadcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr Mac hostMac0 = {0x00, 0x50, 0x8B, 0x00, 0x00, 0x01};
constexpr Mac deviceMac0 = {0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

inline Mac macAt(const uint8_t* p)
{
    Mac m;
    std::memcpy(m.data(), p, 6);
    return m;
}

// A management frame with one entry; the body starts at offset 17.
inline Bytes frame(const Mac& dst, const Mac& src, uint8_t type, uint8_t length, const Bytes& body = {},
                   size_t total = 60)
{
    Bytes f(std::max<size_t>(total, 17 + body.size()), 0);
    std::memcpy(f.data(), dst.data(), 6);
    std::memcpy(f.data() + 6, src.data(), 6);
    f[12] = 0x88;
    f[13] = 0x7B;
    f[14] = 1;
    f[15] = type;
    f[16] = length;
    std::copy(body.begin(), body.end(), f.begin() + 17);
    f.resize(total);
    return f;
}

// A 50-byte parameter block with no two equal leading bytes.
inline Bytes block(uint8_t seed)
{
    Bytes b(50);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<uint8_t>(seed + 3 * i);
    return b;
}

}  // namespace simframes
