#include "keys/md5.h"

#include <cstdio>
#include <cstring>

uint8_t digestBuffer[16];

namespace {

constexpr uint8_t padding[64] = {0x80};

inline uint32_t rotateLeft(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// The four rounds' auxiliary functions and steps (RFC 1321, 3.4); the step's
// constant is floor(2^32 * abs(sin(i))) for step i.
inline uint32_t f(uint32_t x, uint32_t y, uint32_t z) { return (x & y) | (~x & z); }
inline uint32_t g(uint32_t x, uint32_t y, uint32_t z) { return (x & z) | (y & ~z); }
inline uint32_t h(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t i(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

inline void ff(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t)
{
    a = b + rotateLeft(a + f(b, c, d) + x + t, s);
}
inline void gg(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t)
{
    a = b + rotateLeft(a + g(b, c, d) + x + t, s);
}
inline void hh(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t)
{
    a = b + rotateLeft(a + h(b, c, d) + x + t, s);
}
inline void ii(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t x, int s, uint32_t t)
{
    a = b + rotateLeft(a + i(b, c, d) + x + t, s);
}

uint32_t loadLittle(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void storeLittle(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

void md5Transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int n = 0; n < 16; ++n)
        x[n] = loadLittle(block + 4 * n);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    // The four rounds line up as the digest's definition tabulates them.
    // clang-format off
    ff(a, b, c, d, x[ 0],  7, 0xd76aa478);
    ff(d, a, b, c, x[ 1], 12, 0xe8c7b756);
    ff(c, d, a, b, x[ 2], 17, 0x242070db);
    ff(b, c, d, a, x[ 3], 22, 0xc1bdceee);
    ff(a, b, c, d, x[ 4],  7, 0xf57c0faf);
    ff(d, a, b, c, x[ 5], 12, 0x4787c62a);
    ff(c, d, a, b, x[ 6], 17, 0xa8304613);
    ff(b, c, d, a, x[ 7], 22, 0xfd469501);
    ff(a, b, c, d, x[ 8],  7, 0x698098d8);
    ff(d, a, b, c, x[ 9], 12, 0x8b44f7af);
    ff(c, d, a, b, x[10], 17, 0xffff5bb1);
    ff(b, c, d, a, x[11], 22, 0x895cd7be);
    ff(a, b, c, d, x[12],  7, 0x6b901122);
    ff(d, a, b, c, x[13], 12, 0xfd987193);
    ff(c, d, a, b, x[14], 17, 0xa679438e);
    ff(b, c, d, a, x[15], 22, 0x49b40821);

    gg(a, b, c, d, x[ 1],  5, 0xf61e2562);
    gg(d, a, b, c, x[ 6],  9, 0xc040b340);
    gg(c, d, a, b, x[11], 14, 0x265e5a51);
    gg(b, c, d, a, x[ 0], 20, 0xe9b6c7aa);
    gg(a, b, c, d, x[ 5],  5, 0xd62f105d);
    gg(d, a, b, c, x[10],  9, 0x02441453);
    gg(c, d, a, b, x[15], 14, 0xd8a1e681);
    gg(b, c, d, a, x[ 4], 20, 0xe7d3fbc8);
    gg(a, b, c, d, x[ 9],  5, 0x21e1cde6);
    gg(d, a, b, c, x[14],  9, 0xc33707d6);
    gg(c, d, a, b, x[ 3], 14, 0xf4d50d87);
    gg(b, c, d, a, x[ 8], 20, 0x455a14ed);
    gg(a, b, c, d, x[13],  5, 0xa9e3e905);
    gg(d, a, b, c, x[ 2],  9, 0xfcefa3f8);
    gg(c, d, a, b, x[ 7], 14, 0x676f02d9);
    gg(b, c, d, a, x[12], 20, 0x8d2a4c8a);

    hh(a, b, c, d, x[ 5],  4, 0xfffa3942);
    hh(d, a, b, c, x[ 8], 11, 0x8771f681);
    hh(c, d, a, b, x[11], 16, 0x6d9d6122);
    hh(b, c, d, a, x[14], 23, 0xfde5380c);
    hh(a, b, c, d, x[ 1],  4, 0xa4beea44);
    hh(d, a, b, c, x[ 4], 11, 0x4bdecfa9);
    hh(c, d, a, b, x[ 7], 16, 0xf6bb4b60);
    hh(b, c, d, a, x[10], 23, 0xbebfbc70);
    hh(a, b, c, d, x[13],  4, 0x289b7ec6);
    hh(d, a, b, c, x[ 0], 11, 0xeaa127fa);
    hh(c, d, a, b, x[ 3], 16, 0xd4ef3085);
    hh(b, c, d, a, x[ 6], 23, 0x04881d05);
    hh(a, b, c, d, x[ 9],  4, 0xd9d4d039);
    hh(d, a, b, c, x[12], 11, 0xe6db99e5);
    hh(c, d, a, b, x[15], 16, 0x1fa27cf8);
    hh(b, c, d, a, x[ 2], 23, 0xc4ac5665);

    ii(a, b, c, d, x[ 0],  6, 0xf4292244);
    ii(d, a, b, c, x[ 7], 10, 0x432aff97);
    ii(c, d, a, b, x[14], 15, 0xab9423a7);
    ii(b, c, d, a, x[ 5], 21, 0xfc93a039);
    ii(a, b, c, d, x[12],  6, 0x655b59c3);
    ii(d, a, b, c, x[ 3], 10, 0x8f0ccc92);
    ii(c, d, a, b, x[10], 15, 0xffeff47d);
    ii(b, c, d, a, x[ 1], 21, 0x85845dd1);
    ii(a, b, c, d, x[ 8],  6, 0x6fa87e4f);
    ii(d, a, b, c, x[15], 10, 0xfe2ce6e0);
    ii(c, d, a, b, x[ 6], 15, 0xa3014314);
    ii(b, c, d, a, x[13], 21, 0x4e0811a1);
    ii(a, b, c, d, x[ 4],  6, 0xf7537e82);
    ii(d, a, b, c, x[11], 10, 0xbd3af235);
    ii(c, d, a, b, x[ 2], 15, 0x2ad7d2bb);
    ii(b, c, d, a, x[ 9], 21, 0xeb86d391);
    // clang-format on

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

void md5Init(Md5Context* context)
{
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
    context->bitCount[0] = 0;
    context->bitCount[1] = 0;
}

void md5Update(Md5Context* context, const uint8_t* bytes, uint32_t length)
{
    uint32_t index = (context->bitCount[0] >> 3) & 0x3F;

    const uint32_t lowBits = length << 3;
    context->bitCount[0] += lowBits;
    if (context->bitCount[0] < lowBits)
        ++context->bitCount[1];
    context->bitCount[1] += length >> 29;

    const uint32_t partLength = 64 - index;
    uint32_t i = 0;
    if (length >= partLength) {
        std::memcpy(context->buffer + index, bytes, partLength);
        md5Transform(context->state, context->buffer);
        for (i = partLength; i + 63 < length; i += 64) {
            std::memcpy(context->buffer, bytes + i, 64);
            md5Transform(context->state, context->buffer);
        }
        index = 0;
    }
    if (length > i)
        std::memcpy(context->buffer + index, bytes + i, length - i);
}

void md5Final(Md5Context* context)
{
    uint8_t bits[8];
    storeLittle(bits, context->bitCount[0]);
    storeLittle(bits + 4, context->bitCount[1]);

    // Pad to 56 mod 64; a tail of 56 or more bytes takes a second block.
    const uint32_t index = (context->bitCount[0] >> 3) & 0x3F;
    const uint32_t padLength = index < 56 ? 56 - index : 120 - index;
    md5Update(context, padding, padLength);
    md5Update(context, bits, 8);

    for (int i = 0; i < 4; ++i)
        storeLittle(digestBuffer + 4 * i, context->state[i]);
    std::memset(context, 0, sizeof *context);
}

uint8_t* md5Digest(const uint8_t* bytes, uint32_t length)
{
    // The whole input is absorbed before md5Final writes digestBuffer, so the
    // input may be digestBuffer itself.
    Md5Context context;
    md5Init(&context);
    md5Update(&context, bytes, length);
    md5Final(&context);
    return digestBuffer;
}

void md5Report(const uint8_t* bytes, uint32_t length, bool printDigest, bool printHeader)
{
    if (printHeader)
        std::printf("MD5 (\"%.*s\") = 0x", int(length), reinterpret_cast<const char*>(bytes));
    md5Digest(bytes, length);
    if (printDigest) {
        printHex(digestBuffer, sizeof digestBuffer);
        std::printf("\n");
    }
}

void printHex(const uint8_t* bytes, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        std::printf("%02x", bytes[i]);
}
