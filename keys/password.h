#pragma once
// Password rules, key derivation and random keys. Keys are 8 bytes.
#include <cstddef>
#include <cstdint>

constexpr int passwordMinLength = 4;
constexpr int passwordMaxLength = 24;
constexpr int passwordFieldSize = 25;  // 24 characters and a NUL

constexpr size_t keyLength = 8;
constexpr size_t derivationSaltSize = 8;
// The default network password; makeRandomKey never returns its key.
constexpr char defaultNetworkPassword[] = "TideWell";

// Filled by every deriveKey from eight separate byte constants.
extern uint8_t derivationSalt[derivationSaltSize];

// Valid: 4 to 24 characters from 0x20 to 0x7F. Writes the reason to standard output otherwise.
bool checkPassword(const char* password);
// PBKDF1-MD5, 1000 rounds, 8 bytes, odd parity per byte. Returns digestBuffer:
// copy the first 8 bytes out at once.
uint8_t* deriveKey(const char* password);
// Eight random bytes, drawn again when they equal the key of the default password.
bool makeRandomKey(uint8_t out[8]);
// The draw behind makeRandomKey on the generator as it stands (no seeding):
// 8 bytes from the low bits of rand(), drawn again while they equal avoid.
void drawRandomKeyAvoiding(const uint8_t avoid[8], uint8_t out[8]);
