// Key-setting exchanges: the bytes sent, referenceBlock, the confirmation and
// its log records, and the waits for a remote device's StationReply.
#include "replies.h"
#include "mme/requests.h"
#include "emulator/sim_attach.h"

#include <functional>
#include <map>

using namespace mmetest;

namespace {

const uint8_t key1[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const uint8_t key0[8] = {0xF1, 0xE2, 0xD3, 0xC4, 0xB5, 0xA6, 0x97, 0x88};

Bytes referenceCopy() { return Bytes(referenceBlock, referenceBlock + 50); }

// Each rewrite of "plc.log" ends in a rename over it (the build wraps rename).
int logRewrites = 0;
}  // namespace

extern "C" int __real_rename(const char* from, const char* to);
extern "C" int __wrap_rename(const char* from, const char* to)
{
    if (std::strcmp(to, "plc.log") == 0)
        ++logRewrites;
    return __real_rename(from, to);
}

namespace {

class ExchangeTest : public MmeFixture {
protected:
    // Replies to the n-th ParamQuery (from 0), built when the query leaves.
    std::function<std::vector<Bytes>(int)> paramReplies;
    // Replies to each StationQuery (its destination given), and which try it is.
    std::function<std::vector<Bytes>(const Mac&, int)> stationReplies;
    int paramQueries = 0;
    int stationQueries = 0;
    std::vector<int> busyAtSend;

    void SetUp() override
    {
        MmeFixture::SetUp();
        open(1);
        std::memcpy(adapters[0].deviceMac, deviceMac0.data(), 6);
        adapters[0].devicePresent = 1;
        adapters[0].deviceType = 1;
        zsim::setSendHook([this](int a, const uint8_t* f, size_t n) {
            busyAtSend.push_back(busy);
            if (n < 18)
                return;
            if (f[15] == 0x19 && f[16] == 0x0F) {
                int q = paramQueries++;
                if (paramReplies)
                    for (const Bytes& r : paramReplies(q))
                        zsim::deliver(a, r, 2);
            } else if (f[15] == 0x07) {
                int q = stationQueries++;
                if (stationReplies)
                    for (const Bytes& r : stationReplies(macAt(f), q))
                        zsim::deliver(a, r, 5);
            }
        });
    }
    Bytes matching() const { return paramReply(hostMac0, deviceMac0, 1, referenceCopy()); }
    static Bytes mismatching(uint8_t seed) { return paramReply(hostMac0, deviceMac0, 1, block(seed)); }
};

TEST_F(ExchangeTest, ControlBytesComeFromAndGoToTheReferenceBlock)
{
    struct Case {
        const char* name;
        Mac destination;
        uint8_t keySelect;
        bool withControl;
        bool provisional;
        Bytes sentControl;   // offsets 28 to 30, empty: no ControlEntry
        Bytes controlAfter;  // referenceBlock 23 to 25
        bool keyMirrored;    // referenceBlock 14 to 22
        // clang-format off
    } cases[] = {
        {"broadcast key 1", broadcast, 1, true, false, {0x42, 0x04, 0x01}, {0x42, 0x04, 0x01}, true},
        {"provisional", broadcast, 1, true, true, {0x42, 0x05, 0x01}, {0x02, 0x04, 0x77}, true},
        {"no ControlEntry still writes the bytes", broadcast, 1, false, false, {}, {0x42, 0x04, 0x01}, true},
        {"key select 0", broadcast, 0, true, false, {0x42, 0x04, 0x01}, {0x42, 0x04, 0x01}, false},
        {"unicast", remoteMac, 1, false, true, {}, {0x02, 0x04, 0x77}, false},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes before = block(0x90);
        before[23] = 0x02;
        before[24] = 0x04;
        before[25] = 0x77;
        std::memcpy(referenceBlock, before.data(), 50);
        zsim::clearSent();

        EXPECT_TRUE(setKey(0, {.source = hostMac0.data(),
                               .destination = c.destination.data(),
                               .keySelect = c.keySelect,
                               .key = key1,
                               .controlValue = 0x01,
                               .withControl = c.withControl,
                               .provisional = c.provisional}));
        ASSERT_EQ(zsim::sentFrames().size(), 1u);
        const Bytes& f = zsim::sentFrames()[0].bytes;
        EXPECT_EQ(f[14], c.withControl ? 2 : 1);
        EXPECT_EQ(f[17], c.keySelect);
        EXPECT_EQ(0, std::memcmp(f.data() + 18, key1, 8));
        if (c.sentControl.empty())
            EXPECT_EQ(Bytes(f.begin() + 26, f.begin() + 32), Bytes(6, 0));
        else
            EXPECT_EQ(Bytes(f.begin() + 28, f.begin() + 31), c.sentControl);

        Bytes after = referenceCopy();
        EXPECT_EQ(Bytes(after.begin() + 23, after.begin() + 26), c.controlAfter);
        Bytes expectedKey(before.begin() + 14, before.begin() + 23);
        if (c.keyMirrored) {
            expectedKey = {c.keySelect};
            expectedKey.insert(expectedKey.end(), key1, key1 + 8);
        }
        EXPECT_EQ(Bytes(after.begin() + 14, after.begin() + 23), expectedKey);
        // Nothing else of the block moves.
        EXPECT_EQ(Bytes(after.begin(), after.begin() + 14), Bytes(before.begin(), before.begin() + 14));
        EXPECT_EQ(Bytes(after.begin() + 26, after.end()), Bytes(before.begin() + 26, before.end()));
    }
}

TEST_F(ExchangeTest, NoConfirmationWithoutAllThreeConditions)
{
    struct Case {
        const char* name;
        Mac destination;
        uint8_t keySelect;
        int paramsSeen;
        // clang-format off
    } cases[] = {
        {"key select 0", broadcast, 0, 1},
        {"unicast", remoteMac, 1, 1},
        {"paramsSeen clear", broadcast, 1, 0},
    };
    // clang-format on
    paramReplies = [](int) { return std::vector<Bytes>{mismatching(1)}; };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        adapters[0].paramsSeen = c.paramsSeen;
        zsim::clearSent();
        uint32_t start = simclock::now();
        lastKeyConfirmed = 1;  // an earlier key's answer is not this one's
        EXPECT_TRUE(setKey(0, {.source = hostMac0.data(),
                               .destination = c.destination.data(),
                               .keySelect = c.keySelect,
                               .key = key1,
                               .controlValue = 1,
                               .withControl = true}));
        EXPECT_EQ(lastKeyConfirmed, -1);
        EXPECT_LT(simclock::now() - start, 2u);
        EXPECT_EQ(zsim::sentFrames().size(), 1u);
        EXPECT_EQ(paramQueries, 0);
        EXPECT_EQ(busy, 0);
    }
    EXPECT_TRUE(logEvents().empty());
}

TEST_F(ExchangeTest, Confirmation)
{
    struct Case {
        const char* name;
        std::function<std::vector<Bytes>(int)> replies;
        int queries;
        std::vector<std::string> records;  // event lines expected in plc.log
    };
    const Bytes a = block(0x11), b = block(0x22), c = block(0x33);
    auto kind2 = [this]() { return paramReply(hostMac0, deviceMac0, 2, referenceCopy()); };
    // clang-format off
    std::vector<Case> cases = {
        {"matches at once", [this](int) { return std::vector<Bytes>{matching()}; }, 1, {}},
        {"match from another source", [this](int) {
             return std::vector<Bytes>{paramReply(broadcast, strangerMac, 1, referenceCopy())};
         }, 1, {}},
        {"matches in the second try",
         [&, this](int q) {
             if (q == 0)
                 return std::vector<Bytes>{paramReply(hostMac0, deviceMac0, 1, a),
                                           paramReply(hostMac0, deviceMac0, 1, b)};
             return std::vector<Bytes>{matching()};
         },
         2, {"**SETNEK**Retry=0" + hexBlock(a.data()), "**SETNEK**Retry=0" + hexBlock(b.data())}},
        {"never matches",
         [&](int q) { return std::vector<Bytes>{paramReply(hostMac0, deviceMac0, 1, q == 2 ? c : a)}; },
         3,
         {"**SETNEK**Retry=0" + hexBlock(a.data()), "**SETNEK**Retry=1" + hexBlock(a.data()),
          "**SETNEK**Retry=2" + hexBlock(c.data())}},
        {"kind 2 is neither match nor mismatch",
         [&](int) { return std::vector<Bytes>{kind2(), paramReply(hostMac0, deviceMac0, 2, a)}; }, 3, {}},
        {"the query's own form and short replies count for nothing",
         [&, this](int) {
             return std::vector<Bytes>{paramReply(hostMac0, deviceMac0, 1, referenceCopy(), 0x0F),
                                       paramReply(hostMac0, deviceMac0, 1, referenceCopy(), 0x33, 67)};
         },
         3, {}},
        {"silence", [](int) { return std::vector<Bytes>{}; }, 3, {}},
        {"a flood of wrong blocks keeps the newest ten",
         [&, this](int q) { return q == 0 ? std::vector<Bytes>(300, paramReply(hostMac0, deviceMac0, 1, a))
                                          : std::vector<Bytes>{matching()}; },
         2, std::vector<std::string>(10, "**SETNEK**Retry=0" + hexBlock(a.data()))},
    };
    // clang-format on
    const Mac source = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        drain();
        std::remove("plc.log");
        std::memcpy(referenceBlock, block(0x70).data(), 50);
        adapters[0].paramsSeen = 1;
        paramQueries = 0;
        paramReplies = k.replies;
        zsim::clearSent();
        busyAtSend.clear();
        uint32_t start = simclock::now();
        uint64_t slept = simclock::sleptMs();
        const int rewrites = logRewrites;

        EXPECT_TRUE(setKey(0, {.source = source.data(),
                               .destination = broadcast.data(),
                               .keySelect = 1,
                               .key = key1,
                               .controlValue = 0x01,
                               .withControl = true}));
        EXPECT_EQ(simclock::sleptMs(), slept);  // the confirmation spins, it never sleeps
        // However many records, "plc.log" is written once.
        EXPECT_EQ(logRewrites - rewrites, k.records.empty() ? 0 : 1);

        uint32_t spent = simclock::now() - start;
        EXPECT_EQ(paramQueries, k.queries);
        EXPECT_EQ(logEvents(), k.records);
        if (k.queries == 3) {
            // 100 ms settle and three full windows
            EXPECT_GE(spent, 1600u);
            EXPECT_LT(spent, 1610u);
        }
        std::vector<Bytes> out = sent(0);
        ASSERT_EQ(out.size(), 1u + static_cast<size_t>(k.queries));
        EXPECT_EQ(out[0][15], 0x04);
        for (size_t i = 1; i < out.size(); ++i) {
            // clang-format off
            const Bytes golden = {
                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // destination: broadcast
                0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE,  // source: the one setKey was given
                0x88, 0x7B, 0x01,                    // Ethertype, one entry
                0x19, 0x0F, 0x00,                    // ParamQuery, length 15, selector 0x00
            };
            // clang-format on
            EXPECT_EQ(Bytes(out[i].begin(), out[i].begin() + 18), golden);
        }
        // The first query leaves after the settle.
        if (out.size() > 1) {
            EXPECT_GE(zsim::sentFrames()[1].atMs - zsim::sentFrames()[0].atMs, 100u);
        }
        EXPECT_EQ(busyAtSend, std::vector<int>(out.size(), 1));
        EXPECT_EQ(busy, 0);
    }
}

TEST_F(ExchangeTest, FailedSendStillUpdatesTheReference)
{
    zsim::setSendMode(0, zsim::SendMode::fails);
    adapters[0].paramsSeen = 0;
    busy.catchUpAndSet(true);
    EXPECT_FALSE(setKey(0, {.source = hostMac0.data(),
                            .destination = broadcast.data(),
                            .keySelect = 1,
                            .key = key1,
                            .controlValue = 0x01,
                            .withControl = true}));
    EXPECT_EQ(referenceBlock[14], 1);
    EXPECT_EQ(0, std::memcmp(referenceBlock + 15, key1, 8));
    EXPECT_EQ(referenceBlock[23], 0x40);
    EXPECT_EQ(referenceBlock[25], 0x01);
    EXPECT_EQ(busy, 0);  // cleared whatever it was before
}

TEST_F(ExchangeTest, HandleParamReplyBlankBlocks)
{
    struct Case {
        const char* name;
        uint8_t fill;
        uint8_t kind;
        const char* marker;  // nullptr: no record
        // clang-format off
    } cases[] = {
        {"six 0x00 of kind 1", 0x00, 1, "**EEPROM**"},
        {"six 0xFF of kind 2", 0xFF, 2, "** RAM  **"},
        {"six 0xFF of kind 1", 0xFF, 1, "**EEPROM**"},
        {"six 0x5A of kind 2", 0x5A, 2, "** RAM  **"},
        {"blank of kind 3", 0x00, 3, nullptr},
    };
    // clang-format on
    for (int paramsSeen : {0, 1}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (paramsSeen ? ", paramsSeen" : ""));
            std::remove("plc.log");
            adapters[0].paramsSeen = paramsSeen;
            Bytes reference = block(0x70);
            std::memcpy(referenceBlock, reference.data(), 50);
            Bytes blk = block(0x01);
            std::fill(blk.begin(), blk.begin() + 6, c.fill);
            Bytes reply = paramReply(hostMac0, deviceMac0, c.kind, blk);
            handleParamReply({reply.data(), reply.size()});
            EXPECT_EQ(referenceCopy(), reference);
            std::vector<std::string> expected;
            if (c.marker)
                expected.push_back(c.marker + hexBlock(blk.data()));
            EXPECT_EQ(logEvents(), expected);
        }
    }
}

TEST_F(ExchangeTest, HandleParamReplyKindFollowsParamsSeen)
{
    for (int paramsSeen : {0, 1}) {
        for (uint8_t kind : {1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << "paramsSeen " << paramsSeen << " kind " << int(kind));
            adapters[0].paramsSeen = paramsSeen;
            Bytes reference = block(0x70);
            std::memcpy(referenceBlock, reference.data(), 50);
            // Five equal bytes and a sixth that differs: not blank.
            Bytes blk = block(0x05);
            std::fill(blk.begin(), blk.begin() + 5, 0x00);
            Bytes reply = paramReply(hostMac0, deviceMac0, kind, blk);
            handleParamReply({reply.data(), reply.size()});
            bool taken = (paramsSeen && kind == 1) || (!paramsSeen && kind == 2);
            EXPECT_EQ(referenceCopy(), taken ? blk : reference);
        }
    }
    EXPECT_TRUE(logEvents().empty());

    // The selected adapter decides, not the one the reply came in on.
    adapters[0].paramsSeen = 0;
    adapters[1].paramsSeen = 1;
    selectedAdapter = 1;
    std::memcpy(referenceBlock, block(0x70).data(), 50);
    Bytes reply = paramReply(hostMac0, deviceMac0, 1, block(0x44));
    handleParamReply({reply.data(), reply.size()});
    EXPECT_EQ(referenceCopy(), block(0x44));

    // Not a whole ParamReply: nothing.
    Bytes shortReply = paramReply(hostMac0, deviceMac0, 1, block(0x55), 0x33, 67);
    handleParamReply({shortReply.data(), shortReply.size()});
    Bytes query = paramReply(hostMac0, deviceMac0, 1, block(0x55), 0x0F);
    handleParamReply({query.data(), query.size()});
    EXPECT_EQ(referenceCopy(), block(0x44));
}

TEST_F(ExchangeTest, SetRemoteKeyWaitsForTheRemoteItself)
{
    const Bytes reference = [] {
        Bytes r = block(0x70);
        r[23] = 0x02;
        r[24] = 0x04;
        return r;
    }();
    struct Case {
        const char* name;
        int remoteAnswersFromTry;  // -1: never
        bool result;
        int tries;
        // clang-format off
    } cases[] = {
        {"first try", 0, true, 1},
        {"second try", 1, true, 2},
        {"never", -1, false, 3},
    };
    // clang-format on
    adapters[0].paramsSeen = 1;  // no confirmation happens all the same
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drain();
        std::memcpy(referenceBlock, reference.data(), 50);
        stationQueries = 0;
        paramQueries = 0;
        busyAtSend.clear();
        zsim::clearSent();
        stationReplies = [&](const Mac&, int q) {
            // The local device and a stranger always answer, before the remote.
            std::vector<Bytes> r = {stationReply(hostMac0, deviceMac0), stationReply(hostMac0, strangerMac)};
            if (c.remoteAnswersFromTry >= 0 && q >= c.remoteAnswersFromTry)
                r.push_back(stationReply(hostMac0, remoteMac));
            return r;
        };
        uint32_t start = simclock::now();
        EXPECT_EQ(setRemoteKey(key0, key1, remoteMac.data()), c.result);
        uint32_t spent = simclock::now() - start;

        std::vector<Bytes> out = sent(0);
        ASSERT_EQ(out.size(), 4u * static_cast<size_t>(c.tries));
        for (int t = 0; t < c.tries; ++t) {
            const Bytes* f = &out[4 * static_cast<size_t>(t)];
            // clang-format off
            const Bytes first = {
                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // broadcast
                0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // ownMac
                0x88, 0x7B, 0x02,                    // two entries
                0x04, 0x09, 0x00,                    // SetKeyEntry, key select 0
                0xF1, 0xE2, 0xD3, 0xC4, 0xB5, 0xA6, 0x97, 0x88,  // key0
                0x1F, 0x03, 0x42, 0x05, 0x00,        // ControlEntry: flags, provisional mark, value 0
                0x00,
            };
            // clang-format on
            EXPECT_EQ(Bytes(f[0].begin(), f[0].begin() + 32), first);
            // clang-format off
            const Bytes second = {
                0x02, 0x77, 0x88, 0x99, 0xAA, 0xBB,  // the remote
                0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // ownMac
                0x88, 0x7B, 0x01,                    // one entry
                0x04, 0x09, 0x01,                    // SetKeyEntry, key select 1
                0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,  // key1
                0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            };
            // clang-format on
            EXPECT_EQ(Bytes(f[1].begin(), f[1].begin() + 32), second);
            // clang-format off
            const Bytes control = {
                0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  // broadcast
                0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // ownMac
                0x88, 0x7B, 0x01,                    // one entry
                0x1F, 0x03, 0x42, 0x05, 0x01,        // ControlFrame: block 23 | 0x40, block 24 | 0x01, 0x01
            };
            // clang-format on
            EXPECT_EQ(Bytes(f[2].begin(), f[2].begin() + 20), control);
            // clang-format off
            const Bytes query = {
                0x02, 0x77, 0x88, 0x99, 0xAA, 0xBB,  // the remote
                0x00, 0x50, 0x8B, 0x00, 0x00, 0x01,  // ownMac
                0x88, 0x7B, 0x01, 0x07, 0x00, 0x00,  // StationQuery
            };
            // clang-format on
            EXPECT_EQ(Bytes(f[3].begin(), f[3].begin() + 18), query);
        }
        if (!c.result) {
            EXPECT_GE(spent, 1500u);
        }
        EXPECT_EQ(paramQueries, 0);
        EXPECT_EQ(referenceCopy(), reference);
        EXPECT_EQ(busy, 0);
        // busy is held while each SetKeyFrame leaves.
        for (int t = 0; t < c.tries; ++t) {
            EXPECT_EQ(busyAtSend[4 * static_cast<size_t>(t)], 1);
            EXPECT_EQ(busyAtSend[4 * static_cast<size_t>(t) + 1], 1);
        }
    }
}

TEST_F(ExchangeTest, FindRemoteDevicePassesOverTheLocalDevice)
{
    struct Case {
        const char* name;
        std::vector<Mac> answer;  // in arrival order, to every broadcast StationQuery
        bool result;
        Mac out;
        // clang-format off
    } cases[] = {
        {"local first, then the remote", {deviceMac0, remoteMac, strangerMac}, true, remoteMac},
        {"the first other responder", {strangerMac, remoteMac}, true, strangerMac},
        {"only the local device", {deviceMac0}, false, Mac{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
        {"nobody", {}, false, Mac{0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}},
    };
    // clang-format on
    adapters[0].paramsSeen = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        drain();
        std::memset(referenceBlock, 0, 50);
        stationQueries = 0;
        zsim::clearSent();
        stationReplies = [&](const Mac& to, int) {
            std::vector<Bytes> r;
            if (to == broadcast)
                for (const Mac& m : c.answer)
                    r.push_back(stationReply(hostMac0, m));
            return r;
        };
        Mac out = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        uint64_t slept = simclock::sleptMs();
        EXPECT_EQ(findRemoteDevice(key0, key1, out.data()), c.result);
        // 10 ms naps whenever nothing waits: nearly all of three 500 ms windows.
        if (!c.result) {
            EXPECT_GE(simclock::sleptMs() - slept, 1400u);
            EXPECT_EQ((simclock::sleptMs() - slept) % 10, 0u);
        }
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(stationQueries, c.result ? 1 : 3);
        std::vector<Bytes> out0 = sent(0);
        ASSERT_EQ(out0.size(), c.result ? 4u : 12u);
        EXPECT_EQ(macAt(out0[1].data()), broadcast);  // key 1 goes to broadcast here
        EXPECT_EQ(out0[1][14], 1);
        EXPECT_EQ(macAt(out0[3].data()), broadcast);
        // Key select 1 and key1 are mirrored; control bytes stay (provisional).
        EXPECT_EQ(referenceBlock[14], 1);
        EXPECT_EQ(0, std::memcmp(referenceBlock + 15, key1, 8));
        EXPECT_EQ(referenceBlock[23], 0);
        EXPECT_EQ(busy, 0);
    }
}

TEST_F(ExchangeTest, FindRemoteDeviceConfirmsKeyOneWhenParamsSeen)
{
    adapters[0].paramsSeen = 1;
    paramReplies = [this](int) { return std::vector<Bytes>{matching()}; };
    stationReplies = [](const Mac&, int) { return std::vector<Bytes>{stationReply(hostMac0, remoteMac)}; };
    Mac out{};
    EXPECT_TRUE(findRemoteDevice(key0, key1, out.data()));
    EXPECT_EQ(out, remoteMac);
    EXPECT_EQ(paramQueries, 1);
    std::vector<Bytes> o = sent(0);
    ASSERT_EQ(o.size(), 5u);
    std::vector<uint8_t> types;
    for (const Bytes& f : o)
        types.push_back(f[15]);
    EXPECT_EQ(types, (std::vector<uint8_t>{0x04, 0x04, 0x19, 0x1F, 0x07}));
    EXPECT_TRUE(logEvents().empty());
}

TEST_F(ExchangeTest, SetLocalKeys)
{
    referenceBlock[23] = 0x02;
    referenceBlock[24] = 0x04;
    adapters[0].paramsSeen = 0;
    EXPECT_TRUE(setLocalKeys(key0, key1));
    std::vector<Bytes> out = sent(0);
    ASSERT_EQ(out.size(), 2u);
    // Key select 0, provisional: mark 0x05; key select 1 not provisional: 0x04.
    EXPECT_EQ(Bytes(out[0].begin() + 14, out[0].begin() + 18), (Bytes{0x02, 0x04, 0x09, 0x00}));
    EXPECT_EQ(Bytes(out[0].begin() + 26, out[0].begin() + 32), (Bytes{0x1F, 0x03, 0x42, 0x05, 0x01, 0x00}));
    EXPECT_EQ(Bytes(out[1].begin() + 14, out[1].begin() + 18), (Bytes{0x02, 0x04, 0x09, 0x01}));
    EXPECT_EQ(Bytes(out[1].begin() + 26, out[1].begin() + 32), (Bytes{0x1F, 0x03, 0x42, 0x04, 0x01, 0x00}));
    EXPECT_EQ(Bytes(referenceBlock + 14, referenceBlock + 26),
              (Bytes{0x01, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x42, 0x04, 0x01}));
    // Neither key is used as key0 in the block's restore bytes.
    EXPECT_EQ(Bytes(referenceBlock + 6, referenceBlock + 14), Bytes(8, 0));
}

// The same confirmation against the device model.
TEST_F(ExchangeTest, ConfirmationAgainstTheEmulator)
{
    zsim::setSendHook(nullptr);
    closeAdapters();
    zsim::reset();
    for (bool neverConfirms : {false, true}) {
        SCOPED_TRACE(neverConfirms);
        std::remove("plc.log");
        emu::Network net;
        emu::EmulatedAdapter a;
        a.interfaceName = "eth0";
        a.hostMac = hostMac0;
        a.device = emu::makeDevice(deviceMac0, 1, "DEVICE-PW-0001");
        a.device.faults.neverConfirms = neverConfirms;
        net.addAdapter(a);
        zsim::reset();
        emu::addSimAdapters(net);
        emu::attachToSimDriver(net);
        ASSERT_EQ(openAdapters(), 1);
        adapters[0].paramsSeen = 1;
        // The monitor would have taken the device's block as the reference.
        std::memcpy(referenceBlock, net.adapter(0).device.eeprom.data(), 50);

        EXPECT_TRUE(setKey(0, {.source = hostMac0.data(),
                               .destination = broadcast.data(),
                               .keySelect = 1,
                               .key = key1,
                               .controlValue = 0x01,
                               .withControl = true}));
        EXPECT_EQ(0, std::memcmp(net.adapter(0).device.key1.data(), key1, 8));
        std::vector<std::string> events = logEvents();
        if (neverConfirms) {
            ASSERT_EQ(events.size(), 3u);
            for (int i = 0; i < 3; ++i)
                EXPECT_EQ(events[static_cast<size_t>(i)].rfind("**SETNEK**Retry=" + std::to_string(i) + " ", 0), 0u);
        } else {
            EXPECT_TRUE(events.empty());
            EXPECT_EQ(0, std::memcmp(net.adapter(0).device.eeprom.data(), referenceBlock, 50));
        }
        emu::detachFromSimDriver();
        closeAdapters();
    }
}

}  // namespace
