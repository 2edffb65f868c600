#include "netstate/profiles.h"

#include "mme/intake.h"
#include "keysetlog/keysetlog.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "link/flags.h"
#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <string>
#include <type_traits>
#include <unistd.h>
#include <vector>

static_assert(std::is_trivially_copyable_v<NetworkProfile>);

NetworkProfile profiles[profileCount];

namespace {
uint8_t* image() { return reinterpret_cast<uint8_t*>(profiles); }

constexpr size_t passwordFieldLength = sizeof(DevicePasswordEntry::password);

// A damaged file may leave a field without its NUL: never read past the field.
bool sameText(const char* field, const char* text)
{
    size_t n = fieldLength(field, passwordFieldLength);
    return std::strlen(text) == n && std::memcmp(field, text, n) == 0;
}

std::string saveError;
// The load found a file it would not read: the next save must not replace it.
bool refusedAtLoad = false;

void reportSaveFailure(const char* what)
{
    saveError = std::strerror(errno);
    std::fprintf(stderr, "%s: cannot save %s: %s: %s (the previous file is kept)\n", program_invocation_short_name,
                 profileFileName, what, std::strerror(errno));
}
}  // namespace

size_t fieldLength(const char* field, size_t size)
{
    const void* nul = std::memchr(field, 0, size);
    return nul ? static_cast<size_t>(static_cast<const char*>(nul) - field) : size;
}

size_t encodeProfileImage(const uint8_t* in, size_t size, uint8_t* out)
{
    size_t n = 0;
    for (size_t i = 0; i < size; ++i) {
        if (in[i] == 0x0A)
            out[n++] = 0x0D;
        out[n++] = in[i];
    }
    return n;
}

size_t decodeProfileImage(const uint8_t* in, size_t inSize, uint8_t* out, size_t capacity)
{
    size_t n = 0;
    for (size_t i = 0; i < inSize && n < capacity; ++i) {
        if (in[i] == 0x0D && i + 1 < inSize && in[i + 1] == 0x0A)
            ++i;
        out[n++] = in[i];
    }
    return n;
}

void clearStations(NetworkProfile& profile)
{
    for (RemoteStation& s : profile.stations) {
        s.inUse = 0;
        s.rateMbps = 0.0;
    }
}

void loadProfiles()
{
    // Neither followed nor waited on: a link, a FIFO, a device or a directory
    // named "wizard.data" counts as no file, and the next save replaces it. So
    // does a file that another user could have written (its keys would be
    // sent), but that one is never replaced: it may hold the user's own keys.
    std::string why;
    int fd = platform::openOwnedFile(profileFileName, &why);
    refusedAtLoad = !why.empty();
    if (refusedAtLoad)
        std::fprintf(stderr, "%s: %s not read: %s\n", program_invocation_short_name, profileFileName, why.c_str());
    if (fd < 0) {
        for (NetworkProfile& p : profiles) {
            p.reserved = 0;
            std::memset(p.networkPassword, 0, sizeof p.networkPassword);
            std::strcpy(p.networkPassword, defaultNetworkPassword);
            std::memset(p.devicePasswords, 0, sizeof p.devicePasswords);
        }
        return;
    }
    // Each image byte takes one or two file bytes; more than that is never needed.
    std::vector<uint8_t> raw(2 * profileImageSize);
    // A read error keeps what came before it, as the end of the file would.
    size_t got = 0;
    platform::readAll(fd, raw.data(), raw.size(), &got);
    close(fd);
    decodeProfileImage(raw.data(), got, image(), profileImageSize);
}

const char* lastSaveError() { return saveError.c_str(); }

void resetProfileFileState()
{
    saveError.clear();
    refusedAtLoad = false;
}

bool saveProfiles()
{
    std::vector<uint8_t> encoded(2 * profileImageSize);
    size_t size = encodeProfileImage(image(), profileImageSize, encoded.data());

    // It holds passwords: private whatever the umask. One fixed temporary name:
    // a save cut short leaves at most that one file. A file the load refused is not replaced, even where this user could:
    // the table in memory does not hold what is in it. Nor is one that would
    // be refused now.
    std::string refused = platform::refusedFile(profileFileName);
    struct stat st;
    if (refused.empty() && refusedAtLoad && lstat(profileFileName, &st) == 0)
        refused =
            std::string("was not read when ") + program_invocation_short_name + " started; start it again to read it";
    else if (!refused.empty())
        refused = "is " + refused;
    if (!refused.empty()) {
        saveError = std::string(profileFileName) + " " + refused;
        std::fprintf(stderr, "%s: cannot save %s: it %s (the file is left as it is)\n", program_invocation_short_name,
                     profileFileName, refused.c_str());
        return false;
    }
    const platform::Replaced r =
        platform::replaceFile(profileFileName, encoded.data(), size, 0600, std::string(profileFileName) + ".new");
    if (!r) {
        errno = r.error;
        reportSaveFailure(r.failed == platform::Replaced::create  ? "cannot create a temporary file"
                          : r.failed == platform::Replaced::write ? "write failed"
                                                                  : "rename failed");
    }
    return bool(r);
}

int startAdapterCount = 0;

int startSession()
{
    loadProfiles();
    startAdapterCount = 0;
    for (AdapterEntry& e : adapters)
        e.devicePresent = 0;
    int any = bringUpDevices();
    startAdapterCount = adapterCount;
    if (!any) {
        // The box the user sees cannot say which of these it was; standard error can.
        if (adapterCount == 0)
            std::fprintf(stderr, "%s: no network adapter could be opened\n", program_invocation_short_name);
        else
            std::fprintf(stderr, "%s: no supported powerline device answered on %d network adapter%s\n",
                         program_invocation_short_name, adapterCount, adapterCount == 1 ? "" : "s");
        closeAdapters();
        return 0;
    }
    sessionOpen = 1;
    for (NetworkProfile& p : profiles)
        clearStations(p);
    monitorTicks = 0;
    monitorSecond = 0;
    startKeySetLogCycle();
    return 1;
}

int findDevicePassword(const char* text)
{
    const NetworkProfile& p = profiles[selectedAdapter];
    for (int i = 0; i < devicePasswordsPerProfile; ++i)
        if (sameText(p.devicePasswords[i].password, text))
            return i;
    return -1;
}

int hasDevicePassword(const char* text) { return findDevicePassword(text) >= 0 ? 1 : 0; }

int firstFreeDevicePassword()
{
    const NetworkProfile& p = profiles[selectedAdapter];
    for (int i = 0; i < devicePasswordsPerProfile; ++i)
        if (p.devicePasswords[i].password[0] == 0)
            return i;
    return -1;
}
