// libFuzzer target for "wizard.data": any bytes as the file, loaded, looked
// up in and shown; and the byte decoding on its own, into a buffer of exactly
// the room it is given.
#include "fuzz/fuzz_support.h"
#include "netstate/profiles.h"
#include "link/flags.h"
#include "netstate/stations.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace {

using fuzzing::check;

void writeProfileFile(const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(profileFileName, "wb");
    check(f != nullptr);
    check(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzing::enterScratchDirectory("profile_file_fuzz");

    // The decoding alone: never more than the room, never from beyond the input.
    size_t room = size == 0 ? 0 : data[0] % 64 + size / 2;
    std::vector<uint8_t> input(data, data + size);
    std::vector<uint8_t> decoded(room);
    size_t produced = decodeProfileImage(input.data(), input.size(), decoded.data(), room);
    check(produced <= room && produced <= size);
    // Whatever decodes comes back unchanged through the file's encoding.
    decoded.resize(produced);
    std::vector<uint8_t> encoded(2 * produced);
    size_t encodedSize = encodeProfileImage(decoded.data(), produced, encoded.data());
    encoded.resize(encodedSize);
    std::vector<uint8_t> again(produced);
    check(decodeProfileImage(encoded.data(), encoded.size(), again.data(), produced) == produced);
    check(again == decoded);

    // The whole file path.
    std::memset(profiles, 0, sizeof profiles);
    writeProfileFile(data, size);
    loadProfiles();
    for (int p = 0; p < profileCount; ++p) {
        selectedAdapter = p;
        const NetworkProfile& profile = profiles[p];
        // Look up every stored password as the pages would, and a few others.
        for (int i = 0; i < devicePasswordsPerProfile; ++i) {
            char text[26] = {};
            std::memcpy(text, profile.devicePasswords[i].password,
                        fieldLength(profile.devicePasswords[i].password, 25));
            int found = findDevicePassword(text);
            check(found >= 0 && found <= i);
            check(hasDevicePassword(text) == 1);
        }
        int firstFree = firstFreeDevicePassword();
        check(firstFree >= -1 && firstFree < devicePasswordsPerProfile);
        check(firstFree < 0 || profile.devicePasswords[firstFree].password[0] == 0);
        check(fieldLength(profile.networkPassword, sizeof profile.networkPassword) <= 25);
        // What the pages show of a table loaded as it stands.
        for (const StationRow& r : stationRows())
            check(r.mac.size() == 17 && !r.rate.empty());
        LinkQuality q = linkQualityFor(averageRate());
        check(q.ratingText != nullptr);
    }
    selectedAdapter = 0;
    return 0;
}
