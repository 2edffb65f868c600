#include "page_fixture.h"

#include "ui/common.h"
#include "mme/exchange.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "keys/password.h"
#include "link/session.h"
#include "emulator/sim_attach.h"
#include "platform/simclock.h"
#include "support/system_state.h"
#include "platform/timers.h"

#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

Key derivedKey(const char* password)
{
    Key key;
    std::memcpy(key.data(), deriveKey(password), key.size());
    return key;
}

void PageTest::SetUpTestSuite()
{
    // One application for the whole process; it is never torn down.
    if (!QApplication::instance()) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "pages_test";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
}

void PageTest::SetUp()
{
    std::remove(profileFileName);
    std::remove("plc.log");
    testsupport::resetSystemState();
    zsim::reset();
    simclock::reset();

    std::string error;
    ASSERT_TRUE(emu::loadScenario(SCENARIO_DIR "/home.json", network, &error)) << error;
    emu::addSimAdapters(network);
    emu::attachToSimDriver(network);
    // The session start's probe windows cost nothing of the pages' timing:
    // coarser polls keep them quick in real time.
    simclock::setPollCost(1000);
    ASSERT_EQ(startSession(), 1);
    simclock::setPollCost(100);
    // What the Device page does after a session start.
    std::memcpy(profiles[0].adapterMac, adapters[0].ownMac, 6);
    busy = 0;
    // A first scan gives the reference block and the stations of the default network.
    beginNetworkScan();
    runMonitor(6000);
    ASSERT_TRUE(adapters[0].paramsSeen);
    ASSERT_EQ(std::memcmp(referenceBlock, localDevice().eeprom.data(), sizeof referenceBlock), 0);

    zsim::clearSent();
    setErrorBoxHook([this](QWidget* owner, const QString& caption, const QString& text) {
        boxes.push_back({owner, caption, text});
    });
}

void PageTest::TearDown()
{
    setErrorBoxHook(nullptr);
    emu::detachFromSimDriver();
    if (sessionOpen) {
        closeAdapters();
        sessionOpen = 0;
    }
    busy = 1;
}

void PageTest::runMonitor(uint32_t ms)
{
    for (uint32_t t = 0; t < ms; t += monitorIntervalMs) {
        simclock::advance(monitorIntervalMs);
        platform::runDueTimers();
        monitorTick();
    }
}

emu::RemoteStation& PageTest::station(const Mac& mac)
{
    for (emu::RemoteStation& s : network.adapter(0).stations)
        if (s.mac == mac)
            return s;
    throw std::logic_error("no such station in the scenario");
}

std::vector<zsim::SentFrame> PageTest::setKeyFrames() const
{
    std::vector<zsim::SentFrame> out;
    for (const zsim::SentFrame& f : zsim::sentFrames())
        if (f.bytes.size() > mme::offEntryType && f.bytes[mme::offEntryType] == mme::typeSetKey)
            out.push_back(f);
    return out;
}

bool PageTest::sentParamQuery() const
{
    return std::any_of(zsim::sentFrames().begin(), zsim::sentFrames().end(), [](const zsim::SentFrame& f) {
        return f.bytes.size() > mme::offEntryLength && f.bytes[mme::offEntryType] == mme::typeParam &&
               f.bytes[mme::offEntryLength] == mme::paramQueryEntryLength;
    });
}

int PageTest::stationsInUse()
{
    int n = 0;
    for (const RemoteStation& s : profiles[selectedAdapter].stations)
        n += s.inUse ? 1 : 0;
    return n;
}

bool PageTest::stationListed(const Mac& mac)
{
    for (const RemoteStation& s : profiles[selectedAdapter].stations)
        if (s.inUse && std::memcmp(s.mac, mac.data(), mac.size()) == 0)
            return true;
    return false;
}

bool PageTest::fileExists(const char* name)
{
    std::ifstream in(name);
    return in.good();
}

std::string PageTest::fileText(const char* name)
{
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

NetworkProfile PageTest::savedProfile(int i)
{
    std::string raw = fileText(profileFileName);
    std::vector<uint8_t> image(profileImageSize);
    decodeProfileImage(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), image.data(), image.size());
    NetworkProfile p;
    std::memcpy(&p, image.data() + static_cast<size_t>(i) * sizeof p, sizeof p);
    return p;
}
