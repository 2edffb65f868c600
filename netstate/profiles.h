#pragma once
// The 16 per-adapter profiles: one 109,312-byte image that is also the byte
// layout of "wizard.data". Plain records with natural alignment give exactly
// the stored offsets; the asserts below hold them to it.
#include "keys/password.h"  // defaultNetworkPassword

#include <bit>
#include <cstddef>
#include <cstdint>

static_assert(std::endian::native == std::endian::little, "the profile image is little-endian");

struct RemoteStation {
    int32_t inUse;
    uint8_t mac[6];
    uint8_t reserved1[30];
    double rateMbps;  // 0.0: no estimate yet
    int32_t seenCount;
    uint8_t reserved2[4];
};

struct DevicePasswordEntry {
    char password[25];  // empty: the entry is free
    uint8_t remoteMac[6];
    uint8_t reserved;
    int32_t networkKeySet;
};

constexpr int stationsPerProfile = 100;
constexpr int devicePasswordsPerProfile = 32;
constexpr int profileCount = 16;

struct NetworkProfile {
    int32_t reserved;
    uint8_t adapterMac[6];
    char networkPassword[25];
    uint8_t reserved1[5];
    int32_t localDevicePresent;
    int32_t localDeviceType;
    uint8_t localDeviceMac[6];
    uint8_t reserved2[26];
    RemoteStation stations[stationsPerProfile];
    DevicePasswordEntry devicePasswords[devicePasswordsPerProfile];
};

static_assert(sizeof(RemoteStation) == 56);
static_assert(offsetof(RemoteStation, mac) == 4);
static_assert(offsetof(RemoteStation, rateMbps) == 40);
static_assert(offsetof(RemoteStation, seenCount) == 48);
static_assert(sizeof(DevicePasswordEntry) == 36);
static_assert(offsetof(DevicePasswordEntry, remoteMac) == 25);
static_assert(offsetof(DevicePasswordEntry, networkKeySet) == 32);
static_assert(sizeof(NetworkProfile) == 6832);
static_assert(offsetof(NetworkProfile, adapterMac) == 4);
static_assert(offsetof(NetworkProfile, networkPassword) == 10);
static_assert(offsetof(NetworkProfile, localDevicePresent) == 40);
static_assert(offsetof(NetworkProfile, localDeviceType) == 44);
static_assert(offsetof(NetworkProfile, localDeviceMac) == 48);
static_assert(offsetof(NetworkProfile, stations) == 80);
static_assert(offsetof(NetworkProfile, devicePasswords) == 5680);

constexpr size_t profileImageSize = sizeof(NetworkProfile) * profileCount;
static_assert(profileImageSize == 109312);

extern NetworkProfile profiles[profileCount];

constexpr const char* profileFileName = "wizard.data";

void loadProfiles();
// Replaces "wizard.data" atomically; false (and a line on standard error) when it could not.
bool saveProfiles();
// The system's error text of the last failed save ("Permission denied"), for the box that says so.
const char* lastSaveError();
// No file refused by a load, no failed save: as a fresh process has it.
void resetProfileFileState();
int startSession();
// Adapters the last startSession opened, kept when a failed start has closed them again.
extern int startAdapterCount;

int findDevicePassword(const char* text);  // -1 when no entry holds it
int hasDevicePassword(const char* text);
int firstFreeDevicePassword();  // -1 when all 32 are in use

// Field text of at most the field's size, whether or not the field holds a NUL.
size_t fieldLength(const char* field, size_t size);

// The file's byte encoding: every 0x0A stored as 0x0D 0x0A.
size_t encodeProfileImage(const uint8_t* image, size_t size, uint8_t* out);  // out: at least 2 * size
// Decodes into image until `capacity` bytes are produced or the input ends; returns bytes produced.
size_t decodeProfileImage(const uint8_t* in, size_t inSize, uint8_t* image, size_t capacity);

// Empties a station table: inUse and rate cleared, mac and seenCount kept.
void clearStations(NetworkProfile& profile);
