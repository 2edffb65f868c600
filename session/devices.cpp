#include "session/devices.h"

#include "link/flags.h"
#include "link/link.h"
#include "mme/exchange.h"
#include "netstate/profiles.h"
#include "netstate/stations.h"
#include "session/internal.h"
#include "session/loop.h"
#include "frames/mac.h"

#include <cstring>

namespace session {

namespace {
// The stored network password, NUL-terminated even when the file left it without one.
void storedPassword(char out[passwordFieldSize])
{
    std::memset(out, 0, passwordFieldSize);
    const char* field = profiles[selectedAdapter].networkPassword;
    std::memcpy(out, field, fieldLength(field, passwordMaxLength));
}

// The local device back on its own key and the given network key, after the temporary ones of a search.
void restoreLocalKeys(const uint8_t* networkKey)
{
    uint8_t ownKey[keyLength];
    std::memcpy(ownKey, referenceBlock + mme::blockRestoreKey, keyLength);
    setLocalKeys(ownKey, networkKey);
}

void restoreStoredNetworkKey()
{
    char stored[passwordFieldSize];
    storedPassword(stored);
    uint8_t networkKey[keyLength];
    std::memcpy(networkKey, deriveKey(stored), keyLength);
    restoreLocalKeys(networkKey);
}

void fillStatuses(SetAllResult& result, const bool* reached)
{
    const NetworkProfile& profile = profiles[selectedAdapter];
    for (int i = 0; i < devicePasswordsPerProfile; ++i) {
        const DevicePasswordEntry& entry = profile.devicePasswords[i];
        if (entry.password[0] == 0)
            continue;
        DeviceStatus status;
        status.index = i;
        status.password.assign(entry.password, fieldLength(entry.password, passwordMaxLength));
        status.mac = frames::Mac::of(entry.remoteMac).text();
        status.keySet = entry.networkKeySet != 0;
        status.ok = reached && reached[i];
        result.devices.push_back(std::move(status));
    }
}

// Set All on a password that has passed the rules.
void setAllChecked(const char* password, SetAllResult& result)
{
    int a = selectedAdapter;
    NetworkProfile& profile = profiles[a];
    std::memcpy(profile.networkPassword, password, passwordFieldSize);
    uint8_t networkKey[keyLength];
    std::memcpy(networkKey, deriveKey(profile.networkPassword), keyLength);
    setKey(a, {.source = adapters[a].ownMac,
               .destination = mme::broadcastMac,
               .keySelect = 1,
               .key = networkKey,
               .controlValue = 0x01});

    bool reached[devicePasswordsPerProfile] = {};
    for (int i = 0; i < devicePasswordsPerProfile; ++i) {
        DevicePasswordEntry& entry = profile.devicePasswords[i];
        if (entry.password[0] == 0)
            continue;
        entry.networkKeySet = 0;
        char devicePassword[passwordFieldSize] = {};
        std::memcpy(devicePassword, entry.password, fieldLength(entry.password, passwordMaxLength));
        uint8_t deviceKey[keyLength];
        std::memcpy(deviceKey, deriveKey(devicePassword), keyLength);
        reached[i] = setRemoteKey(deviceKey, networkKey, entry.remoteMac);
        if (reached[i]) {
            entry.networkKeySet = 1;
            saveInto(result);
        }
    }

    restoreLocalKeys(networkKey);
    // The local device is on the new key now; without this save a list with no
    // device that took it would leave the old password in the file.
    saveInto(result);
    fillStatuses(result, reached);
}
}  // namespace

std::vector<DeviceStatus> devicePasswords()
{
    SetAllResult listed;
    fillStatuses(listed, nullptr);
    return listed.devices;
}

SetAllResult setAll(std::string_view networkPassword)
{
    SetAllResult result;
    char password[passwordFieldSize];
    if (!passwordText(networkPassword, password)) {
        result.box = Box::invalidNetworkPassword;
        fillStatuses(result, nullptr);
        return result;
    }
    {
        MonitorHold hold;
        setAllChecked(password, result);
    }
    startScan();
    return result;
}

AddResult add(std::string_view devicePasswordText, std::string_view networkPasswordText)
{
    AddResult result;
    char password[passwordFieldSize];
    if (!passwordText(devicePasswordText, password)) {
        result.box = Box::invalidDevicePassword;
        return result;
    }
    // Labels print capitals; typed letters become them for every caller, as in the page's field.
    for (char& c : password)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    if (hasDevicePassword(password)) {
        result.box = Box::duplicatePassword;
        return result;
    }
    // Refused before any exchange, so that no entry in use is ever overwritten.
    int slot = firstFreeDevicePassword();
    if (slot < 0) {
        result.box = Box::listFull;
        return result;
    }
    // The search moves the local device to a temporary key; a network password
    // that Set All would then refuse would leave it there.
    char networkPassword[passwordFieldSize];
    if (!passwordText(networkPasswordText, networkPassword)) {
        result.box = Box::invalidNetworkPassword;
        return result;
    }

    {
        MonitorHold hold;
        uint8_t deviceKey[keyLength];
        std::memcpy(deviceKey, deriveKey(password), keyLength);
        uint8_t temporaryKey[keyLength];
        makeRandomKey(temporaryKey);
        uint8_t responder[mme::macSize];
        if (!findRemoteDevice(deviceKey, temporaryKey, responder)) {
            restoreStoredNetworkKey();
            if (!noteLinkLost(result))
                result.box = Box::noResponse;
            return result;
        }
        DevicePasswordEntry& entry = profiles[selectedAdapter].devicePasswords[slot];
        std::memcpy(entry.password, password, sizeof password);
        std::memcpy(entry.remoteMac, responder, sizeof responder);
        result.added = true;
        result.index = slot;
        result.mac = frames::Mac::of(responder).text();
        // Saved by the Set All that follows.
        setAllChecked(networkPassword, result);
    }
    startScan();
    return result;
}

RemoveResult remove(const std::vector<std::string>& passwords)
{
    RemoveResult result;
    MonitorHold hold;
    NetworkProfile& profile = profiles[selectedAdapter];
    for (const std::string& text : passwords) {
        if (text.size() >= passwordFieldSize)
            continue;
        char field[passwordFieldSize] = {};
        std::memcpy(field, text.data(), text.size());
        int index = findDevicePassword(field);
        // Only the password frees the entry; remoteMac and networkKeySet stay.
        if (index >= 0) {
            std::memset(profile.devicePasswords[index].password, 0, passwordFieldSize);
            ++result.removed;
        }
    }
    saveInto(result);
    return result;
}

RemoveResult removeEntries(const std::vector<int>& entries)
{
    RemoveResult result;
    MonitorHold hold;
    NetworkProfile& profile = profiles[selectedAdapter];
    for (int index : entries) {
        if (index < 0 || index >= devicePasswordsPerProfile || profile.devicePasswords[index].password[0] == 0)
            continue;
        std::memset(profile.devicePasswords[index].password, 0, passwordFieldSize);
        ++result.removed;
    }
    saveInto(result);
    return result;
}

}  // namespace session
