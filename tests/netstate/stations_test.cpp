// The remote-station table, the rate formula and the link-quality figure.
#include "replies.h"

#include <cmath>
#include <limits>

using namespace nstest;

namespace {

class StationsTest : public NetstateFixture {
protected:
    void SetUp() override
    {
        NetstateFixture::SetUp();
        std::memcpy(adapters[0].deviceMac, deviceMac0.data(), 6);
    }
    void reply(const Mac& from)
    {
        Bytes f = stationReply(from);
        recordStationReply({f.data(), f.size()});
    }
    void rates(const Bytes& f) { updateRates({f.data(), f.size()}); }
};

TEST_F(StationsTest, RateSamplesToTheLastBit)
{
    struct Case {
        uint16_t v;
        double rate;
    } cases[] = {
        {0, -0.12978912978912938}, {4, -0.02088902088902049}, {5, 0.006336006336006728},
        {42, 1.013662013662014},   {84, 2.1571131571131574},  {500, 13.48272448272448},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rateFromLinkValue(c.v), c.rate) << c.v;
        // The same through a reply and the table.
        std::memset(profiles, 0, sizeof profiles);
        use(0, station(1));
        rates(linkStatsReply({{station(1), c.v}}));
        EXPECT_EQ(table()[0].rateMbps, c.rate) << c.v;
    }
    for (uint32_t v = 0; v <= 0xFFFF; ++v) {
        double rate = rateFromLinkValue(static_cast<uint16_t>(v));
        // Every product rounded on its own: the volatile keeps this side from
        // being fused into a multiply-add, whatever this file is built with.
        volatile double second = v * 0.023809523809523808 * 1.1434511434511434;
        ASSERT_EQ(rate, second - 0.12978912978912938) << v;
        // No linkValue gives exactly 0.0, the mark of "no estimate".
        ASSERT_NE(rate, 0.0) << v;
    }
    // The link value is little-endian on the wire: bytes 00 01 are 256, not 1.
    std::memset(profiles, 0, sizeof profiles);
    use(0, station(1));
    Bytes f = linkStatsReply({{station(1), 0}});
    f[30] = 0x00;
    f[31] = 0x01;
    rates(f);
    EXPECT_EQ(table()[0].rateMbps, 6.839817839817839);
    EXPECT_NE(table()[0].rateMbps, rateFromLinkValue(1));
}

TEST_F(StationsTest, BarPositionsAndRatings)
{
    struct Case {
        double average;
        int position;
        const char* text;
    } cases[] = {
        {0.0, 3, "Link Quality: Poor"},         {0.1, 0, "Link Quality: Poor"},
        {0.5, 4, "Link Quality: Poor"},         {0.905, 7, "Link Quality: Fair"},
        {1.0, 8, "Link Quality: Fair"},         {1.5, 19, "Link Quality: Fair"},
        {2.0, 30, "Link Quality: Fair"},        {2.5, 38, "Link Quality: Fair"},
        {3.0, 45, "Link Quality: Excellent"},   {5.0, 65, "Link Quality: Excellent"},
        {8.0, 83, "Link Quality: Excellent"},   {10.0, 91, "Link Quality: Excellent"},
        {14.0, 113, "Link Quality: Excellent"}, {-0.12978912978912938, 3, "Link Quality: Poor"},
        {-5.0, 3, "Link Quality: Poor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.average);
        LinkQuality q = linkQualityFor(c.average);
        EXPECT_EQ(q.barPosition, c.position);
        EXPECT_STREQ(q.ratingText, c.text);
        EXPECT_EQ(q.average, c.average);
    }
    // The boundaries and the colours.
    const Rgb red{230, 0, 0}, yellow{230, 230, 0}, green{0, 230, 0};
    EXPECT_EQ(linkQualityFor(std::nextafter(0.905, 0.0)).barColour, red);
    EXPECT_EQ(linkQualityFor(0.905).barColour, yellow);
    EXPECT_EQ(linkQualityFor(2.5).barColour, yellow);
    EXPECT_EQ(linkQualityFor(std::nextafter(2.5, 3.0)).barColour, green);
    EXPECT_STREQ(linkQualityFor(std::nextafter(2.5, 3.0)).ratingText, "Link Quality: Excellent");
    EXPECT_EQ(linkQualityFor(0.0).barColour, red);
}

TEST_F(StationsTest, AverageCoversEveryRatedStation)
{
    struct Case {
        const char* name;
        std::vector<std::pair<int, double>> entries;  // index, rate
        double average;
    } cases[] = {
        {"empty", {}, 0.0},
        {"two", {{0, 1.0}, {1, 2.0}}, 1.5},
        {"a free entry in between", {{0, 1.0}, {2, 9.0}}, 5.0},
        {"an unrated station in between", {{0, 3.0}, {1, 0.0}, {2, 9.0}}, 6.0},
        {"entry 0 unrated", {{0, 0.0}, {1, 5.0}}, 5.0},
        {"behind a free entry 0", {{1, 2.0}, {99, 4.0}}, 3.0},
        {"none rated", {{0, 0.0}, {1, 0.0}}, 0.0},
        {"negative rates count", {{0, -0.12978912978912938}, {1, 1.013662013662014}}, 0.44193644193644231},
        {"sum exactly zero", {{0, 1.0}, {1, -1.0}}, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(profiles, 0, sizeof profiles);
        for (auto [i, r] : c.entries)
            use(i, station(i), r);
        EXPECT_DOUBLE_EQ(averageRate(), c.average);
    }
    // All 100 in use and rated: entry 99 counts too.
    std::memset(profiles, 0, sizeof profiles);
    for (int i = 0; i < stationsPerProfile; ++i)
        use(i, station(i), i == 99 ? 101.0 : 1.0);
    EXPECT_DOUBLE_EQ(averageRate(), 2.0);
    // A free entry's stale rate does not count.
    table()[50].inUse = 0;
    table()[50].rateMbps = 1000.0;
    EXPECT_DOUBLE_EQ(averageRate(), 199.0 / 99);
    // A station the last link-statistics reply did not list keeps the rating of the others.
    std::memset(profiles, 0, sizeof profiles);
    use(0, station(0));
    use(1, station(1));
    rates(linkStatsReply({{station(1), 500}}));
    EXPECT_STREQ(linkQualityFor(averageRate()).ratingText, "Link Quality: Excellent");
}

TEST_F(StationsTest, StationRepliesCreateCountAndAge)
{
    reply(deviceMac0);  // the local device never enters
    EXPECT_EQ(table()[0].inUse, 0);

    table()[0].seenCount = 9;  // left by an earlier occupant
    reply(station(1));
    EXPECT_EQ(table()[0].inUse, 1);
    EXPECT_EQ(macAt(table()[0].mac), station(1));
    EXPECT_EQ(table()[0].seenCount, 0);  // neither inherited nor counted
    reply(station(2));
    reply(station(2));
    EXPECT_EQ(table()[1].seenCount, 1);
    reply(station(3));
    reply(station(3));
    reply(station(3));
    EXPECT_EQ(table()[2].seenCount, 2);
    table()[0].rateMbps = 5.0;

    // Only a reply beyond the creating one keeps a station through a pass.
    ageStations();
    EXPECT_EQ(table()[0].inUse, 0);
    EXPECT_EQ(table()[0].rateMbps, 0.0);
    // Freeing entry 0 does not end the pass that freed it.
    EXPECT_EQ(table()[1].inUse, 1);
    EXPECT_EQ(table()[1].seenCount, 0);
    EXPECT_EQ(table()[2].inUse, 1);
    EXPECT_EQ(table()[2].seenCount, 0);

    // Stations behind the now free entry 0 still age: 2 answered, 3 did not.
    table()[2].rateMbps = 3.0;
    reply(station(2));
    ageStations();
    EXPECT_EQ(table()[1].inUse, 1);
    EXPECT_EQ(table()[2].inUse, 0);
    EXPECT_EQ(table()[2].rateMbps, 0.0);

    // A new station takes the lowest free index and starts from 0, whatever the entry held.
    table()[0].seenCount = 4;  // left by station 1
    reply(station(4));
    EXPECT_EQ(macAt(table()[0].mac), station(4));
    EXPECT_EQ(table()[0].seenCount, 0);
    reply(station(2));
    ageStations();
    EXPECT_EQ(table()[0].inUse, 0);  // heard once only
    EXPECT_EQ(table()[1].inUse, 1);
    // From then on one reply between two passes keeps a station.
    reply(station(2));
    ageStations();
    EXPECT_EQ(table()[1].inUse, 1);
    ageStations();
    EXPECT_EQ(table()[1].inUse, 0);

    // An entry in use is matched before a free entry with the same old MAC.
    std::memset(profiles, 0, sizeof profiles);
    std::memcpy(table()[0].mac, station(5).data(), 6);  // free, same MAC
    use(1, station(5));
    reply(station(5));
    EXPECT_EQ(table()[0].inUse, 0);
    EXPECT_EQ(table()[1].seenCount, 1);
}

TEST_F(StationsTest, FullTableDropsNewStations)
{
    for (int i = 0; i < stationsPerProfile; ++i)
        reply(station(i));
    for (int i = 0; i < stationsPerProfile; ++i)
        ASSERT_EQ(macAt(table()[i].mac), station(i));
    Bytes before = imageCopy();
    reply(station(100));
    EXPECT_TRUE(imageCopy() == before);
    reply(station(99));
    EXPECT_EQ(table()[99].seenCount, 1);
    // The device password list lies right behind the table: a reply or a pass
    // that ran one entry too far would read it as a station and write into it.
    std::memcpy(profiles[0].devicePasswords[0].password, "PW00BCDEFG", 11);
    before = imageCopy();
    reply({0x42, 0x43, 0x44, 0x45, 0x46, 0x47});  // "BCDEFG", bytes 4 to 9 of that password
    EXPECT_TRUE(imageCopy() == before);
    ageStations();
    EXPECT_STREQ(profiles[0].devicePasswords[0].password, "PW00BCDEFG");
}

TEST_F(StationsTest, TablesFollowTheSelectedAdapter)
{
    selectedAdapter = 1;
    std::memcpy(adapters[1].deviceMac, station(9).data(), 6);
    reply(deviceMac0);  // adapter 0's device is a remote seen from adapter 1
    reply(station(9));  // adapter 1's own device
    EXPECT_EQ(profiles[1].stations[0].inUse, 1);
    EXPECT_EQ(macAt(profiles[1].stations[0].mac), deviceMac0);
    EXPECT_EQ(profiles[1].stations[1].inUse, 0);
    EXPECT_EQ(profiles[0].stations[0].inUse, 0);
}

TEST_F(StationsTest, RateMatching)
{
    Mac even = {0x02, 0x10, 0x20, 0x30, 0x40, 0x50};
    Mac odd = {0x03, 0x10, 0x20, 0x30, 0x40, 0x50};
    Mac other = {0x04, 0x10, 0x20, 0x30, 0x40, 0x50};
    struct Case {
        const char* name;
        std::vector<Listed> records;
        double rate;  // of the entry holding `even`; 7.0: unchanged
    } cases[] = {
        {"exact", {{other, 1}, {even, 42}}, 1.013662013662014},
        {"bit-0 alias", {{odd, 84}}, 2.1571131571131574},
        {"exact wins over an earlier alias", {{odd, 84}, {even, 42}}, 1.013662013662014},
        {"first of two exact", {{even, 42}, {even, 84}}, 1.013662013662014},
        {"not listed: unchanged", {{other, 42}}, 7.0},
        {"listed in the last record",
         {{other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {other, 1},
          {even, 500}},
         13.48272448272448},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(profiles, 0, sizeof profiles);
        use(0, even, 7.0);
        rates(linkStatsReply(c.records));
        EXPECT_EQ(table()[0].rateMbps, c.rate);
    }
    // An odd station is not matched by its even twin.
    std::memset(profiles, 0, sizeof profiles);
    use(0, odd, 7.0);
    rates(linkStatsReply({{even, 42}}));
    EXPECT_EQ(table()[0].rateMbps, 7.0);

    // Stations behind free entries are rated; free entries are not.
    std::memset(profiles, 0, sizeof profiles);
    use(1, station(1), 7.0);
    use(99, station(99), 7.0);
    std::memcpy(table()[0].mac, station(0).data(), 6);  // free, an old MAC
    rates(linkStatsReply({{station(0), 42}, {station(1), 42}, {station(99), 84}}));
    EXPECT_EQ(table()[0].rateMbps, 0.0);
    EXPECT_EQ(table()[1].rateMbps, 1.013662013662014);
    EXPECT_EQ(table()[99].rateMbps, 2.1571131571131574);
}

TEST_F(StationsTest, ShortRepliesOnlyRateWholeRecords)
{
    std::vector<Listed> records;
    for (int i = 0; i < 15; ++i)
        records.push_back({station(i), 500});
    Bytes full = linkStatsReply(records);
    for (size_t cut :
         {size_t{0}, size_t{17}, size_t{24}, size_t{35}, size_t{36}, size_t{47}, size_t{48}, size_t{203}}) {
        SCOPED_TRACE(cut);
        std::memset(profiles, 0, sizeof profiles);
        for (int i = 0; i < 15; ++i)
            use(i, station(i), 7.0);
        // The view sees only `cut` bytes of a buffer that holds the whole reply.
        updateRates({full.data(), cut});
        size_t whole = cut < 24 ? 0 : (cut - 24) / 12;
        for (size_t i = 0; i < 15; ++i)
            EXPECT_EQ(table()[i].rateMbps, i < whole ? 13.48272448272448 : 7.0) << i;
    }
}

TEST_F(StationsTest, RowsShowEveryStationInUse)
{
    use(0, {0x02, 0xAB, 0x0C, 0xDE, 0x00, 0xF1}, -0.12978912978912938);
    use(2, station(2), 13.48272448272448);
    use(3, station(3), 0.0);
    use(5, station(5), 1.005);
    table()[4].rateMbps = 3.0;  // free entries are not listed
    std::memcpy(table()[4].mac, station(4).data(), 6);
    std::vector<StationRow> rows = stationRows();
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].mac, "02:ab:0c:de:00:f1");
    EXPECT_EQ(rows[0].rate, "-0.13");
    EXPECT_EQ(rows[1].mac, "02:55:00:00:00:02");
    EXPECT_EQ(rows[1].rate, "13.48");
    EXPECT_EQ(rows[1].rateMbps, 13.48272448272448);  // unrounded, for machine-readable output
    EXPECT_EQ(rows[2].rate, "*");
    EXPECT_EQ(rows[2].rateMbps, 0.0);
    EXPECT_EQ(rows[3].mac, "02:55:00:00:00:05");
    char expected[16];
    std::snprintf(expected, sizeof expected, "%.2f", 1.005);
    EXPECT_EQ(rows[3].rate, expected);
}

}  // namespace
