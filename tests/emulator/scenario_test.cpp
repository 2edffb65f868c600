// Scenario files: the shipped ones hold what their names promise, and a bad
// file is refused with the file, the field and the reason.
#include "emulator/model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>

namespace {

std::string scenario(const char* name) { return std::string(SCENARIO_DIR) + "/" + name; }

// The system's rate estimate and rating of a link value.
double rate(uint16_t v) { return ((v * 0.023809523809523808) * 1.1434511434511434) - 0.12978912978912938; }
const char* rating(double r) { return r < 0.905 ? "Poor" : r <= 2.5 ? "Fair" : "Excellent"; }

bool typableDevicePassword(const std::string& p)
{
    return p.size() >= 4 && p.size() <= 24 &&
           std::all_of(p.begin(), p.end(), [](char c) { return c >= 0x20 && c < 0x7F && !(c >= 'a' && c <= 'z'); });
}

TEST(Scenario, HomeHasOneOfEachRatingAndTwoDevicesToAdd)
{
    emu::Network net;
    std::string error;
    ASSERT_TRUE(emu::loadScenario(scenario("home.json"), net, &error)) << error;
    ASSERT_EQ(net.adapterCount(), 1);
    const emu::EmulatedAdapter& a = net.adapter(0);
    EXPECT_EQ(a.interfaceName, "plc0");
    EXPECT_GE(a.device.deviceType, 1);
    EXPECT_LE(a.device.deviceType, 3);
    EXPECT_EQ(a.device.key1, emu::keyFromPassword("TideWell"));

    std::vector<std::string> onNetwork, toAdd;
    for (const emu::RemoteStation& s : a.stations) {
        EXPECT_EQ(s.deviceKey, emu::keyFromPassword(s.devicePassword));
        if (net.reaches(0, s))
            onNetwork.push_back(rating(rate(s.linkValue)));
        else if (typableDevicePassword(s.devicePassword))
            toAdd.push_back(s.devicePassword);
    }
    std::sort(onNetwork.begin(), onNetwork.end());
    EXPECT_EQ(onNetwork, (std::vector<std::string>{"Excellent", "Fair", "Poor"}));
    EXPECT_EQ(toAdd.size(), 2u);
}

TEST(Scenario, ShippedFaultScenarios)
{
    struct Case {
        const char* file;
        int adapters;
        bool (*holds)(const emu::Network&);
    } cases[] = {
        {"two-adapters.json", 2,
         [](const emu::Network& n) {
             return n.adapter(1).stations.empty() && n.adapter(0).hostMac != n.adapter(1).hostMac &&
                    n.adapter(1).device.deviceType >= 1 && n.adapter(1).device.deviceType <= 3;
         }},
        {"silent.json", 1, [](const emu::Network& n) { return n.adapter(0).device.faults.silent; }},
        {"unsupported-type.json", 1,
         [](const emu::Network& n) {
             uint8_t t = n.adapter(0).device.deviceType;
             return t < 1 || t > 3;
         }},
        {"unconfirmed-key.json", 1, [](const emu::Network& n) { return n.adapter(0).device.faults.neverConfirms; }},
        {"flood.json", 1, [](const emu::Network& n) { return n.adapter(0).device.faults.floodPerSecond > 0; }},
        {"blank-blocks.json", 1,
         [](const emu::Network& n) {
             return n.adapter(0).device.faults.blankEeprom && n.adapter(0).device.faults.blankRam;
         }},
        // The first station falls under half of its usual rate, to Poor, from 14:00 to 15:00 only.
        {"degrading.json", 1,
         [](const emu::Network& n) {
             const auto& s = n.adapter(0).stations;
             const auto at = [&](size_t i, int hour, int minute) {
                 return rate(emu::scheduledLinkValue(*s.at(i).schedule, 20000LL * 86400 + hour * 3600 + minute * 60));
             };
             bool held = true;
             for (int minute = 0; minute < 24 * 60; minute += 5) {
                 const bool dip = minute >= 14 * 60 && minute <= 15 * 60;
                 held = held && (rating(at(0, minute / 60, minute % 60)) == std::string("Poor")) == dip &&
                        (at(0, minute / 60, minute % 60) < at(0, 12, 0) / 2) == dip &&
                        rating(at(1, minute / 60, minute % 60)) == std::string("Excellent") &&
                        rating(at(2, minute / 60, minute % 60)) == std::string("Excellent");
             }
             return s.size() == 3 && held;
         }},
    };
    for (const Case& c : cases) {
        emu::Network net;
        std::string error;
        ASSERT_TRUE(emu::loadScenario(scenario(c.file), net, &error)) << error;
        EXPECT_EQ(net.adapterCount(), c.adapters) << c.file;
        EXPECT_TRUE(c.holds(net)) << c.file;
    }
}

TEST(Scenario, ScheduledLinkValuesFollowTheClock)
{
    emu::Network net;
    std::string error;
    ASSERT_TRUE(emu::loadScenario(scenario("evening.json"), net, &error)) << error;
    const auto& stations = net.adapter(0).stations;
    ASSERT_EQ(stations.size(), 4u);
    auto at = [&](const char* hhmm, size_t station) {
        net.setClock([hhmm] {
            return int64_t{20000} * 86400 + (hhmm[0] - '0') * 36000 + (hhmm[1] - '0') * 3600 + (hhmm[3] - '0') * 600 +
                   (hhmm[4] - '0') * 60;
        });
        return std::string(rating(rate(net.linkValue(stations[station]))));
    };
    // By day every scheduled station is Excellent; the evening takes the first to
    // Poor and the second to Fair; the third holds.
    struct Row {
        const char* time;
        const char* ratings[3];
    } rows[] = {
        {"03:00", {"Excellent", "Excellent", "Excellent"}},
        {"12:00", {"Excellent", "Excellent", "Excellent"}},
        {"19:30", {"Fair", "Fair", "Excellent"}},
        {"21:00", {"Poor", "Fair", "Excellent"}},
    };
    for (const Row& r : rows)
        for (size_t i = 0; i < 3; ++i)
            EXPECT_EQ(at(r.time, i), r.ratings[i]) << r.time << " station " << i;
    EXPECT_FALSE(stations[3].schedule);

    // Straight lines between points and across midnight; noise within its bound,
    // the same for the same seed and time, another for another seed.
    emu::LinkSchedule s;
    s.points = {{6 * 3600, 100}, {18 * 3600, 300}};
    struct Value {
        int64_t second;
        uint16_t value;
    } values[] = {{6 * 3600, 100}, {12 * 3600, 200}, {18 * 3600, 300},           {0, 200},
                  {3 * 3600, 150}, {-6 * 3600, 300}, {86400 * 3 + 9 * 3600, 150}};
    for (const Value& v : values)
        EXPECT_EQ(emu::scheduledLinkValue(s, v.second), v.value) << v.second;
    const emu::LinkSchedule plain = s;
    s.noise = 10;
    s.seed = 7;
    emu::LinkSchedule other = s;
    other.seed = 8;
    int differs = 0;
    std::set<uint16_t> seen;
    for (int64_t t = 12 * 3600; t < 12 * 3600 + 100 * 60; t += 60) {
        uint16_t v = emu::scheduledLinkValue(s, t);
        EXPECT_LE(std::abs(v - emu::scheduledLinkValue(plain, t)), 10) << t;
        // one draw a minute
        EXPECT_EQ(v - emu::scheduledLinkValue(plain, t),
                  emu::scheduledLinkValue(s, t + 59) - emu::scheduledLinkValue(plain, t + 59));
        seen.insert(v);
        differs += v != emu::scheduledLinkValue(other, t);
    }
    EXPECT_GT(seen.size(), 10u);
    EXPECT_GT(differs, 50);
    emu::Network again;
    ASSERT_TRUE(emu::loadScenario(scenario("evening.json"), again, &error)) << error;
    for (int64_t t = 0; t < 86400; t += 600) {
        net.setClock([t] { return t; });
        again.setClock([t] { return t; });
        ASSERT_EQ(net.linkValue(stations[0]), again.linkValue(again.adapter(0).stations[0])) << t;
    }
}

TEST(Scenario, OptionalFieldsOverrideTheFactoryState)
{
    std::string text = R"({"adapters":[{"interface":"plc3","hostMac":"02:00:00:00:00:01",
      "device":{"mac":"02:00:00:00:00:02","type":3,"devicePassword":"ABCD","networkKey":"0102030405060708",
        "eeprom":"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff0011",
        "replyDelayMs":25,
        "faults":{"notSelfAddressed":true,"linkStatsLength":100,"paramEntryLength":50,"floodPerSecond":10,"floodKind":"station"}},
      "stations":[{"mac":"02:00:00:00:00:03","devicePassword":"EFGH","networkPassword":"Other","linkValue":65535,
        "replyDelayMs":0,"silent":true}]}]})";
    emu::Network net;
    std::string error;
    ASSERT_TRUE(emu::parseScenario(text, "t.json", net, &error)) << error;
    const emu::LocalDevice& d = net.adapter(0).device;
    EXPECT_EQ(d.key1, (emu::Key{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(d.eeprom[1], 0x11);
    EXPECT_EQ(d.eeprom[49], 0x11);
    EXPECT_EQ(d.ram[14], 1);  // the RAM block stays the factory one, on the given key
    EXPECT_EQ(d.ram[15], 1);
    EXPECT_EQ(d.replyDelayMs, 25u);
    EXPECT_TRUE(d.faults.notSelfAddressed);
    EXPECT_EQ(d.faults.linkStatsLength, 100u);
    EXPECT_EQ(d.faults.paramEntryLength, 50);
    EXPECT_EQ(d.faults.floodKind, emu::FloodKind::station);
    const emu::RemoteStation& s = net.adapter(0).stations[0];
    EXPECT_EQ(s.networkKey, emu::keyFromPassword("Other"));
    EXPECT_EQ(s.linkValue, 65535);
    EXPECT_TRUE(s.silent);
    EXPECT_EQ(s.replyDelayMs, 0u);
}

TEST(Scenario, ErrorsNameFileFieldAndReason)
{
    // A valid adapter with one spot replaced by the case's text.
    auto with = [](const std::string& device, const std::string& stations = "[]", const std::string& extra = "") {
        return R"({"adapters":[{"interface":"plc0","hostMac":"02:00:00:00:00:01",)" + extra + R"("device":)" + device +
               R"(,"stations":)" + stations + "}]}";
    };
    const std::string good = R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD"})";
    struct Case {
        std::string text;
        const char* error;
    } cases[] = {
        {"{not json", "t.json: (file): not valid JSON"},
        {"[1]", "t.json: (file): expected an object"},
        {"{}", "t.json: adapters: missing"},
        {R"({"adapters":[]})", "t.json: adapters: expected an array of 1 to 16 adapters"},
        {R"({"adapters":[], "colour":1})", "t.json: colour: unknown field"},
        {with(R"({"mac":"02:00:00:00:00:02","type":200,"devicePassword":"ABCD"})"),
         "t.json: adapters[0].device.type: expected an integer 0..127"},
        {with(R"({"mac":"02:00:00:00:00:02","type":"1","devicePassword":"ABCD"})"),
         "t.json: adapters[0].device.type: expected an integer 0..127"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1.5,"devicePassword":"ABCD"})"),
         "t.json: adapters[0].device.type: expected an integer 0..127"},
        {with(R"({"mac":"02:00:00:00:00:02","devicePassword":"ABCD"})"),
         "t.json: adapters[0].device.type: missing, expected an integer 0..127"},
        {with(R"({"mac":"02:00:00:00:00","type":1,"devicePassword":"ABCD"})"),
         "t.json: adapters[0].device.mac: expected a MAC address like 02:00:00:00:00:01"},
        // Two hex digits per byte, nothing that scanf would also take.
        {with(R"({"mac":"+2:-0:00:00:00:01","type":1,"devicePassword":"ABCD"})"),
         "t.json: adapters[0].device.mac: expected a MAC address like 02:00:00:00:00:01"},
        {with(R"({"mac":" 2:00:00:00:00:01","type":1,"devicePassword":"ABCD"})"),
         "t.json: adapters[0].device.mac: expected a MAC address like 02:00:00:00:00:01"},
        {with(R"({"mac":"02-00-00-00-00-01","type":1,"devicePassword":"ABCD"})"),
         "t.json: adapters[0].device.mac: expected a MAC address like 02:00:00:00:00:01"},
        {with(R"({"mac":"ff:ff:ff:ff:ff:ff","type":1,"devicePassword":"ABCD"})"),
         "t.json: adapters[0].device.mac: the broadcast address is not a station address"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1})"), "t.json: adapters[0].device.devicePassword: missing"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":""})"),
         "t.json: adapters[0].device.devicePassword: expected 1 to 64 characters"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","colour":"red"})"),
         "t.json: adapters[0].device.colour: unknown field"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","networkKey":"0102"})"),
         "t.json: adapters[0].device.networkKey: expected 16 hexadecimal digits"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","networkKey":"010203040506070g"})"),
         "t.json: adapters[0].device.networkKey: expected 16 hexadecimal digits"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","networkKey":"0102030405060708",
                 "networkPassword":"X1234"})"),
         "t.json: adapters[0].device.networkKey: give networkPassword or networkKey, not both"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","eeprom":"00"})"),
         "t.json: adapters[0].device.eeprom: expected 100 hexadecimal digits"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","faults":{"silent":1}})"),
         "t.json: adapters[0].device.faults.silent: expected true or false"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","faults":{"floodKind":"storm"}})"),
         "t.json: adapters[0].device.faults.floodKind: expected \"noise\", \"linkStats\" or \"station\""},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","faults":{"linkStatsLength":300}})"),
         "t.json: adapters[0].device.faults.linkStatsLength: expected an integer 14..204"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","faults":{"loud":true}})"),
         "t.json: adapters[0].device.faults.loud: unknown field"},
        {with(R"({"mac":"02:00:00:00:00:02","type":1,"devicePassword":"ABCD","faults":[]})"),
         "t.json: adapters[0].device.faults: expected an object"},
        {with(good, R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH","linkValue":1},
                       {"mac":"02:00:00:00:00:04","devicePassword":"EFGH","linkValue":70000}])"),
         "t.json: adapters[0].stations[1].linkValue: expected an integer 0..65535"},
        {with(good, R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH","linkValue":-1}])"),
         "t.json: adapters[0].stations[0].linkValue: expected an integer 0..65535"},
        {with(good, R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH","linkValue":{"noise":3}}])"),
         "t.json: adapters[0].stations[0].linkValue.daily: missing"},
        {with(good, R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH","linkValue":{"daily":[]}}])"),
         "t.json: adapters[0].stations[0].linkValue.daily: expected an array of 1 to 96 [\"HH:MM\", value] points"},
        {with(good, R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH","linkValue":{"daily":[["24:00",1]]}}])"),
         "t.json: adapters[0].stations[0].linkValue.daily[0][0]: expected a time of day \"HH:MM\" or \"HH:MM:SS\""},
        {with(good, R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH",
                        "linkValue":{"daily":[["19:00",70],["07:00",300]]}}])"),
         "t.json: adapters[0].stations[0].linkValue.daily[1][0]: expected a time after the point before"},
        {with(good, R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH","linkValue":{"daily":[["07:00",-3]]}}])"),
         "t.json: adapters[0].stations[0].linkValue.daily[0][1]: expected an integer 0..65535"},
        {with(good, R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH","linkValue":{"daily":[["07:00"]]}}])"),
         "t.json: adapters[0].stations[0].linkValue.daily[0]: expected a point [\"HH:MM\", value]"},
        {with(good, R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH",
                        "linkValue":{"daily":[["07:00",1]],"noiseEverySeconds":0}}])"),
         "t.json: adapters[0].stations[0].linkValue.noiseEverySeconds: expected an integer 1..86400"},
        {with(good,
              R"([{"mac":"02:00:00:00:00:03","devicePassword":"EFGH","linkValue":{"daily":[["07:00",1]],"tide":1}}])"),
         "t.json: adapters[0].stations[0].linkValue.tide: unknown field"},
        {with(good, R"([{"mac":"02:00:00:00:00:03","linkValue":1}])"),
         "t.json: adapters[0].stations[0].devicePassword: missing"},
        {with(good, R"({"mac":"02:00:00:00:00:03"})"), "t.json: adapters[0].stations: expected an array"},
        {with(good, R"([7])"), "t.json: adapters[0].stations[0]: expected an object"},
        {with(good, "[]", R"("interface":"this-name-is-too-long",)"),
         "t.json: adapters[0].interface: expected an interface name of 1 to 15 characters without '/', ':' or blanks"},
        {R"({"adapters":[{"interface":"plc0","hostMac":"02:00:00:00:00:01","device":)" + good +
             R"(},{"interface":"plc0","hostMac":"02:00:00:00:00:09","device":)" + good + "}]}",
         "t.json: adapters[1].interface: \"plc0\" is used twice"},
        {R"({"adapters":[{"interface":"plc0","hostMac":"02:00:00:00:00:01"}]})", "t.json: adapters[0].device: missing"},
    };
    for (const Case& c : cases) {
        emu::Network net;
        std::string error;
        // a half-read file leaves nothing behind
        net.addAdapter({});
        EXPECT_FALSE(emu::parseScenario(c.text, "t.json", net, &error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(net.adapterCount(), 0) << c.text;
    }
}

TEST(Scenario, UnreadableFileIsNamed)
{
    emu::Network net;
    std::string error;
    EXPECT_FALSE(emu::loadScenario("no/such/dir/nope.json", net, &error));
    EXPECT_EQ(error, "nope.json: (file): cannot be read: No such file or directory");

    {
        std::ofstream out("broken.json");
        out << R"({"adapters":[{"interface":"plc0","hostMac":"02:00:00:00:00:01","device":{"mac":"02:00:00:00:00:02",)"
               R"("type":128,"devicePassword":"ABCD"}}]})";
    }
    EXPECT_FALSE(emu::loadScenario("./broken.json", net, &error));
    EXPECT_EQ(error, "broken.json: adapters[0].device.type: expected an integer 0..127");
    std::remove("broken.json");
}

}  // namespace
