// The profile table, its file "wizard.data", the session start and the
// device-password lookups.
#include "replies.h"
#include "emulator/sim_attach.h"

#include <dirent.h>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <csignal>

using namespace nstest;

namespace {

class ProfilesTest : public NetstateFixture {};

size_t count0A(const Bytes& b) { return static_cast<size_t>(std::count(b.begin(), b.end(), uint8_t{0x0A})); }

std::vector<std::string> leftoverTemps()
{
    std::vector<std::string> names;
    DIR* d = opendir(".");
    while (dirent* e = d ? readdir(d) : nullptr)
        if (std::string(e->d_name).rfind("wizard.data.", 0) == 0)
            names.push_back(e->d_name);
    if (d)
        closedir(d);
    return names;
}

TEST_F(ProfilesTest, FieldsLandAtTheirFileOffsets)
{
    NetworkProfile& p = profiles[3];
    p.reserved = 0x11223344;
    const uint8_t adapterMac[6] = {0x00, 0x50, 0x8B, 0x12, 0x34, 0x56};
    std::memcpy(p.adapterMac, adapterMac, 6);
    std::strcpy(p.networkPassword, "Secret-Pass");
    p.localDevicePresent = 1;
    p.localDeviceType = 3;
    std::memcpy(p.localDeviceMac, deviceMac0.data(), 6);
    p.stations[7].inUse = 1;
    std::memcpy(p.stations[7].mac, station(7).data(), 6);
    p.stations[7].rateMbps = 13.48272448272448;
    p.stations[7].seenCount = 0x01020304;
    std::strcpy(p.devicePasswords[5].password, "DEVPW-5");
    std::memcpy(p.devicePasswords[5].remoteMac, station(9).data(), 6);
    p.devicePasswords[5].networkKeySet = 1;
    ASSERT_EQ(count0A(imageCopy()), 0u);  // the file is then the image itself

    ASSERT_TRUE(saveProfiles());
    Bytes file = readFile("wizard.data");
    ASSERT_EQ(file.size(), 109312u);

    const size_t base = 3 * 6832;
    auto at = [&](size_t offset, size_t n) {
        return Bytes(file.begin() + static_cast<long>(base + offset),
                     file.begin() + static_cast<long>(base + offset + n));
    };
    EXPECT_EQ(at(0, 4), (Bytes{0x44, 0x33, 0x22, 0x11}));  // reserved, little-endian
    EXPECT_EQ(at(4, 6), Bytes(adapterMac, adapterMac + 6));
    EXPECT_EQ(at(10, 12), Bytes({'S', 'e', 'c', 'r', 'e', 't', '-', 'P', 'a', 's', 's', 0}));
    EXPECT_EQ(at(40, 4), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(at(44, 4), (Bytes{3, 0, 0, 0}));
    EXPECT_EQ(at(48, 6), Bytes(deviceMac0.begin(), deviceMac0.end()));
    const size_t s7 = 80 + 7 * 56;
    EXPECT_EQ(at(s7, 4), (Bytes{1, 0, 0, 0}));
    const Mac m7 = station(7), m9 = station(9);
    EXPECT_EQ(at(s7 + 4, 6), Bytes(m7.begin(), m7.end()));
    // 13.48272448272448 as an IEEE double, little-endian
    uint64_t bits;
    double rate = 13.48272448272448;
    std::memcpy(&bits, &rate, 8);
    Bytes rateBytes;
    for (int i = 0; i < 8; ++i)
        rateBytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    EXPECT_EQ(at(s7 + 40, 8), rateBytes);
    EXPECT_EQ(at(s7 + 48, 4), (Bytes{4, 3, 2, 1}));
    const size_t d5 = 5680 + 5 * 36;
    EXPECT_EQ(at(d5, 8), Bytes({'D', 'E', 'V', 'P', 'W', '-', '5', 0}));
    EXPECT_EQ(at(d5 + 25, 6), Bytes(m9.begin(), m9.end()));
    EXPECT_EQ(at(d5 + 32, 4), (Bytes{1, 0, 0, 0}));
    // Everything else of the file is zero.
    size_t nonzero = static_cast<size_t>(std::count_if(file.begin(), file.end(), [](uint8_t b) { return b != 0; }));
    size_t expectedNonzero = 0;
    for (uint8_t b : imageCopy())
        expectedNonzero += b != 0;
    EXPECT_EQ(nonzero, expectedNonzero);
}

TEST_F(ProfilesTest, ImagesSurviveSaveAndLoad)
{
    struct Case {
        const char* name;
        Bytes pattern;  // repeated over the whole image
    } cases[] = {
        {"all 0x0A", {0x0A}},
        {"0x0D 0x0A pairs", {0x0D, 0x0A}},
        {"0x0D 0x0D 0x0A", {0x0D, 0x0D, 0x0A}},
        {"all 0x1A", {0x1A}},
        {"all 0x0D", {0x0D}},
        {"0x0A 0x0D", {0x0A, 0x0D}},
        {"mixed", {0x00, 0x0D, 0x1A, 0x0A, 0x0A, 0xFF, 0x0D}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t i = 0; i < profileImageSize; ++i)
            image()[i] = c.pattern[i % c.pattern.size()];
        Bytes saved = imageCopy();
        ASSERT_TRUE(saveProfiles());
        EXPECT_EQ(readFile("wizard.data").size(), profileImageSize + count0A(saved));
        std::memset(profiles, 0, sizeof profiles);
        loadProfiles();
        EXPECT_TRUE(imageCopy() == saved);
    }
    // Random images, seeded.
    std::mt19937 rng(7);
    for (int round = 0; round < 3; ++round) {
        for (size_t i = 0; i < profileImageSize; ++i)
            image()[i] = static_cast<uint8_t>(rng() % 4 == 0 ? 0x0A + (rng() % 4) : rng());
        Bytes saved = imageCopy();
        ASSERT_TRUE(saveProfiles());
        EXPECT_EQ(readFile("wizard.data").size(), profileImageSize + count0A(saved));
        std::memset(profiles, 0, sizeof profiles);
        loadProfiles();
        EXPECT_TRUE(imageCopy() == saved) << round;
    }
}

TEST_F(ProfilesTest, DecodingRules)
{
    struct Case {
        const char* name;
        Bytes in;
        Bytes out;
    } cases[] = {
        {"CR LF is LF", {0x41, 0x0D, 0x0A, 0x42}, {0x41, 0x0A, 0x42}},
        {"lone LF stays", {0x0A, 0x0A}, {0x0A, 0x0A}},
        {"CR before another byte stays", {0x0D, 0x41}, {0x0D, 0x41}},
        {"CR last stays", {0x41, 0x0D}, {0x41, 0x0D}},
        {"CR CR LF", {0x0D, 0x0D, 0x0A}, {0x0D, 0x0A}},
        {"0x1A is a byte like any other", {0x1A, 0x1A, 0x00}, {0x1A, 0x1A, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t out[16];
        size_t n = decodeProfileImage(c.in.data(), c.in.size(), out, sizeof out);
        EXPECT_EQ(Bytes(out, out + n), c.out);
    }
    // Decoding stops with the image full; the rest of the input is ignored.
    const Bytes in = {0x01, 0x0D, 0x0A, 0x02, 0x03};
    uint8_t out[2] = {0xEE, 0xEE};
    EXPECT_EQ(decodeProfileImage(in.data(), in.size(), out, 2), 2u);
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x01, 0x0A}));
}

TEST_F(ProfilesTest, MissingFileGivesDefaultsAndWritesNothing)
{
    std::memset(profiles, 0x5A, sizeof profiles);
    loadProfiles();
    for (const NetworkProfile& p : profiles) {
        EXPECT_EQ(p.reserved, 0);
        EXPECT_STREQ(p.networkPassword, "TideWell");
        const uint8_t* dp = reinterpret_cast<const uint8_t*>(p.devicePasswords);
        EXPECT_EQ(Bytes(dp, dp + sizeof p.devicePasswords), Bytes(sizeof p.devicePasswords, 0));
        // Nothing else is touched.
        EXPECT_EQ(p.adapterMac[0], 0x5A);
        EXPECT_EQ(p.localDevicePresent, 0x5A5A5A5A);
        EXPECT_EQ(p.stations[99].seenCount, 0x5A5A5A5A);
    }
    EXPECT_EQ(firstFreeDevicePassword(), 0);
    struct stat st;
    EXPECT_NE(stat("wizard.data", &st), 0);
}

// A directory by that name is no profile file: the defaults, as when it is missing.
TEST_F(ProfilesTest, DirectoryInPlaceOfTheFileGivesDefaults)
{
    ASSERT_EQ(mkdir("wizard.data", 0755), 0);
    loadProfiles();
    rmdir("wizard.data");
    for (const NetworkProfile& p : profiles)
        EXPECT_STREQ(p.networkPassword, "TideWell");
}

TEST_F(ProfilesTest, EmptyAndShortFilesFillOnlyTheirPart)
{
    writeFile("wizard.data", {});
    loadProfiles();
    EXPECT_STREQ(profiles[0].networkPassword, "");
    EXPECT_TRUE(imageCopy() == Bytes(profileImageSize, 0));

    // A file that decodes to 1,000 bytes: 990 plain bytes and ten CR LF pairs.
    std::memset(profiles, 0x77, sizeof profiles);
    Bytes file;
    for (int i = 0; i < 990; ++i)
        file.push_back(static_cast<uint8_t>(0x20 + i % 50));
    for (int i = 0; i < 10; ++i) {
        file.push_back(0x0D);
        file.push_back(0x0A);
    }
    writeFile("wizard.data", file);
    loadProfiles();
    Bytes img = imageCopy();
    for (int i = 0; i < 990; ++i)
        ASSERT_EQ(img[static_cast<size_t>(i)], 0x20 + i % 50) << i;
    EXPECT_EQ(Bytes(img.begin() + 990, img.begin() + 1000), Bytes(10, 0x0A));
    EXPECT_TRUE(Bytes(img.begin() + 1000, img.end()) == Bytes(profileImageSize - 1000, 0x77));

    // A longer file: the bytes after the image are ignored.
    Bytes longFile(profileImageSize + 500, 0x31);
    writeFile("wizard.data", longFile);
    loadProfiles();
    EXPECT_TRUE(imageCopy() == Bytes(profileImageSize, 0x31));
}

// A damaged file without a single NUL: every lookup stays inside its field.
TEST_F(ProfilesTest, DamagedFileWithoutTerminators)
{
    Bytes file(profileImageSize, 'A');
    writeFile("wizard.data", file);
    loadProfiles();
    const std::string full(25, 'A');
    for (int sel : {0, 15}) {
        selectedAdapter = sel;
        EXPECT_EQ(firstFreeDevicePassword(), -1);
        EXPECT_EQ(hasDevicePassword(std::string(24, 'A').c_str()), 0);
        EXPECT_EQ(hasDevicePassword((full + "A").c_str()), 0);
        EXPECT_EQ(hasDevicePassword(full.c_str()), 1);  // the whole field is its text
        EXPECT_EQ(findDevicePassword(full.c_str()), 0);
        EXPECT_EQ(findDevicePassword("A"), -1);
    }
    EXPECT_EQ(fieldLength(profiles[15].devicePasswords[31].password, 25), 25u);
}

TEST_F(ProfilesTest, SavedFileIsPrivateAndReplaced)
{
    writeFile("wizard.data", Bytes(10, 0x42));
    chmod("wizard.data", 0644);
    std::strcpy(profiles[0].networkPassword, "Fresh");
    ASSERT_TRUE(saveProfiles());
    struct stat st;
    ASSERT_EQ(stat("wizard.data", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, static_cast<off_t>(profileImageSize));
    EXPECT_TRUE(leftoverTemps().empty());
}

TEST_F(ProfilesTest, FailedSaveKeepsTheOldFile)
{
    std::strcpy(profiles[0].networkPassword, "OldOne");
    ASSERT_TRUE(saveProfiles());
    const Bytes old = readFile("wizard.data");
    std::strcpy(profiles[0].networkPassword, "NewOne");

    // The write itself fails: a file-size limit stops it part way (root too).
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    testing::internal::CaptureStderr();
    bool ok = saveProfiles();
    std::string err = testing::internal::GetCapturedStderr();
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(ok);
    EXPECT_NE(err.find("wizard.data"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(readFile("wizard.data") == old);
    EXPECT_TRUE(leftoverTemps().empty());

    // The file cannot be replaced: a directory stands in its place.
    std::remove("wizard.data");
    ASSERT_EQ(mkdir("wizard.data", 0755), 0);
    testing::internal::CaptureStderr();
    ok = saveProfiles();
    err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(ok);
    EXPECT_NE(err.find("wizard.data"), std::string::npos) << err;
    struct stat st;
    ASSERT_EQ(stat("wizard.data", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(leftoverTemps().empty());
    rmdir("wizard.data");
}

TEST_F(ProfilesTest, Lookups)
{
    selectedAdapter = 2;
    DevicePasswordEntry* e = profiles[2].devicePasswords;
    std::strcpy(e[0].password, "Alpha");
    std::strcpy(e[1].password, "Bravo");
    std::strcpy(e[3].password, "alpha");
    std::strcpy(e[4].password, "Bravo");
    e[2].remoteMac[0] = 0x02;  // an earlier occupant's leftovers do not make it used
    e[2].networkKeySet = 1;
    std::strcpy(profiles[0].devicePasswords[7].password, "Charlie");

    EXPECT_EQ(findDevicePassword("Alpha"), 0);
    EXPECT_EQ(findDevicePassword("alpha"), 3);
    EXPECT_EQ(findDevicePassword("Bravo"), 1);  // lowest index of two
    EXPECT_EQ(findDevicePassword("ALPHA"), -1);
    EXPECT_EQ(findDevicePassword("Alph"), -1);
    EXPECT_EQ(findDevicePassword("Alpha "), -1);
    EXPECT_EQ(hasDevicePassword("Alpha"), 1);
    EXPECT_EQ(hasDevicePassword("ALPHA"), 0);
    EXPECT_EQ(hasDevicePassword("Charlie"), 0);  // another profile's
    EXPECT_EQ(hasDevicePassword(""), 1);         // a free entry holds the empty text
    EXPECT_EQ(firstFreeDevicePassword(), 2);

    for (int i = 0; i < devicePasswordsPerProfile; ++i)
        if (e[i].password[0] == 0)
            std::snprintf(e[i].password, sizeof e[i].password, "pw%d", i);
    EXPECT_EQ(firstFreeDevicePassword(), -1);
    EXPECT_EQ(findDevicePassword("pw31"), 31);
    selectedAdapter = 0;
    EXPECT_EQ(firstFreeDevicePassword(), 0);
    EXPECT_EQ(findDevicePassword("Charlie"), 7);
}

class SessionStartTest : public NetstateFixture {
protected:
    emu::Network net;
    void addDevice(uint8_t type)
    {
        emu::EmulatedAdapter a;
        a.interfaceName = "eth0";
        a.hostMac = hostMac0;
        a.device = emu::makeDevice(deviceMac0, type, "DEVICE-PW-0001");
        net.addAdapter(a);
        emu::addSimAdapters(net);
        emu::attachToSimDriver(net);
    }
};

TEST_F(SessionStartTest, ClearsStationsKeepsSeenCount)
{
    addDevice(1);
    for (int p = 0; p < profileCount; ++p) {
        for (int i = 0; i < stationsPerProfile; i += 7) {
            RemoteStation& s = profiles[p].stations[i];
            s.inUse = 1;
            std::memcpy(s.mac, station(i).data(), 6);
            s.rateMbps = 4.25;
            s.seenCount = 3 + i;
        }
    }
    std::strcpy(profiles[4].networkPassword, "Stored");
    ASSERT_TRUE(saveProfiles());
    std::memset(profiles, 0, sizeof profiles);
    monitorTicks = 7;
    monitorSecond = 33;

    ASSERT_EQ(startSession(), 1);
    EXPECT_EQ(sessionOpen, 1);
    EXPECT_EQ(monitorTicks, 0);
    EXPECT_EQ(monitorSecond, 0);
    EXPECT_STREQ(profiles[4].networkPassword, "Stored");
    for (int p = 0; p < profileCount; ++p) {
        for (int i = 0; i < stationsPerProfile; ++i) {
            const RemoteStation& s = profiles[p].stations[i];
            ASSERT_EQ(s.inUse, 0);
            ASSERT_EQ(s.rateMbps, 0.0);
            ASSERT_EQ(s.seenCount, i % 7 == 0 ? 3 + i : 0);
            if (i % 7 == 0) {
                ASSERT_EQ(macAt(s.mac), station(i));
            }
        }
    }
    EXPECT_EQ(adapters[0].devicePresent, 1);
    EXPECT_EQ(zsim::openHandleCount(), 1);
    emu::detachFromSimDriver();
}

TEST_F(SessionStartTest, FailureClosesEverything)
{
    addDevice(4);  // unsupported
    RemoteStation& s = profiles[0].stations[0];
    s.inUse = 1;
    s.rateMbps = 2.0;
    adapters[0].devicePresent = 1;
    simclock::setPollCost(1000);
    testing::internal::CaptureStderr();
    EXPECT_EQ(startSession(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(program_invocation_short_name) +
                  ": no supported powerline device answered on 1 network adapter\n");
    EXPECT_EQ(sessionOpen, 0);
    EXPECT_EQ(zsim::openHandleCount(), 0);
    EXPECT_EQ(adapterCount, 0);
    EXPECT_STREQ(profiles[0].networkPassword, "TideWell");  // loaded all the same
    emu::detachFromSimDriver();
}

TEST_F(SessionStartTest, NoAdapterSaysSoOnStandardError)
{
    const uint8_t mac[6] = {0x00, 0x50, 0x8B, 0x00, 0x00, 0x09};
    zsim::addAdapter("refuses", mac);
    zsim::setOpenFails(0, true);
    testing::internal::CaptureStderr();
    EXPECT_EQ(startSession(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(program_invocation_short_name) + ": no network adapter could be opened\n");
    EXPECT_EQ(sessionOpen, 0);
}

}  // namespace
