#pragma once
// The system in process on the simulated packet driver and the virtual clock,
// for every test that runs it so: each library's process-wide state put back
// as a fresh process has it before and after each test, the device emulator on
// a scenario, the working files, and what tests ask of them.
#include "emulator/model.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "support/saved_files.h"
#include "support/sim_frames.h"
#include "zentrik/sim.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <cstdint>
#include <string>
#include <vector>

namespace simsystem {

using namespace simframes;
using Key = std::array<uint8_t, 8>;

// Every library's process-wide tables and flags as a fresh process has them.
void resetSystemState();

Key derivedKey(const char* password);

Bytes readFile(const char* path);
void writeFile(const char* path, const Bytes& bytes);
bool fileExists(const char* path);
using testsupport::fileText;
std::vector<std::string> readLines(const char* path);
// Event lines of plc.log (every second line), without their CR.
std::vector<std::string> logEvents();
// " xx" per byte of a 50-byte parameter block, as plc.log writes it.
std::string hexBlock(const uint8_t* block);
using testsupport::savedProfile;

inline uint8_t* image() { return reinterpret_cast<uint8_t*>(profiles); }
inline Bytes imageCopy() { return Bytes(image(), image() + profileImageSize); }

// Records what the monitor draws.
class RecordingView : public MonitorView {
public:
    int steps = 0;
    std::vector<LinkQuality> qualities;
    std::vector<std::vector<StationRow>> lists;
    int scanDialogEnds = 0;
    void stepProgressBars() override { ++steps; }
    void showLinkQuality(const LinkQuality& q) override { qualities.push_back(q); }
    void fillStationList(const std::vector<StationRow>& rows) override { lists.push_back(rows); }
    void endScanDialog() override { ++scanDialogEnds; }
};

// Remote devices of home.json that only their device password reaches.
constexpr Mac neighbourFour = {0x02, 0xb7, 0x1c, 0x20, 0x00, 0x04};
constexpr const char* neighbourFourPassword = "KQ7R-2M4X-PL9D";
constexpr Mac neighbourFive = {0x02, 0xb7, 0x1c, 0x20, 0x00, 0x05};
constexpr const char* neighbourFivePassword = "WD3F-8HN6-TB5C";
constexpr const char* neighbourNetworkPassword = "Neighbour-7";
// On the default network of home.json from the start.
constexpr Mac homeStationOne = {0x02, 0xb7, 0x1c, 0x20, 0x00, 0x01};

class SimSystemTest : public ::testing::Test {
protected:
    // A fresh process with the monitor free to run; no working files.
    void SetUp() override;
    void TearDown() override;

    // Bare adapters on the driver (eth0 at hostMac0, eth1 at hostMac1), no device behind them.
    static void addSimAdapters(int count);
    // ... and opened.
    void open(int count);
    // The emulator on a scenario of emulator/scenarios, its adapters on the
    // driver; `adjust` may script faults before the driver sees it.
    void load(const char* scenario, const std::function<void(emu::Network&)>& adjust = {});
    // The home scenario after a session start and its first scan, as the
    // pages find it; the sent frames cleared.
    void startHome();

    // Steps the virtual clock in monitor ticks, firing every timer that falls due.
    static void run(uint32_t ms);
    // Ticks until the running scan has ended; false when it did not within `limitMs`.
    static bool runUntilScanEnds(uint32_t limitMs = 12000);
    // Lets late replies arrive and drops every frame waiting in the rings.
    static void drain();

    // The frames that went out since the last zsim::clearSent, on one adapter or all.
    static std::vector<Bytes> sent(int adapter = -1);
    static size_t countType(const std::vector<Bytes>& frames, uint8_t type);
    static std::vector<zsim::SentFrame> setKeyFrames();
    static bool sentParamQuery();

    emu::LocalDevice& localDevice(int a = 0) { return network.adapter(a).device; }
    emu::RemoteStation& remote(const Mac& mac);

    // The selected adapter's station table.
    static RemoteStation* table();
    static void use(int i, const Mac& mac, double rate = 0.0, int seen = 0);
    static int stationsInUse();
    static bool stationListed(const Mac& mac);
    // An entry of the selected profile as an earlier Add would have left it.
    static void seed(int index, const char* password, const Mac& mac, int32_t networkKeySet = 1);

    emu::Network network;
};

constexpr Mac hostMac1 = {0x00, 0x50, 0x8B, 0x00, 0x00, 0x02};

}  // namespace simsystem
