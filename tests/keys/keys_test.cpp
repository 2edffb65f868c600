#include "keys/md5.h"
#include "keys/password.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

namespace {

using Digest = std::array<uint8_t, 16>;
using Key = std::array<uint8_t, 8>;

const uint8_t* bytesOf(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

std::string hex(const uint8_t* bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

Digest opensslMd5(const uint8_t* bytes, size_t length)
{
    Digest d{};
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(bytes, length, d.data(), &size, EVP_md5(), nullptr), 1);
    EXPECT_EQ(size, 16u);
    return d;
}

Digest lastDigest()
{
    Digest d;
    std::memcpy(d.data(), digestBuffer, 16);
    return d;
}

// The derivation salt of the 1.0 powerline standard, written out on its own.
constexpr uint8_t expectedSalt[8] = {0x08, 0x85, 0x6D, 0xAF, 0x7C, 0xF5, 0x81, 0x85};

int ones(uint8_t b)
{
    int n = 0;
    for (; b != 0; b >>= 1)
        n += b & 1;
    return n;
}

// PBKDF1-MD5 over OpenSSL, 1000 rounds; the full 16-byte last digest.
Digest opensslPbkdf1(const std::string& password)
{
    std::vector<uint8_t> message(password.begin(), password.end());
    message.insert(message.end(), std::begin(expectedSalt), std::end(expectedSalt));
    Digest d = opensslMd5(message.data(), message.size());
    for (int i = 1; i < 1000; ++i)
        d = opensslMd5(d.data(), d.size());
    return d;
}

Key derived(const char* password)
{
    Key k;
    std::memcpy(k.data(), deriveKey(password), 8);
    return k;
}

// RFC 1321, appendix A.5.
TEST(Md5, RfcTestSuite)
{
    struct Case {
        const char* input;
        const char* digest;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Case& c : cases) {
        const std::string input = c.input;
        uint8_t* result = md5Digest(bytesOf(input), uint32_t(input.size()));
        EXPECT_EQ(result, digestBuffer);
        EXPECT_EQ(hex(digestBuffer, 16), c.digest) << "MD5(\"" << input << "\")";
    }
}

TEST(Md5, MatchesOpensslOnRandomInputsAndSplitUpdates)
{
    std::mt19937 rng(1321);
    for (int trial = 0; trial < 400; ++trial) {
        const size_t length = rng() % 201;
        std::vector<uint8_t> input(length);
        for (auto& b : input)
            b = uint8_t(rng());
        const Digest expected = opensslMd5(input.data(), input.size());

        md5Digest(input.data(), uint32_t(length));
        EXPECT_EQ(lastDigest(), expected) << "length " << length;

        // The same bytes in random pieces, empty pieces included.
        Md5Context context;
        md5Init(&context);
        size_t done = 0;
        while (done < length) {
            const size_t piece = std::min(length - done, size_t(rng() % 70));
            md5Update(&context, input.data() + done, uint32_t(piece));
            done += piece;
        }
        md5Final(&context);
        EXPECT_EQ(lastDigest(), expected) << "split, length " << length;
    }
}

TEST(Md5, PaddingBoundaries)
{
    // 55 bytes: padding fits one block; 56 and 63: a second block carries the
    // bit count; 64: the data block is gone through md5Update already.
    for (size_t length : {55u, 56u, 63u, 64u, 119u, 120u, 128u}) {
        const std::vector<uint8_t> input(length, 'x');
        md5Digest(input.data(), uint32_t(length));
        EXPECT_EQ(lastDigest(), opensslMd5(input.data(), length)) << "length " << length;

        Md5Context context;
        md5Init(&context);
        md5Update(&context, input.data(), uint32_t(length));
        EXPECT_EQ(context.bitCount[0], uint32_t(length * 8));
        EXPECT_EQ(context.bitCount[1], 0u);
        md5Final(&context);
        EXPECT_EQ(lastDigest(), opensslMd5(input.data(), length)) << "length " << length;
    }
}

TEST(Md5, BitCountCarriesIntoHighWord)
{
    Md5Context context;
    md5Init(&context);
    context.bitCount[0] = 0xFFFFFFF8;  // one byte short of the carry
    const uint8_t two[2] = {1, 2};
    md5Update(&context, two, 2);
    EXPECT_EQ(context.bitCount[0], 8u);
    EXPECT_EQ(context.bitCount[1], 1u);
}

TEST(Md5, DigestOfDigestBufferItselfAndOverwrite)
{
    const std::string abc = "abc";
    md5Digest(bytesOf(abc), 3);
    const Digest first = lastDigest();
    const Digest expected = opensslMd5(first.data(), 16);

    md5Digest(digestBuffer, 16);
    EXPECT_EQ(lastDigest(), expected);
    EXPECT_NE(lastDigest(), first);
}

TEST(Md5, ReportAndPrintHex)
{
    const std::string abc = "abc";
    testing::internal::CaptureStdout();
    md5Report(bytesOf(abc), 3, false, false);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(hex(digestBuffer, 16), "900150983cd24fb0d6963f7d28e17f72");

    testing::internal::CaptureStdout();
    md5Report(bytesOf(abc), 3, true, true);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "MD5 (\"abc\") = 0x900150983cd24fb0d6963f7d28e17f72\n");

    const uint8_t bytes[3] = {0x00, 0x0a, 0xff};
    testing::internal::CaptureStdout();
    printHex(bytes, 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "000aff");
}

TEST(Password, Boundaries)
{
    struct Case {
        std::string password;
        bool valid;
        const char* message;
    };
    const char* lengthMessage = "Password length illegal, use 4-24 chars\n";
    const char* characterMessage = "Illegal character in password, CTRL and ALT characters not allowed.\n";
    const Case cases[] = {
        {"abcd", true, ""},
        {std::string(24, 'z'), true, ""},
        {"abc", false, lengthMessage},
        {std::string(25, 'z'), false, lengthMessage},
        {"", false, lengthMessage},
        {"ab\tcd", false, characterMessage},
        {"abc\x1f", false, characterMessage},
        {"abc\x80", false, characterMessage},
        {"abc\xff", false, characterMessage},
        {"abc\x7f", true, ""},
        {" ~ ~", true, ""},
        {"a\t", false, lengthMessage},  // the length rule comes first
        {std::string(25, '\x01'), false, lengthMessage},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStdout();
        const bool valid = checkPassword(c.password.c_str());
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(valid, c.valid) << "\"" << c.password << "\"";
        EXPECT_EQ(out, c.message) << "\"" << c.password << "\"";
    }

    testing::internal::CaptureStdout();
    EXPECT_FALSE(checkPassword(nullptr));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "No password was entered...exiting\n");
}

TEST(DeriveKey, MatchesPbkdf1OverOpensslWithOddParity)
{
    const char* passwords[] = {"TideWell", "abcd", "HouseWiring", " ~!\x7f", "012345678901234567890123"};
    for (const char* password : passwords) {
        const Digest reference = opensslPbkdf1(password);
        uint8_t* result = deriveKey(password);
        ASSERT_EQ(result, digestBuffer);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(ones(result[i]) % 2, 1) << password << " byte " << i;
            EXPECT_EQ(result[i] & 0xFE, reference[i] & 0xFE) << password << " byte " << i;
            const uint8_t withParity =
                (ones(reference[i] & 0xFE) % 2 == 1) ? (reference[i] & 0xFE) : (reference[i] | 1);
            EXPECT_EQ(result[i], withParity) << password << " byte " << i;
        }
        // Bytes 8 to 15 stay as the thousandth digest left them.
        EXPECT_EQ(std::memcmp(result + 8, reference.data() + 8, 8), 0) << password;
    }
    EXPECT_EQ(std::memcmp(derivationSalt, expectedSalt, 8), 0);
}

TEST(DeriveKey, DeterministicAndCaseSensitive)
{
    const Key first = derived("TideWell");
    md5Digest(reinterpret_cast<const uint8_t*>("noise"), 5);
    EXPECT_EQ(derived("TideWell"), first);
    EXPECT_NE(derived("tidewell"), first);
    EXPECT_NE(derived("TIDEWELL"), first);
    EXPECT_NE(derived("TideWel"), first);
}

TEST(RandomKey, SameSecondSameBytesAndSeededFromTheClock)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        Key a, b;
        EXPECT_TRUE(makeRandomKey(a.data()));
        EXPECT_TRUE(makeRandomKey(b.data()));
        const std::time_t after = std::time(nullptr);
        if (before != after)
            continue;  // the second turned over: try again
        EXPECT_EQ(a, b);

        std::srand(unsigned(before));
        Key expected;
        for (auto& byte : expected)
            byte = uint8_t(std::rand() & 0xFF);
        if (expected != derived(defaultNetworkPassword)) {
            EXPECT_EQ(a, expected);
        }
        return;
    }
    FAIL() << "the clock kept changing second";
}

TEST(RandomKey, NeverTheDefaultNetworkKey)
{
    const Key tideWell = derived(defaultNetworkPassword);
    Key key;
    EXPECT_TRUE(makeRandomKey(key.data()));
    EXPECT_NE(key, tideWell);

    // Over many seeds, the draw never yields the default key.
    for (unsigned seed = 0; seed < 2000; ++seed) {
        std::srand(seed);
        drawRandomKeyAvoiding(tideWell.data(), key.data());
        ASSERT_NE(key, tideWell);
    }
}

TEST(RandomKey, RedrawContinuesTheSameSequence)
{
    const unsigned seed = 777;
    std::srand(seed);
    Key firstDraw, secondDraw;
    for (auto& b : firstDraw)
        b = uint8_t(std::rand() & 0xFF);
    for (auto& b : secondDraw)
        b = uint8_t(std::rand() & 0xFF);

    // Avoiding something else keeps the first draw.
    Key other{};
    other[0] = uint8_t(firstDraw[0] ^ 1);
    Key key;
    std::srand(seed);
    drawRandomKeyAvoiding(other.data(), key.data());
    EXPECT_EQ(key, firstDraw);

    // Avoiding the first draw takes the next 8 draws, not a reseeded one.
    std::srand(seed);
    drawRandomKeyAvoiding(firstDraw.data(), key.data());
    EXPECT_EQ(key, secondDraw);
}

TEST(RandomKey, KeepsKeysWithZeroBytes)
{
    // No pattern of bytes is redrawn: with or without zero bytes, the first
    // draw stands.
    const Key tideWell = derived(defaultNetworkPassword);
    for (unsigned seed = 1; seed < 200; ++seed) {
        std::srand(seed);
        Key firstDraw;
        for (auto& b : firstDraw)
            b = uint8_t(std::rand() & 0xFF);
        std::srand(seed);
        Key key;
        drawRandomKeyAvoiding(tideWell.data(), key.data());
        ASSERT_EQ(key, firstDraw) << "seed " << seed;
    }
}

}  // namespace
