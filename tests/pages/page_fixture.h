#pragma once
// A session on the emulated home network (emulator/scenarios/home.json): one
// adapter, a local device, three stations on the default network and two on
// another network that only their device passwords reach.
#include "emulator/model.h"
#include "netstate/profiles.h"
#include "zentrik/sim.h"

#include <gtest/gtest.h>

#include <QString>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class QWidget;

using Key = std::array<uint8_t, 8>;
using Mac = std::array<uint8_t, 6>;

Key derivedKey(const char* password);

struct ErrorBox {
    QWidget* owner;
    QString caption;
    QString text;
};

class PageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Runs the 100 ms monitor and the timers for `ms` of virtual time.
    void runMonitor(uint32_t ms);

    emu::LocalDevice& localDevice() { return network.adapter(0).device; }
    emu::RemoteStation& station(const Mac& mac);

    // The SetKeyFrames sent since the last clearSent.
    std::vector<zsim::SentFrame> setKeyFrames() const;
    bool sentParamQuery() const;
    static int stationsInUse();
    static bool stationListed(const Mac& mac);

    static bool fileExists(const char* name);
    static std::string fileText(const char* name);
    // Profile `i` as "wizard.data" holds it.
    static NetworkProfile savedProfile(int i);

    emu::Network network;
    std::vector<ErrorBox> boxes;
};

// Remote devices of home.json that only their device password reaches.
constexpr Mac neighbourFour = {0x02, 0xb7, 0x1c, 0x20, 0x00, 0x04};
constexpr const char* neighbourFourPassword = "KQ7R-2M4X-PL9D";
constexpr Mac neighbourFive = {0x02, 0xb7, 0x1c, 0x20, 0x00, 0x05};
constexpr const char* neighbourFivePassword = "WD3F-8HN6-TB5C";
constexpr const char* neighbourNetworkPassword = "Neighbour-7";
// On the default network from the start.
constexpr Mac homeStationOne = {0x02, 0xb7, 0x1c, 0x20, 0x00, 0x01};
