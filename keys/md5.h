#pragma once
// MD5 (RFC 1321) in its three steps. Every digest lands in digestBuffer.
#include <cstdint>

struct Md5Context {
    uint32_t state[4];
    uint32_t bitCount[2];  // low word first
    uint8_t buffer[64];
};

extern uint8_t digestBuffer[16];

void md5Init(Md5Context* context);
void md5Update(Md5Context* context, const uint8_t* bytes, uint32_t length);
void md5Final(Md5Context* context);
// The input may be digestBuffer itself.
uint8_t* md5Digest(const uint8_t* bytes, uint32_t length);
void md5Report(const uint8_t* bytes, uint32_t length, bool printDigest, bool printHeader);
void printHex(const uint8_t* bytes, uint32_t count);
