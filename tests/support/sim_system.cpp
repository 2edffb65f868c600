#include "support/sim_system.h"

#include "emulator/sim_attach.h"
#include "keys/password.h"
#include "link/flags.h"
#include "link/link.h"
#include "mme/exchange.h"
#include "mme/intake.h"
#include "platform/simclock.h"
#include "platform/timers.h"
#include "session/names.h"
#include "session/session.h"
#include "support/system_state.h"
#include "support/wire_oracle.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace simsystem {

void resetSystemState() { testsupport::resetSystemState(); }

Key derivedKey(const char* password)
{
    Key key;
    std::memcpy(key.data(), deriveKey(password), key.size());
    return key;
}

Bytes readFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const char* path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool fileExists(const char* path)
{
    std::ifstream in(path);
    return in.good();
}

std::vector<std::string> readLines(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> logEvents()
{
    std::vector<std::string> events;
    std::vector<std::string> lines = readLines("plc.log");
    for (size_t i = 1; i < lines.size(); i += 2) {
        std::string l = lines[i];
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        events.push_back(l);
    }
    return events;
}

std::string hexBlock(const uint8_t* b)
{
    std::string s;
    char part[4];
    for (int i = 0; i < 50; ++i) {
        std::snprintf(part, sizeof part, " %.2x", b[i]);
        s += part;
    }
    return s;
}

void SimSystemTest::SetUp()
{
    zsim::reset();
    simclock::reset();
    resetSystemState();
    busy.catchUpAndSet(false);
    std::remove(profileFileName);
    std::remove("plc.log");
    std::remove(session::namesFileName);
}

void SimSystemTest::TearDown()
{
    // Whatever the test made the system do, the wire keeps its rules.
    std::vector<wireoracle::Frame> frames;
    for (const zsim::SentFrame& s : zsim::wholeTrace())
        frames.push_back({s.adapter, s.bytes, s.atMicros});
    std::vector<wireoracle::Wait> waits;
    for (const simclock::Wait& w : simclock::waits())
        waits.push_back({w.fromMicros, w.toMicros});
    std::vector<std::string> broken = wireoracle::check(frames, waits);
    for (size_t i = 0; i < broken.size() && i < 5; ++i)
        ADD_FAILURE() << "wire rule (" << broken.size() << " broken): " << broken[i];
    emu::detachFromSimDriver();
    resetSystemState();
    zsim::reset();
    std::remove(profileFileName);
    std::remove("plc.log");
    std::remove(session::namesFileName);
}

void SimSystemTest::addSimAdapters(int count)
{
    const Mac macs[2] = {hostMac0, hostMac1};
    for (int i = 0; i < count; ++i)
        zsim::addAdapter("eth" + std::to_string(i), macs[i].data());
}

void SimSystemTest::open(int count)
{
    addSimAdapters(count);
    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, count);
    zsim::clearSent();
}

void SimSystemTest::load(const char* scenario, const std::function<void(emu::Network&)>& adjust)
{
    std::string error;
    ASSERT_TRUE(emu::loadScenario(std::string(SIM_SCENARIO_DIR) + "/" + scenario, network, &error)) << error;
    if (adjust)
        adjust(network);
    emu::addSimAdapters(network);
    emu::attachToSimDriver(network);
}

void SimSystemTest::startHome()
{
    load("home.json");
    ASSERT_FALSE(HasFatalFailure());
    // The probe windows cost nothing of the tests' timing: coarser polls keep them quick in real time.
    simclock::setPollCost(1000);
    session::StartResult start = session::start();
    simclock::setPollCost(100);
    ASSERT_TRUE(start.started);
    // The first scan gives the reference block and the stations of the default network.
    ASSERT_TRUE(runUntilScanEnds());
    ASSERT_TRUE(adapters[0].paramsSeen);
    ASSERT_EQ(std::memcmp(referenceBlock, localDevice().eeprom.data(), sizeof referenceBlock), 0);
    zsim::clearSent();
}

void SimSystemTest::run(uint32_t ms)
{
    for (uint32_t t = 0; t < ms; t += monitorIntervalMs) {
        simclock::advance(monitorIntervalMs);
        platform::runDueTimers();
    }
}

bool SimSystemTest::runUntilScanEnds(uint32_t limitMs)
{
    for (uint32_t t = 0; t < limitMs; t += monitorIntervalMs) {
        if (!progressActive)
            return true;
        run(monitorIntervalMs);
    }
    return !progressActive;
}

void SimSystemTest::drain()
{
    simclock::advance(1000);
    uint8_t buffer[1500];
    while (receiveFrame(buffer))
        ;
}

std::vector<Bytes> SimSystemTest::sent(int adapter)
{
    std::vector<Bytes> out;
    for (const auto& s : zsim::sentFrames())
        if (adapter < 0 || s.adapter == adapter)
            out.push_back(s.bytes);
    return out;
}

size_t SimSystemTest::countType(const std::vector<Bytes>& frames, uint8_t type)
{
    size_t n = 0;
    for (const auto& f : frames)
        n += f.size() > 15 && f[15] == type;
    return n;
}

std::vector<zsim::SentFrame> SimSystemTest::setKeyFrames()
{
    std::vector<zsim::SentFrame> out;
    for (const zsim::SentFrame& f : zsim::sentFrames())
        if (f.bytes.size() > mme::offEntryType && f.bytes[mme::offEntryType] == mme::typeSetKey)
            out.push_back(f);
    return out;
}

bool SimSystemTest::sentParamQuery()
{
    return std::any_of(zsim::sentFrames().begin(), zsim::sentFrames().end(), [](const zsim::SentFrame& f) {
        return f.bytes.size() > mme::offEntryLength && f.bytes[mme::offEntryType] == mme::typeParam &&
               f.bytes[mme::offEntryLength] == mme::paramQueryEntryLength;
    });
}

emu::RemoteStation& SimSystemTest::remote(const Mac& mac)
{
    for (emu::RemoteStation& s : network.adapter(0).stations)
        if (s.mac == mac)
            return s;
    throw std::logic_error("no such station in the scenario");
}

void SimSystemTest::use(int i, const Mac& mac, double rate, int seen)
{
    RemoteStation& s = table()[i];
    s.inUse = 1;
    std::memcpy(s.mac, mac.data(), 6);
    s.rateMbps = rate;
    s.seenCount = seen;
}

int SimSystemTest::stationsInUse()
{
    int n = 0;
    for (int i = 0; i < stationsPerProfile; ++i)
        n += table()[i].inUse ? 1 : 0;
    return n;
}

bool SimSystemTest::stationListed(const Mac& mac)
{
    for (int i = 0; i < stationsPerProfile; ++i)
        if (table()[i].inUse && std::memcmp(table()[i].mac, mac.data(), mac.size()) == 0)
            return true;
    return false;
}

void SimSystemTest::seed(int index, const char* password, const Mac& mac, int32_t networkKeySet)
{
    DevicePasswordEntry& e = profiles[selectedAdapter].devicePasswords[index];
    std::memset(e.password, 0, sizeof e.password);
    std::strcpy(e.password, password);
    std::memcpy(e.remoteMac, mac.data(), mac.size());
    e.networkKeySet = networkKeySet;
}

RemoteStation* SimSystemTest::table() { return profiles[selectedAdapter].stations; }

}  // namespace simsystem
