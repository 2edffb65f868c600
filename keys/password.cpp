#include "keys/password.h"

#include "keys/md5.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr int derivationRounds = 1000;

// The salt that the 1.0 powerline standard fixes for deriving keys from
// passwords, kept as separate bytes and assembled at run time.
constexpr uint8_t salt0 = 0x08;
constexpr uint8_t salt1 = 0x85;
constexpr uint8_t salt2 = 0x6D;
constexpr uint8_t salt3 = 0xAF;
constexpr uint8_t salt4 = 0x7C;
constexpr uint8_t salt5 = 0xF5;
constexpr uint8_t salt6 = 0x81;
constexpr uint8_t salt7 = 0x85;

void assembleSalt(uint8_t salt[derivationSaltSize])
{
    salt[0] = salt0;
    salt[1] = salt1;
    salt[2] = salt2;
    salt[3] = salt3;
    salt[4] = salt4;
    salt[5] = salt5;
    salt[6] = salt6;
    salt[7] = salt7;
}

// DES parity: bit 0 makes the count of 1 bits odd.
uint8_t withOddParity(uint8_t byte)
{
    int ones = 0;
    for (int bit = 1; bit < 8; ++bit)
        ones += (byte >> bit) & 1;
    return ones % 2 != 0 ? uint8_t(byte & 0xFE) : uint8_t(byte | 0x01);
}

void drawKey(uint8_t out[keyLength])
{
    for (size_t i = 0; i < keyLength; ++i)
        out[i] = uint8_t(std::rand() & 0xFF);
}

}  // namespace

uint8_t derivationSalt[derivationSaltSize];

bool checkPassword(const char* password)
{
    if (password == nullptr) {
        std::printf("No password was entered...exiting\n");
        return false;
    }
    const size_t length = std::strlen(password);
    if (length < size_t(passwordMinLength) || length > size_t(passwordMaxLength)) {
        std::printf("Password length illegal, use 4-24 chars\n");
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = uint8_t(password[i]);
        if (c < 0x20 || c > 0x7F) {
            std::printf("Illegal character in password, CTRL and ALT characters not allowed.\n");
            return false;
        }
    }
    return true;
}

uint8_t* deriveKey(const char* password)
{
    if (password == nullptr)
        password = "";
    assembleSalt(derivationSalt);

    // PBKDF1: T1 = MD5(password || salt), Ti = MD5(Ti-1). Two updates give
    // the digest of the joined message without a buffer of bounded size.
    Md5Context context;
    md5Init(&context);
    md5Update(&context, reinterpret_cast<const uint8_t*>(password), uint32_t(std::strlen(password)));
    md5Update(&context, derivationSalt, derivationSaltSize);
    md5Final(&context);
    for (int round = 1; round < derivationRounds; ++round)
        md5Digest(digestBuffer, sizeof digestBuffer);

    for (size_t i = 0; i < keyLength; ++i)
        digestBuffer[i] = withOddParity(digestBuffer[i]);
    return digestBuffer;
}

void drawRandomKeyAvoiding(const uint8_t avoid[keyLength], uint8_t out[keyLength])
{
    // The draws go on from the generator's current sequence; no reseeding.
    do
        drawKey(out);
    while (std::memcmp(out, avoid, keyLength) == 0);
}

bool makeRandomKey(uint8_t out[keyLength])
{
    uint8_t defaultKey[keyLength];
    std::memcpy(defaultKey, deriveKey(defaultNetworkPassword), keyLength);

    std::srand(unsigned(std::time(nullptr)));
    // One draw, whatever its bytes: a zero byte makes a key neither weaker nor
    // stronger. What the caller (findRemoteDevice) needs is a key that no device
    // already holds; the one key known to be held everywhere is that of "TideWell".
    drawRandomKeyAvoiding(defaultKey, out);
    return true;
}
