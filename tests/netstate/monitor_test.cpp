// The 100 ms monitor on the virtual clock, its timers fired from the table.
#include "replies.h"
#include "keysetlog/keysetlog.h"
#include "zentrik/zentrik.h"

#include <algorithm>

#include <functional>

using namespace nstest;

namespace {

int firedTicks = 0;
void countingTick()
{
    ++firedTicks;
    monitorTick();
}

constexpr Mac profileMac = {0x00, 0x50, 0x8B, 0xAA, 0xBB, 0xCC};

struct SentAt {
    int tick;  // monitor ticks since the mark
    Bytes bytes;
};

class MonitorTest : public NetstateFixture {
protected:
    RecordingView view;
    std::vector<Mac> remotes = {station(1), station(2)};
    std::vector<Listed> listed;
    bool answerLinkStats = true;
    std::vector<SentAt> out;
    int mark = 0;

    void SetUp() override
    {
        NetstateFixture::SetUp();
        firedTicks = 0;
        zsim::addAdapter("eth0", hostMac0.data());
        ASSERT_EQ(openAdapters(), 1);
        adapters[0].devicePresent = 1;
        adapters[0].deviceType = 1;
        std::memcpy(adapters[0].deviceMac, deviceMac0.data(), 6);
        std::memcpy(profiles[0].adapterMac, profileMac.data(), 6);
        setMonitorView(&view);
        listed = {{station(1), 42}, {station(2), 84}};
        zsim::setSendHook([this](int a, const uint8_t* f, size_t n) {
            out.push_back({firedTicks - mark, Bytes(f, f + n)});
            if (f[15] == 0x07 && macAt(f) == broadcast)
                for (const Mac& r : remotes)
                    zsim::deliver(a, stationReply(r), 5);
            if (f[15] == 0x1A && f[17] == 0x80 && answerLinkStats)
                zsim::deliver(a, linkStatsReply(listed), 3);
        });
        ASSERT_NE(SetTimer(monitorIntervalMs, countingTick), 0u);
    }
    void runTicks(int n)
    {
        int target = firedTicks + n;
        while (firedTicks < target) {
            simclock::advance(1);
            platform::runDueTimers();
        }
    }
    void runMs(uint32_t ms)
    {
        uint32_t end = simclock::now() + ms;
        while (static_cast<int32_t>(simclock::now() - end) < 0) {
            simclock::advance(1);
            platform::runDueTimers();
        }
    }
    void deliver(const Bytes& f) { zsim::deliver(0, f); }
    // The frames sent at a tick, as (type, destination, source, byte 17).
    struct Sent {
        uint8_t type;
        Mac to, from;
        uint8_t body;
        bool operator==(const Sent&) const = default;
    };
    std::vector<Sent> sentAt(int tick) const
    {
        std::vector<Sent> r;
        for (const SentAt& s : out)
            if (s.tick == tick)
                r.push_back({s.bytes[15], macAt(s.bytes.data()), macAt(s.bytes.data() + 6), s.bytes[17]});
        return r;
    }
    std::vector<int> sendTicks() const
    {
        std::vector<int> t;
        for (const SentAt& s : out)
            if (t.empty() || t.back() != s.tick)
                t.push_back(s.tick);
        return t;
    }
};

TEST_F(MonitorTest, CycleLengths)
{
    for (int present : {1, 0}) {
        SCOPED_TRACE(present);
        adapters[0].devicePresent = present;
        answerLinkStats = false;
        monitorTicks = 0;
        monitorSecond = 0;
        view.lists.clear();
        out.clear();
        mark = firedTicks;
        // A station without replies since the last pass goes at second 60.
        use(0, station(7), 3.0, 0);
        int cycle = present ? 500 : 600;
        runTicks(cycle - 1);
        EXPECT_EQ(view.lists.size(), 0u);
        EXPECT_EQ(table()[0].inUse, 1);
        runTicks(1);
        ASSERT_EQ(view.lists.size(), 1u);
        EXPECT_EQ(monitorSecond, 0);
        EXPECT_EQ(monitorTicks, 0);
        EXPECT_EQ(table()[0].inUse, 0);
        runTicks(cycle);
        EXPECT_EQ(view.lists.size(), 2u);
        if (present) {
            // Two of each query a cycle: seconds 15/45, 21/51 and so on.
            // Second 15 is reached at tick 150; second 24 sends nothing without paramsSeen.
            EXPECT_EQ(sendTicks(), (std::vector<int>{150, 170, 190, 230, 400, 420, 440, 480, 650, 670, 690, 730, 900,
                                                     920, 940, 980}));
        } else {
            EXPECT_TRUE(out.empty());
        }
        table()[0] = {};
    }
}

TEST_F(MonitorTest, ScanQueriesLeaveAtTheirTicks)
{
    for (int paramsSeen : {0, 1}) {
        SCOPED_TRACE(paramsSeen);
        adapters[0].paramsSeen = paramsSeen;
        answerLinkStats = false;
        out.clear();
        runTicks(3);  // anywhere in the cycle
        mark = firedTicks;
        beginNetworkScan();
        runTicks(90);
        const uint8_t first = paramsSeen ? 0x00 : 0x10;
        EXPECT_EQ(sentAt(1),
                  (std::vector<Sent>{{0x19, broadcast, hostMac0, first}, {0x07, broadcast, profileMac, 0x00}}));
        EXPECT_EQ(sentAt(21),
                  (std::vector<Sent>{{0x07, station(1), hostMac0, 0x00}, {0x07, station(2), hostMac0, 0x00}}));
        EXPECT_EQ(sentAt(41), (std::vector<Sent>{{0x1A, broadcast, hostMac0, 0x80}}));
        std::vector<Sent> at24;
        if (paramsSeen)
            at24.push_back({0x19, broadcast, hostMac0, 0x00});
        EXPECT_EQ(sentAt(61), at24);
        EXPECT_EQ(sentAt(81), (std::vector<Sent>{{0x19, broadcast, hostMac0, 0x10}}));
        EXPECT_EQ(sendTicks(), paramsSeen ? (std::vector<int>{1, 21, 41, 61, 81}) : (std::vector<int>{1, 21, 41, 81}));
        EXPECT_EQ(monitorSecond, 28);
    }
}

TEST_F(MonitorTest, SecondTwentyFourMovesOnWithoutSending)
{
    monitorSecond = 24;
    monitorTicks = 0;
    out.clear();
    adapters[0].paramsSeen = 0;
    runTicks(1);
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(monitorSecond, 25);
    EXPECT_EQ(monitorTicks, 0);

    // Without a device type no parameter query leaves, the station query does.
    adapters[0].deviceType = 0;
    monitorSecond = 15;
    runTicks(1);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes[15], 0x07);
}

TEST_F(MonitorTest, StationQueriesSkipFreeEntries)
{
    use(0, station(10));
    use(2, station(12));
    use(99, station(99));
    monitorSecond = 48;
    mark = firedTicks;
    runTicks(1);
    EXPECT_EQ(sentAt(1), (std::vector<Sent>{{0x07, station(10), hostMac0, 0},
                                            {0x07, station(12), hostMac0, 0},
                                            {0x07, station(99), hostMac0, 0}}));
}

TEST_F(MonitorTest, ScanEndsWithTheLinkStatsReply)
{
    progressActive = 1;
    mark = firedTicks;
    beginNetworkScan();
    EXPECT_EQ(platform::activeTimerCount(), 2);
    runTicks(41);
    EXPECT_EQ(view.qualities.size(), 0u);
    EXPECT_EQ(progressActive, 1);
    runTicks(1);
    ASSERT_EQ(view.qualities.size(), 1u);
    EXPECT_EQ(progressActive, 0);
    EXPECT_EQ(view.scanDialogEnds, 1);
    EXPECT_EQ(view.steps, 42);                   // one step a tick while the scan ran
    EXPECT_EQ(platform::activeTimerCount(), 1);  // the scan timer is gone
    EXPECT_EQ(table()[0].rateMbps, 1.013662013662014);
    EXPECT_EQ(table()[1].rateMbps, 2.1571131571131574);
    // Average (1.0137 + 2.1571) / 2 = 1.585: Fair.
    EXPECT_DOUBLE_EQ(view.qualities[0].average, (1.013662013662014 + 2.1571131571131574) / 2);
    EXPECT_STREQ(view.qualities[0].ratingText, "Link Quality: Fair");
    ASSERT_EQ(view.lists.size(), 1u);
    ASSERT_EQ(view.lists[0].size(), 2u);
    EXPECT_EQ(view.lists[0][0].rate, "1.01");
    EXPECT_EQ(view.lists[0][1].rate, "2.16");

    // No timeout follows; the reply to the half-cycle query refreshes all the same.
    runMs(12000);
    EXPECT_EQ(view.qualities.size(), 1u);
    runTicks(300);
    EXPECT_EQ(view.qualities.size(), 2u);
    EXPECT_EQ(view.scanDialogEnds, 2);
}

TEST_F(MonitorTest, ScanEndsByItsTimer)
{
    answerLinkStats = false;
    progressActive = 1;
    uint32_t begun = simclock::now();
    beginNetworkScan();
    while (view.qualities.empty() && simclock::now() - begun < 20000) {
        simclock::advance(1);
        platform::runDueTimers();
    }
    uint32_t took = simclock::now() - begun;
    EXPECT_GE(took, 10000u);
    EXPECT_LE(took, 10002u);
    ASSERT_EQ(view.qualities.size(), 1u);
    EXPECT_EQ(progressActive, 0);
    EXPECT_EQ(view.scanDialogEnds, 1);
    EXPECT_EQ(platform::activeTimerCount(), 1);
    // The stations were found but never rated.
    ASSERT_EQ(view.lists.size(), 1u);
    ASSERT_EQ(view.lists[0].size(), 2u);
    EXPECT_EQ(view.lists[0][0].rate, "*");
    EXPECT_EQ(view.qualities[0].barPosition, 3);
    EXPECT_STREQ(view.qualities[0].ratingText, "Link Quality: Poor");
    runMs(25000);
    EXPECT_EQ(view.qualities.size(), 1u);  // a one-shot
}

TEST_F(MonitorTest, NewScanReplacesTheRunningTimer)
{
    answerLinkStats = false;
    beginNetworkScan();
    runMs(6000);
    uint32_t second = simclock::now();
    beginNetworkScan();
    EXPECT_EQ(platform::activeTimerCount(), 2);
    while (view.qualities.empty() && simclock::now() - second < 20000) {
        simclock::advance(1);
        platform::runDueTimers();
    }
    EXPECT_GE(simclock::now() - second, 10000u);
    runMs(20000);
    EXPECT_EQ(view.qualities.size(), 1u);
    EXPECT_EQ(platform::activeTimerCount(), 1);
}

TEST_F(MonitorTest, BusyFreezesTheTick)
{
    monitorSecond = 5;
    monitorTicks = 4;
    progressActive = 1;
    busy.catchUpAndSet(true);
    deliver(stationReply(station(3)));
    deliver(paramReply(2, block(0x21)));
    runTicks(30);  // three seconds
    EXPECT_EQ(monitorSecond, 5);
    EXPECT_EQ(monitorTicks, 4);
    EXPECT_EQ(view.steps, 0);
    EXPECT_EQ(table()[0].inUse, 0);
    EXPECT_EQ(referenceBlock[0], 0);
    EXPECT_TRUE(out.empty());

    busy.catchUpAndSet(false);
    runTicks(1);
    EXPECT_EQ(monitorTicks, 5);
    EXPECT_EQ(view.steps, 1);
    EXPECT_EQ(table()[0].inUse, 1);
    EXPECT_EQ(macAt(table()[0].mac), station(3));
    EXPECT_EQ(Bytes(referenceBlock, referenceBlock + 50), block(0x21));
}

TEST_F(MonitorTest, FramesBetweenTicksAreHandledInOrder)
{
    monitorSecond = 2;
    adapters[0].paramsSeen = 0;
    deliver(paramReply(2, block(0x10)));
    deliver(stationReply(station(4)));
    deliver(paramReply(2, block(0x20)));
    deliver(stationReply(station(4)));
    runTicks(1);
    EXPECT_EQ(Bytes(referenceBlock, referenceBlock + 50), block(0x20));
    EXPECT_EQ(table()[0].inUse, 1);
    EXPECT_EQ(table()[0].seenCount, 1);
    EXPECT_EQ(zsim::pendingFrames(0), 0);

    // The intake sets paramsSeen before the monitor sees the frame, so the
    // first kind 1 block is taken at once, and kind 2 no longer is.
    deliver(paramReply(1, block(0x30)));
    deliver(paramReply(2, block(0x40)));
    runTicks(1);
    EXPECT_EQ(adapters[0].paramsSeen, 1);
    EXPECT_EQ(Bytes(referenceBlock, referenceBlock + 50), block(0x30));
}

// A station that floods blank blocks: a tick takes no more than the ring
// holds, the rest waits for the next, and the log gains one record for the
// station in the cycle, written once, with the unconfirmed key change kept.
TEST_F(MonitorTest, BlankBlockFloodIsTakenARingATickAndLoggedOncePerCycle)
{
    appendKeySetLog(logSetNek, 1, paramReply(1, block(0x21)).data());
    const Bytes setNek = readFile("plc.log");
    const auto waiting = [] { return zsim::pendingFrames(0) + receiveSlotsPerAdapter - zsim::postedReads(0); };
    monitorSecond = 2;
    const Bytes blank = paramReply(1, Bytes(50, 0xFF));
    for (int i = 0; i < 1300; ++i)
        deliver(blank);
    ASSERT_EQ(waiting(), 1300);

    runTicks(1);
    EXPECT_EQ(waiting(), 1300 - receiveSlotsPerAdapter);
    const Bytes afterFirst = readFile("plc.log");
    ASSERT_GT(afterFirst.size(), setNek.size());
    EXPECT_TRUE(std::equal(setNek.begin(), setNek.end(), afterFirst.begin()));
    EXPECT_EQ(std::count(afterFirst.begin(), afterFirst.end(), '\n'), 4);

    runTicks(2);
    EXPECT_EQ(waiting(), 0);
    EXPECT_EQ(readFile("plc.log"), afterFirst);
    EXPECT_EQ(monitorSecond, 2);
    EXPECT_EQ(monitorTicks, 3);

    // A new cycle: the station's next blank block is recorded again.
    monitorSecond = 59;
    monitorTicks = 9;
    runTicks(1);
    ASSERT_EQ(monitorSecond, 0);
    deliver(blank);
    deliver(blank);
    runTicks(1);
    const Bytes afterCycle = readFile("plc.log");
    EXPECT_EQ(std::count(afterCycle.begin(), afterCycle.end(), '\n'), 6);
}

// A station flooding one adapter takes no more than its turn: the selected
// adapter's replies are handled in the same tick, not after the flood.
TEST_F(MonitorTest, AFloodOnOneAdapterDoesNotHoldBackAnother)
{
    const Mac hostMac1 = {0x00, 0x50, 0x8B, 0x00, 0x00, 0x02};
    closeAdapters();
    zsim::addAdapter("eth1", hostMac1.data());
    ASSERT_EQ(openAdapters(), 1);
    ASSERT_EQ(adapterCount, 2);
    for (int a = 0; a < 2; ++a) {
        adapters[a].devicePresent = 1;
        adapters[a].deviceType = 1;
        std::memcpy(adapters[a].deviceMac, deviceMac0.data(), 6);
    }
    selectedAdapter = 1;
    monitorSecond = 2;
    const Bytes noise = frame(hostMac0, station(9), 0x1E, 0);
    for (int i = 0; i < 3000; ++i)
        zsim::deliver(0, noise);
    zsim::deliver(1, stationReply(station(4), hostMac1));
    runTicks(1);
    EXPECT_EQ(profiles[1].stations[0].inUse, 1);
    EXPECT_EQ(macAt(profiles[1].stations[0].mac), station(4));
    // The flood is still taken, a ring's worth a tick at most.
    EXPECT_GT(zsim::pendingFrames(0), 0);
}

// A record without a management frame leaves the tick's buffer as it was; the
// frame still in it must not be handled a second time.
TEST_F(MonitorTest, OtherRecordsDoNotRepeatTheLastFrame)
{
    ASSERT_EQ(W32N_SetBPFProgram(zsim::handleOf(0), nullptr, 0), 1);
    monitorSecond = 2;
    Bytes ipv4 = stationReply(station(6));
    ipv4[12] = 0x08;
    ipv4[13] = 0x00;
    deliver(stationReply(station(5)));
    deliver(stationReply(station(5)));
    deliver(ipv4);
    deliver(ipv4);
    runTicks(1);
    EXPECT_EQ(macAt(table()[0].mac), station(5));
    EXPECT_EQ(table()[0].seenCount, 1);
    EXPECT_EQ(table()[1].inUse, 0);
}

TEST_F(MonitorTest, LinkStatsRecognition)
{
    use(0, station(1), 7.0);
    struct Case {
        const char* name;
        uint8_t offset17;
        bool reply;
    } cases[] = {
        {"reply", 0x01, true},
        {"exactly the request mark", 0x80, false},
        {"bit 7 but not 0x80", 0x83, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view.qualities.clear();
        table()[0].rateMbps = 7.0;
        deliver(linkStatsReply({{station(1), 42}}, 204, c.offset17));
        runTicks(1);
        EXPECT_EQ(view.qualities.size(), c.reply ? 1u : 0u);
        EXPECT_EQ(table()[0].rateMbps, c.reply ? 1.013662013662014 : 7.0);
    }
}

// The tick's buffer is not cleared between frames: a short reply after a full
// one must not rate the stations listed only in the older reply's tail.
TEST_F(MonitorTest, ShortLinkStatsReplyAfterAFullOne)
{
    std::vector<Listed> all;
    for (int i = 0; i < 15; ++i) {
        use(i, station(i));
        all.push_back({station(i), 500});
    }
    deliver(linkStatsReply(all));
    runTicks(1);
    for (int i = 0; i < 15; ++i) {
        ASSERT_EQ(table()[i].rateMbps, 13.48272448272448) << i;
        table()[i].rateMbps = 7.0;
    }
    std::vector<Listed> firstTwo = {{station(0), 42}, {station(1), 42}};
    deliver(linkStatsReply(firstTwo, 24 + 2 * 12));
    runTicks(1);
    EXPECT_EQ(table()[0].rateMbps, 1.013662013662014);
    EXPECT_EQ(table()[1].rateMbps, 1.013662013662014);
    for (int i = 2; i < 15; ++i)
        EXPECT_EQ(table()[i].rateMbps, 7.0) << i;

    // Cut inside the second record: only the first counts.
    deliver(linkStatsReply(firstTwo, 24 + 12 + 11));
    table()[0].rateMbps = 7.0;
    table()[1].rateMbps = 7.0;
    runTicks(1);
    EXPECT_EQ(table()[0].rateMbps, 1.013662013662014);
    EXPECT_EQ(table()[1].rateMbps, 7.0);
}

TEST_F(MonitorTest, NoViewNoDrawing)
{
    setMonitorView(nullptr);
    progressActive = 1;
    beginNetworkScan();
    runTicks(60);  // the scan ends without a view to draw on
    EXPECT_EQ(progressActive, 0);
    EXPECT_EQ(table()[0].rateMbps, 1.013662013662014);
}

}  // namespace

// The monitor that wakes only when something is due against one that ticks
// every 100 ms, on the same script: scans, replies, floods beyond a ring, a
// frame that comes on a mark, busy spans across marks and within one. The
// frames sent, their times, what is drawn and the station table must agree
// at every mark, with far fewer wake-ups.
TEST_F(MonitorTest, WakingWhenDueIsTheHundredMillisecondSchedule)
{
    struct Run {
        std::vector<zsim::SentFrame> sent;
        std::vector<Bytes> marks;  // the table and the drawing, mark by mark
        int wakes = 0;
        int second = 0, ticks = 0;
    };
    auto play = [&](bool whenDue) {
        TearDown();
        SetUp();
        simclock::setPollCost(0);
        view = {};
        adapters[0].paramsSeen = 1;
        simclock::advance(37);
        platform::clearTimers();
        if (whenDue)
            startMonitor();
        else
            SetTimer(monitorIntervalMs, countingTick);
        progressActive = 1;
        beginNetworkScan();
        Run r;
        for (uint32_t t = 1; t <= 66000; ++t) {
            simclock::advance(1);
            // As the event loop does before a handler runs.
            if (whenDue && (t == 5000 || t == 20050))
                monitorCatchUp();
            switch (t) {
            case 2345: deliver(stationReply(station(3))); break;
            case 5000: progressActive = 0; break;
            case 7777:
                for (int i = 0; i < 700; ++i)
                    deliver(stationReply(station(10 + i % 40)));
                break;
            case 12340: busy.catchUpAndSet(true); break;
            case 13000: deliver(paramReply(1, block(0x44))); break;
            case 14560: busy.catchUpAndSet(false); break;
            case 20050:
                progressActive = 1;
                beginNetworkScan();
                break;
            case 22222: busy.catchUpAndSet(true); break;
            case 22444: busy.catchUpAndSet(false); break;
            case 30340: busy.catchUpAndSet(true); break;
            case 32560: busy.catchUpAndSet(false); break;
            case 50010: busy.catchUpAndSet(true); break;
            case 50050: busy.catchUpAndSet(false); break;
            case 40000:
                deliver(stationReply(station(5)));
                break;  // on a mark
            // Held by a workflow that sets busy now and then: the marks are lost, one tick follows.
            case 43210:
                busy.catchUpAndSet(true);
                Sleep(700);
                busy.catchUpAndSet(false);
                Sleep(1400);
                busy.catchUpAndSet(true);
                busy.catchUpAndSet(false);
                break;
            }
            r.wakes += platform::runDueTimers();
            if (t % 100 == 0 || t % 100 == 63) {
                Bytes m(reinterpret_cast<const uint8_t*>(table()), reinterpret_cast<const uint8_t*>(table() + 100));
                for (int v : {view.steps, static_cast<int>(view.qualities.size()), static_cast<int>(view.lists.size()),
                              view.scanDialogEnds, progressActive})
                    m.push_back(static_cast<uint8_t>(v));
                r.marks.push_back(m);
            }
        }
        simclock::advance(50);
        r.wakes += platform::runDueTimers();
        monitorCatchUp();
        r.sent = zsim::sentFrames();
        r.second = monitorSecond;
        r.ticks = monitorTicks;
        return r;
    };
    Run every = play(false), due = play(true);
    ASSERT_EQ(due.sent.size(), every.sent.size());
    for (size_t i = 0; i < every.sent.size(); ++i) {
        EXPECT_EQ(due.sent[i].atMs, every.sent[i].atMs) << i;
        EXPECT_EQ(due.sent[i].bytes, every.sent[i].bytes) << i;
    }
    ASSERT_EQ(due.marks.size(), every.marks.size());
    for (size_t i = 0; i < every.marks.size(); ++i)
        ASSERT_EQ(due.marks[i], every.marks[i]) << "mark " << i;
    EXPECT_EQ(std::make_pair(due.second, due.ticks), std::make_pair(every.second, every.ticks));
    EXPECT_GT(every.sent.size(), 20u);
    EXPECT_GE(every.wakes, 650);
    EXPECT_LT(due.wakes * 3, every.wakes);
}
