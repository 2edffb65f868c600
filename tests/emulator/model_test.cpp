// The device model frame-in/frames-out: addressing, each reply's bytes, the
// key exchanges as the system runs them, and every scripted fault.
#include "frames/frame.h"
#include "emulator/model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace mme;
using emu::Block;
using emu::Key;
using emu::Mac;

namespace {

const Mac hostMac = {0x02, 0xB7, 0x1C, 0x00, 0x00, 0x01};
const Mac deviceMac = {0x02, 0xB7, 0x1C, 0x10, 0x1D, 0x01};
const Mac stationMac[] = {
    {0x02, 0xB7, 0x1C, 0x20, 0x00, 0x01},
    {0x02, 0xB7, 0x1C, 0x20, 0x00, 0x02},
    {0x02, 0xB7, 0x1C, 0x20, 0x00, 0x03},
    {0x02, 0xB7, 0x1C, 0x20, 0x00, 0x04},  // on another network
};
const Mac bcast = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// Requests built as the system builds them, zero-padded to the wire minimum.
std::vector<uint8_t> request(const Mac& to, const Mac& from, uint8_t type, uint8_t entryLength, size_t length)
{
    std::vector<uint8_t> f(std::max(length, minimumFrame), 0);
    std::memcpy(f.data(), to.data(), 6);
    std::memcpy(f.data() + 6, from.data(), 6);
    f[12] = 0x88;
    f[13] = 0x7B;
    f[14] = 1;
    f[15] = type;
    f[16] = entryLength;
    return f;
}

std::vector<uint8_t> discoveryProbe(const Mac& from)
{
    auto f = request(bcast, from, 0x1A, 0xBB, 204);
    f[17] = 0x80;
    return f;
}

std::vector<uint8_t> linkStatsQuery(const Mac& from)
{
    auto f = request(bcast, from, 0x1A, 0xBB, 38);
    f[17] = 0x80;
    return f;
}

std::vector<uint8_t> paramQuery(uint8_t selector, const Mac& from = hostMac)
{
    auto f = request(bcast, from, 0x19, 0x0F, 32);
    f[17] = selector;
    return f;
}

std::vector<uint8_t> stationQuery(const Mac& to) { return request(to, hostMac, 0x07, 0, 18); }

std::vector<uint8_t> controlFrame(uint8_t flags, uint8_t mark, uint8_t value)
{
    auto f = request(bcast, hostMac, 0x1F, 3, 20);
    f[17] = flags;
    f[18] = mark;
    f[19] = value;
    return f;
}

// The reference block the system keeps, with the writes setKey makes to it.
struct Reference {
    Block block{};
    bool isBroadcast = true;

    std::vector<uint8_t> setKey(const Mac& to, uint8_t keySelect, const Key& key, uint8_t value, bool withControl,
                                bool provisional)
    {
        uint8_t flags = block[23] | 0x40;
        uint8_t mark = provisional ? block[24] | 0x01 : block[24];
        auto f = request(to, hostMac, 0x04, 9, 32);
        f[17] = keySelect;
        std::memcpy(f.data() + 18, key.data(), 8);
        if (withControl) {
            f[14] = 2;
            f[26] = 0x1F;
            f[27] = 3;
            f[28] = flags;
            f[29] = mark;
            f[30] = value;
        }
        if (!provisional) {
            block[23] = flags;
            block[24] = mark;
            block[25] = value;
        }
        if (keySelect != 0 && to == bcast) {
            block[14] = keySelect;
            std::memcpy(block.data() + 15, key.data(), 8);
        }
        return f;
    }
};

class ModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        emu::EmulatedAdapter a;
        a.interfaceName = "plc0";
        a.hostMac = hostMac;
        a.device = emu::makeDevice(deviceMac, 1, "ZP6J-4LAV-8EMQ");
        a.stations.push_back(emu::makeStation(stationMac[0], "HX4N-7QPC-3VRA", 20));
        a.stations.push_back(emu::makeStation(stationMac[1], "MB2T-9KEW-6JZF", 50));
        a.stations.push_back(emu::makeStation(stationMac[2], "RL8D-5GUY-1SCN", 400));
        a.stations.push_back(emu::makeStation(stationMac[3], "KQ7R-2M4X-PL9D", 140, "Neighbour-7"));
        net.addAdapter(a);
    }

    emu::LocalDevice& device() { return net.adapter(0).device; }
    emu::RemoteStation& station(size_t i) { return net.adapter(0).stations[i]; }
    std::vector<emu::Reply> send(const std::vector<uint8_t>& f) { return net.handle(0, f.data(), f.size()); }

    // Sources of the StationReply frames, in order.
    std::vector<Mac> stationRepliesTo(const Mac& to)
    {
        std::vector<Mac> from;
        for (const auto& r : send(stationQuery(to))) {
            EXPECT_EQ(r.bytes[15], typeStationReply);
            Mac m;
            std::memcpy(m.data(), r.bytes.data() + offSource, 6);
            from.push_back(m);
        }
        return from;
    }

    Block reportedBlock(uint8_t selector)
    {
        auto replies = send(paramQuery(selector));
        Block b{};
        if (replies.size() == 1 && replies[0].bytes.size() >= paramReplyLength)
            std::memcpy(b.data(), replies[0].bytes.data() + offParamBlock, 50);
        return b;
    }

    emu::Network net;
};

Mac destinationOf(const emu::Reply& r)
{
    Mac m;
    std::memcpy(m.data(), r.bytes.data() + offDestination, 6);
    return m;
}

Mac sourceOf(const emu::Reply& r)
{
    Mac m;
    std::memcpy(m.data(), r.bytes.data() + offSource, 6);
    return m;
}

TEST_F(ModelTest, RepliesGoToTheRequestSourceFromTheDevice)
{
    // From the PC's address: an ordinary reply; from the device's own address:
    // self-addressed, which is how discovery recognises the local device.
    for (const Mac& from : {hostMac, deviceMac}) {
        auto replies = send(discoveryProbe(from));
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(destinationOf(replies[0]), from);
        EXPECT_EQ(sourceOf(replies[0]), deviceMac);
        EXPECT_EQ(replies[0].delayMs, device().replyDelayMs);
    }
    device().faults.notSelfAddressed = true;
    auto own = send(discoveryProbe(deviceMac));
    ASSERT_EQ(own.size(), 1u);
    EXPECT_EQ(destinationOf(own[0]), bcast);
    EXPECT_EQ(destinationOf(send(paramQuery(0x00, hostMac))[0]), hostMac);
}

TEST_F(ModelTest, LinkStatsReplyListsTheStationsOnTheNetworkKey)
{
    for (const auto& query : {discoveryProbe(hostMac), linkStatsQuery(hostMac)}) {
        auto replies = send(query);
        ASSERT_EQ(replies.size(), 1u);
        const auto& f = replies[0].bytes;
        // 204 bytes: 0x1A, length 0xBB, type 1 with bit 7 clear, then 15 records
        ASSERT_EQ(f.size(), 204u);
        EXPECT_EQ(f[12], 0x88);
        EXPECT_EQ(f[13], 0x7B);
        EXPECT_EQ(f[offEntryType], 0x1A);
        EXPECT_EQ(f[offEntryLength], 0xBB);
        EXPECT_EQ(f[offDeviceType], 0x01);
        const uint16_t expected[] = {20, 50, 400};
        for (size_t i = 0; i < 3; ++i) {
            size_t at = offStationRecords + i * stationRecordSize;
            EXPECT_EQ(0, std::memcmp(f.data() + at, stationMac[i].data(), 6)) << i;
            uint16_t v =
                static_cast<uint16_t>(f[at + stationRecordLinkValue] | f[at + stationRecordLinkValue + 1] << 8);
            EXPECT_EQ(v, expected[i]) << i;
        }
        // the station on another network key is not listed: the rest is empty
        EXPECT_TRUE(std::all_of(f.begin() + offStationRecords + 3 * stationRecordSize, f.end(),
                                [](uint8_t b) { return b == 0; }));
    }
}

TEST_F(ModelTest, LinkStatsReplyHoldsFifteenStationsAtMostAndSkipsSilentOnes)
{
    auto& stations = net.adapter(0).stations;
    stations[1].silent = true;
    stations[2].linkValue = 0x1234;
    for (uint8_t i = 0; i < 20; ++i)
        stations.push_back(emu::makeStation({0x02, 0xB7, 0x1C, 0x30, 0x00, i}, "ABCD", 7));
    auto f = send(linkStatsQuery(hostMac))[0].bytes;
    ASSERT_EQ(f.size(), 204u);
    EXPECT_EQ(0, std::memcmp(f.data() + 24, stationMac[0].data(), 6));
    EXPECT_EQ(0, std::memcmp(f.data() + 36, stationMac[2].data(), 6));
    EXPECT_EQ(f[36 + 6], 0x34);  // little-endian
    EXPECT_EQ(f[36 + 7], 0x12);
    // records 2..14 are the first thirteen added stations
    EXPECT_EQ(f[24 + 12 * 14 + 5], 12);
}

TEST_F(ModelTest, DeviceTypeGoesIntoTheLowSevenBits)
{
    for (uint8_t type : {0, 1, 2, 3, 4, 0x55, 0x7F}) {
        device().deviceType = type;
        auto f = send(discoveryProbe(hostMac))[0].bytes;
        EXPECT_EQ(f[offDeviceType], type) << int(type);
        EXPECT_EQ(f[offDeviceType] & 0x80, 0);
    }
}

TEST_F(ModelTest, ParamQuerySelectsTheBlock)
{
    device().ram[30] = 0xAB;  // tell the blocks apart
    struct Case {
        uint8_t selector;
        int kind;  // 0: no reply
    } cases[] = {{0x00, 1}, {0x10, 2}, {0x01, 0}, {0x11, 0}, {0xFF, 0}};
    for (const Case& c : cases) {
        auto replies = send(paramQuery(c.selector));
        if (c.kind == 0) {
            EXPECT_TRUE(replies.empty()) << int(c.selector);
            continue;
        }
        ASSERT_EQ(replies.size(), 1u);
        const auto& f = replies[0].bytes;
        ASSERT_EQ(f.size(), 68u);
        EXPECT_EQ(f[offEntryType], 0x19);
        EXPECT_EQ(f[offEntryLength], 0x33);
        EXPECT_EQ(f[offBlockKind], c.kind);
        const Block& expected = c.kind == 1 ? device().eeprom : device().ram;
        EXPECT_EQ(0, std::memcmp(f.data() + offParamBlock, expected.data(), 50)) << c.kind;
    }
}

TEST_F(ModelTest, FactoryBlockHoldsAddressKeysAndControlBytes)
{
    const Block& b = device().eeprom;
    EXPECT_EQ(0, std::memcmp(b.data(), deviceMac.data(), 6));
    EXPECT_FALSE(std::all_of(b.begin(), b.begin() + 6, [&](uint8_t x) { return x == b[0]; }));  // not blank
    EXPECT_EQ(0, std::memcmp(b.data() + 6, emu::keyFromPassword("ZP6J-4LAV-8EMQ").data(), 8));
    EXPECT_EQ(b[14], 1);
    EXPECT_EQ(0, std::memcmp(b.data() + 15, emu::keyFromPassword("TideWell").data(), 8));
    EXPECT_EQ(b[23], 0x40);
    EXPECT_EQ(b[24], 0x00);
    EXPECT_EQ(b[25], 0x01);
}

TEST_F(ModelTest, StationQueryIsAnsweredByWhoeverItReaches)
{
    // broadcast: the local device first, then the three stations on its key
    EXPECT_EQ(stationRepliesTo(bcast), (std::vector<Mac>{deviceMac, stationMac[0], stationMac[1], stationMac[2]}));
    EXPECT_EQ(stationRepliesTo(deviceMac), std::vector<Mac>{deviceMac});
    EXPECT_EQ(stationRepliesTo(stationMac[1]), std::vector<Mac>{stationMac[1]});
    EXPECT_TRUE(stationRepliesTo(stationMac[3]).empty());  // another network
    EXPECT_TRUE(stationRepliesTo({0x02, 0, 0, 0, 0, 9}).empty());

    station(1).replyDelayMs = 30;
    auto replies = send(stationQuery(stationMac[1]));
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].delayMs, device().replyDelayMs + 30);
    EXPECT_EQ(destinationOf(replies[0]), hostMac);
    station(1).silent = true;
    EXPECT_TRUE(stationRepliesTo(stationMac[1]).empty());
}

TEST_F(ModelTest, RequestsTheDeviceDoesNotServeGetNoReply)
{
    auto linkStatsReplyForm = linkStatsQuery(hostMac);
    linkStatsReplyForm[17] = 0x01;  // bit 7 clear: a reply, not a request
    auto paramReplyForm = paramQuery(0x00);
    paramReplyForm[16] = 0x33;
    auto otherEthertype = paramQuery(0x00);
    otherEthertype[13] = 0x7C;
    auto toSomeoneElse = request({0x02, 0, 0, 0, 0, 9}, hostMac, 0x19, 0x0F, 32);
    auto reply = send(paramQuery(0x00))[0].bytes;
    const std::vector<uint8_t> cases[] = {linkStatsReplyForm, paramReplyForm, otherEthertype, toSomeoneElse, reply};
    for (const auto& f : cases)
        EXPECT_TRUE(send(f).empty());
    // frames too short to hold an entry
    auto probe = discoveryProbe(hostMac);
    for (size_t length : {0u, 12u, 14u, 16u})
        EXPECT_TRUE(net.handle(0, probe.data(), length).empty()) << length;
    EXPECT_TRUE(net.handle(1, probe.data(), probe.size()).empty());
    EXPECT_TRUE(net.handle(-1, probe.data(), probe.size()).empty());
}

// Set Local, Set All with one listed device, then setLocalKeys: after each
// setKey to broadcast the device's block equals the system's reference, so
// every confirmation succeeds at the first ParamQuery.
TEST_F(ModelTest, KeyExchangesOfTheSystemConfirm)
{
    Reference ref;
    ref.block = reportedBlock(0x00);  // what the monitor copied
    Key newNet = emu::keyFromPassword("NEW-NETWORK");

    // Set Local: with control, not provisional
    EXPECT_TRUE(send(ref.setKey(bcast, 1, newNet, 0x01, true, false)).empty());
    EXPECT_EQ(reportedBlock(0x00), ref.block);
    EXPECT_EQ(device().key1, newNet);
    // The stations still hold the old key: no longer listed
    EXPECT_EQ(stationRepliesTo(bcast), std::vector<Mac>{deviceMac});

    // Set All: local key without control, then setRemoteKey for each old station
    EXPECT_TRUE(send(ref.setKey(bcast, 1, newNet, 0x01, false, false)).empty());
    EXPECT_EQ(reportedBlock(0x00), ref.block);
    const char* passwords[] = {"HX4N-7QPC-3VRA", "MB2T-9KEW-6JZF", "RL8D-5GUY-1SCN"};
    for (size_t i = 0; i < 3; ++i) {
        Block before = ref.block;
        send(ref.setKey(bcast, 0, emu::keyFromPassword(passwords[i]), 0x00, true, true));
        send(ref.setKey(stationMac[i], 1, newNet, 0x01, false, true));
        send(controlFrame(ref.block[23] | 0x40, ref.block[24] | 0x01, 0x01));
        EXPECT_EQ(stationRepliesTo(stationMac[i]), std::vector<Mac>{stationMac[i]}) << i;
        EXPECT_EQ(station(i).networkKey, newNet);
        EXPECT_EQ(ref.block, before);  // setRemoteKey leaves the reference alone
    }
    // setLocalKeys with bytes 6..13 of the reference
    Key restore;
    std::memcpy(restore.data(), ref.block.data() + 6, 8);
    send(ref.setKey(bcast, 0, restore, 0x01, true, true));
    send(ref.setKey(bcast, 1, newNet, 0x01, true, false));
    EXPECT_EQ(reportedBlock(0x00), ref.block);
    EXPECT_EQ(reportedBlock(0x10), ref.block);
    EXPECT_EQ(device().key0, device().deviceKey);
    EXPECT_FALSE(device().provisional);
    EXPECT_EQ(stationRepliesTo(bcast), (std::vector<Mac>{deviceMac, stationMac[0], stationMac[1], stationMac[2]}));
}

// "Add" with a device password: findRemoteDevice, then Set All.
TEST_F(ModelTest, AddFindsTheDeviceByItsPasswordAndSetAllJoinsIt)
{
    Reference ref;
    ref.block = reportedBlock(0x00);
    Key net = emu::keyFromPassword("TideWell");
    Key temporary = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

    send(ref.setKey(bcast, 0, emu::keyFromPassword("KQ7R-2M4X-PL9D"), 0x00, true, true));
    send(ref.setKey(bcast, 1, temporary, 0x01, false, true));
    EXPECT_EQ(reportedBlock(0x00), ref.block);  // the second setKey confirms
    send(controlFrame(ref.block[23] | 0x40, ref.block[24] | 0x01, 0x01));
    // only the station with that device password answers besides the local device
    EXPECT_EQ(stationRepliesTo(bcast), (std::vector<Mac>{deviceMac, stationMac[3]}));

    // Set All with the device just found
    send(ref.setKey(bcast, 1, net, 0x01, false, false));
    EXPECT_EQ(reportedBlock(0x00), ref.block);
    send(ref.setKey(bcast, 0, emu::keyFromPassword("KQ7R-2M4X-PL9D"), 0x00, true, true));
    send(ref.setKey(stationMac[3], 1, net, 0x01, false, true));
    send(controlFrame(ref.block[23] | 0x40, ref.block[24] | 0x01, 0x01));
    EXPECT_EQ(stationRepliesTo(stationMac[3]), std::vector<Mac>{stationMac[3]});
    Key restore;
    std::memcpy(restore.data(), ref.block.data() + 6, 8);
    send(ref.setKey(bcast, 0, restore, 0x01, true, true));
    send(ref.setKey(bcast, 1, net, 0x01, true, false));
    EXPECT_EQ(reportedBlock(0x00), ref.block);

    auto f = send(linkStatsQuery(hostMac))[0].bytes;
    EXPECT_EQ(0, std::memcmp(f.data() + 24 + 3 * 12, stationMac[3].data(), 6));  // now on the network
}

TEST_F(ModelTest, AddWithAWrongPasswordFindsOnlyTheLocalDevice)
{
    Reference ref;
    ref.block = reportedBlock(0x00);
    send(ref.setKey(bcast, 0, emu::keyFromPassword("NOT-A-LABEL"), 0x00, true, true));
    send(ref.setKey(bcast, 1, {1, 2, 3, 4, 5, 6, 7, 8}, 0x01, false, true));
    send(controlFrame(ref.block[23] | 0x40, ref.block[24] | 0x01, 0x01));
    EXPECT_EQ(stationRepliesTo(bcast), std::vector<Mac>{deviceMac});
}

TEST_F(ModelTest, RemoteKeyNeedsTheRemotesDeviceKey)
{
    Key other = {9, 9, 9, 9, 9, 9, 9, 9};
    Reference ref;
    // key select 0 still the local device key: the remote cannot read the frame
    send(ref.setKey(stationMac[3], 1, other, 0x01, false, true));
    EXPECT_EQ(station(3).networkKey, emu::keyFromPassword("Neighbour-7"));
    // with the remote's device key in key select 0 it takes the key; key select 0 in the frame changes nothing
    send(ref.setKey(bcast, 0, emu::keyFromPassword("KQ7R-2M4X-PL9D"), 0x00, true, true));
    send(ref.setKey(stationMac[3], 0, other, 0x01, false, true));
    EXPECT_EQ(station(3).networkKey, emu::keyFromPassword("Neighbour-7"));
    send(ref.setKey(stationMac[3], 1, other, 0x01, false, true));
    EXPECT_EQ(station(3).networkKey, other);
    // and it did not touch any other station
    EXPECT_EQ(station(0).networkKey, emu::keyFromPassword("TideWell"));
}

TEST_F(ModelTest, ProvisionalReachEndsWithANonProvisionalControl)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> ending;
        bool stillReached;
    };
    Reference ref;
    Key label = emu::keyFromPassword("KQ7R-2M4X-PL9D");
    Case cases[] = {
        {"control frame without the mark", controlFrame(0x40, 0x00, 0x01), false},
        {"control frame with the mark", controlFrame(0x40, 0x01, 0x01), true},
        {"key select 1 with a plain control", ref.setKey(bcast, 1, device().key1, 0x01, true, false), false},
        {"key select 1 without control", ref.setKey(bcast, 1, device().key1, 0x01, false, false), true},
        {"key select 0 with a plain control", ref.setKey(bcast, 0, label, 0x01, true, false), false},
    };
    for (const Case& c : cases) {
        send(ref.setKey(bcast, 0, label, 0x00, true, true));
        ASSERT_EQ(stationRepliesTo(stationMac[3]), std::vector<Mac>{stationMac[3]}) << c.name;
        send(c.ending);
        EXPECT_EQ(stationRepliesTo(stationMac[3]).size(), c.stillReached ? 1u : 0u) << c.name;
    }
}

TEST_F(ModelTest, ProvisionalControlBytesAreNotMirrored)
{
    Block before = device().eeprom;
    Reference ref;
    ref.block = before;
    ref.block[24] = 0x04;
    Key k = {1, 3, 5, 7, 9, 11, 13, 15};
    send(ref.setKey(bcast, 1, k, 0x00, true, true));  // mark 0x05
    Block after = device().eeprom;
    EXPECT_EQ(after[14], 1);
    EXPECT_EQ(0, std::memcmp(after.data() + 15, k.data(), 8));
    EXPECT_EQ(after[23], before[23]);
    EXPECT_EQ(after[24], before[24]);
    EXPECT_EQ(after[25], before[25]);
    EXPECT_EQ(device().controlMark, 0x05);
}

TEST_F(ModelTest, SilentDeviceAnswersAndAppliesNothing)
{
    device().faults.silent = true;
    Reference ref;
    for (const auto& f : {discoveryProbe(deviceMac), linkStatsQuery(hostMac), paramQuery(0x00), paramQuery(0x10),
                          stationQuery(bcast), stationQuery(stationMac[0])})
        EXPECT_TRUE(send(f).empty());
    Key k = {1, 1, 1, 1, 1, 1, 1, 1};
    send(ref.setKey(bcast, 1, k, 0x01, true, false));
    EXPECT_NE(device().key1, k);
}

TEST_F(ModelTest, NeverConfirmingDeviceTakesTheKeyButKeepsItsBlocks)
{
    device().faults.neverConfirms = true;
    Block before = device().eeprom;
    Reference ref;
    ref.block = before;
    Key k = emu::keyFromPassword("OTHER-NET");
    send(ref.setKey(bcast, 1, k, 0x01, true, false));
    EXPECT_EQ(reportedBlock(0x00), before);
    EXPECT_EQ(reportedBlock(0x10), before);
    EXPECT_NE(reportedBlock(0x00), ref.block);
    EXPECT_EQ(device().key1, k);
    EXPECT_EQ(stationRepliesTo(bcast), std::vector<Mac>{deviceMac});
}

TEST_F(ModelTest, BlankBlocksAreReportedPerKind)
{
    struct Case {
        bool eeprom, ram;
    } cases[] = {{true, false}, {false, true}, {true, true}};
    for (const Case& c : cases) {
        device().faults.blankEeprom = c.eeprom;
        device().faults.blankRam = c.ram;
        for (uint8_t selector : {0x00, 0x10}) {
            bool blank = selector == 0x00 ? c.eeprom : c.ram;
            Block b = reportedBlock(selector);
            bool sixEqual = std::all_of(b.begin(), b.begin() + 6, [&](uint8_t x) { return x == b[0]; });
            EXPECT_EQ(sixEqual, blank) << c.eeprom << c.ram << int(selector);
        }
    }
    EXPECT_EQ(reportedBlock(0x00)[0], 0xFF);
    EXPECT_EQ(reportedBlock(0x10)[0], 0x00);
    EXPECT_EQ(device().eeprom[0], deviceMac[0]);  // the stored block is intact
}

TEST_F(ModelTest, MalformedReplies)
{
    device().faults.linkStatsLength = 40;
    auto ls = send(linkStatsQuery(hostMac))[0].bytes;
    EXPECT_EQ(ls.size(), 40u);
    EXPECT_EQ(ls[offEntryType], 0x1A);
    EXPECT_EQ(0, std::memcmp(ls.data() + 24, stationMac[0].data(), 6));  // first record, cut after it

    device().faults.paramEntryLength = 0x32;
    device().faults.paramReplyLength = 30;
    auto pr = send(paramQuery(0x00))[0].bytes;
    EXPECT_EQ(pr.size(), 30u);
    EXPECT_EQ(pr[offEntryLength], 0x32);
    EXPECT_EQ(pr[offBlockKind], 1);
}

TEST_F(ModelTest, FloodSpreadsFramesOverTheSpan)
{
    EXPECT_TRUE(net.flood(0, 1000).empty());
    device().faults.floodPerSecond = 200;
    struct Case {
        emu::FloodKind kind;
        uint8_t entryType;
    } cases[] = {{emu::FloodKind::noise, 0x2A}, {emu::FloodKind::linkStats, 0x1A}, {emu::FloodKind::station, 0x08}};
    for (const Case& c : cases) {
        device().faults.floodKind = c.kind;
        uint32_t sequence = 0;
        auto frames = net.flood(0, 500, &sequence);
        ASSERT_EQ(frames.size(), 100u);
        EXPECT_EQ(sequence, 100u);
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].delayMs, i * 5) << i;
            EXPECT_EQ(frames[i].bytes[offEntryType], c.entryType);
            EXPECT_GE(frames[i].bytes.size(), 60u);
        }
        if (c.kind == emu::FloodKind::station) {
            // a new address every frame, continuing across calls
            EXPECT_NE(sourceOf(frames[0]), sourceOf(frames[1]));
            auto more = net.flood(0, 10, &sequence);
            ASSERT_EQ(more.size(), 2u);
            EXPECT_EQ(more[0].bytes[offSource + 5], 100);
        }
    }
    device().faults.silent = true;
    EXPECT_TRUE(net.flood(0, 1000).empty());
}

TEST(DescribeFrame, NamesTheMessageAndItsFields)
{
    Reference ref;
    Key k = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
    struct Case {
        std::vector<uint8_t> frame;
        const char* text;
    } cases[] = {
        {discoveryProbe(hostMac), "DiscoveryProbe 02:b7:1c:00:00:01 > ff:ff:ff:ff:ff:ff len=204"},
        {linkStatsQuery(hostMac), "LinkStatsQuery 02:b7:1c:00:00:01 > ff:ff:ff:ff:ff:ff len=60"},
        {paramQuery(0x10), "ParamQuery 02:b7:1c:00:00:01 > ff:ff:ff:ff:ff:ff selector=0x10 len=60"},
        {stationQuery(stationMac[0]), "StationQuery 02:b7:1c:00:00:01 > 02:b7:1c:20:00:01 len=60"},
        {controlFrame(0x42, 0x05, 0x01),
         "ControlFrame 02:b7:1c:00:00:01 > ff:ff:ff:ff:ff:ff flags=0x42 mark=0x05 value=0x01 len=60"},
        {ref.setKey(bcast, 1, k, 0x01, true, true),
         "SetKeyFrame 02:b7:1c:00:00:01 > ff:ff:ff:ff:ff:ff keySelect=1 key=deadbeef01020304 flags=0x40 mark=0x01 "
         "value=0x01 len=60"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(emu::describeFrame(c.frame.data(), c.frame.size()), c.text);
    EXPECT_EQ(emu::describeFrame(cases[0].frame.data(), 10), "runt frame, 10 bytes");
}

TEST_F(ModelTest, DescribeReplies)
{
    auto ls = send(discoveryProbe(deviceMac))[0].bytes;
    EXPECT_EQ(emu::describeFrame(ls.data(), ls.size()),
              "LinkStatsReply 02:b7:1c:10:1d:01 > 02:b7:1c:10:1d:01 type=1 stations=3 len=204");
    auto pr = send(paramQuery(0x10))[0].bytes;
    std::string text = emu::describeFrame(pr.data(), pr.size());
    EXPECT_EQ(
        text.rfind("ParamReply 02:b7:1c:10:1d:01 > 02:b7:1c:00:00:01 kind=2 entryLength=0x33 keySelect=1 key=", 0), 0u)
        << text;
    EXPECT_NE(text.find(" control=400001 len=68"), std::string::npos) << text;
}

}  // namespace
