// The workflows of the session layer against the emulated home network, driven
// as a caller without an event loop drives them: a call, then service() every
// 100 ms of virtual time.
#include "session/session.h"

#include "emulator/sim_attach.h"
#include "history/history.h"
#include "session/degradation.h"
#include "session/recording.h"
#include "frames/frame.h"
#include "keys/password.h"
#include "link/flags.h"
#include "link/link.h"
#include "mme/exchange.h"
#include "netstate/profiles.h"
#include "platform/simclock.h"
#include "support/scratch.h"
#include "support/sim_system.h"
#include "frames/mac.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <fstream>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace simsystem;

namespace {

const Key tideWellKey = derivedKey("TideWell");

class SessionTest : public SimSystemTest {
protected:
    void SetUp() override
    {
        SimSystemTest::SetUp();
        slowStarts = 0;
        session::setSlowStartHook([] { ++slowStarts; });
    }

    // Starts on home.json and waits for the first scan, as brennicctl does.
    session::StartResult startHomeSession()
    {
        load("home.json");
        simclock::setPollCost(1000);
        session::StartResult start = session::start();
        simclock::setPollCost(100);
        if (start.started) {
            EXPECT_TRUE(serviceUntilScanEnds());
        }
        zsim::clearSent();
        return start;
    }

    // service() every 100 ms until a scan more has ended; false after 11 s without.
    static bool serviceUntilScanEnds()
    {
        int before = session::scansFinished();
        for (uint32_t t = 0; t < 11000 && session::scansFinished() == before; t += monitorIntervalMs) {
            simclock::advance(monitorIntervalMs);
            session::service();
        }
        return session::scansFinished() > before && !session::scanRunning();
    }

    // The network key the local device's parameter block holds.
    Key blockNetworkKey() const
    {
        Key key;
        std::memcpy(key.data(), network.adapter(0).device.eeprom.data() + mme::blockKey, key.size());
        return key;
    }

    static std::vector<std::string> stationMacs(const session::ScanResult& scan)
    {
        std::vector<std::string> macs;
        for (const StationRow& row : scan.stations)
            macs.push_back(row.mac);
        return macs;
    }

    static inline int slowStarts = 0;
};

const std::vector<std::string> homeStations = {"02:b7:1c:20:00:01", "02:b7:1c:20:00:02", "02:b7:1c:20:00:03"};

TEST_F(SessionTest, StartFindsTheDevicesAndScansWithoutAnEventLoop)
{
    session::StartResult start = startHomeSession();
    ASSERT_TRUE(start.started);
    EXPECT_EQ(start.box, session::Box::none);
    EXPECT_EQ(start.selected, 0);
    ASSERT_EQ(start.adapters.size(), 1u);
    const session::AdapterInfo& a = start.adapters[0];
    EXPECT_EQ(a.name, "plc0");
    EXPECT_EQ(a.mac, "02:b7:1c:00:00:01");
    EXPECT_TRUE(a.devicePresent);
    EXPECT_EQ(a.deviceType, 1);
    EXPECT_EQ(a.typeName, "Orvane QM44 (USB)");
    EXPECT_EQ(a.deviceMac, "02:b7:1c:10:1d:01");
    EXPECT_EQ(session::adapterByName("plc0"), 0);
    EXPECT_EQ(session::adapterByName("plc"), -1);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(slowStarts, 0) << "the device answered the first probe";

    // The first scan ended on the link-statistics reply, long before its 10 s.
    const session::ScanResult& scan = session::lastScan();
    EXPECT_EQ(stationMacs(scan), homeStations);
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.2f", rateFromLinkValue(400));
    EXPECT_EQ(scan.stations[2].rate, rate);
    EXPECT_EQ(scan.average, (rateFromLinkValue(20) + rateFromLinkValue(50) + rateFromLinkValue(400)) / 3);
    EXPECT_STREQ(scan.quality.ratingText, "Link Quality: Excellent");

    // A scan of its own, and another after the device has gone silent: that one ends at 10 s, empty.
    session::beginScan();
    EXPECT_TRUE(session::scanRunning());
    ASSERT_TRUE(serviceUntilScanEnds());
    EXPECT_EQ(stationMacs(session::lastScan()), homeStations);
    network.adapter(0).device.faults.silent = true;
    uint32_t began = simclock::now();
    session::beginScan();
    ASSERT_TRUE(serviceUntilScanEnds());
    EXPECT_GE(simclock::now() - began, scanTimeoutMs);
    EXPECT_TRUE(session::lastScan().stations.empty());
    EXPECT_STREQ(session::lastScan().quality.ratingText, "Link Quality: Poor");

    // Refresh: the adapters closed and opened again, the same start sequence.
    network.adapter(0).device.faults.silent = false;
    session::StartResult again = session::refresh();
    ASSERT_TRUE(again.started);
    EXPECT_EQ(again.adapters.size(), 1u);
    ASSERT_TRUE(serviceUntilScanEnds());
    EXPECT_EQ(stationMacs(session::lastScan()), homeStations);

    session::end();
    EXPECT_EQ(adapterCount, 0);
    EXPECT_EQ(sessionOpen, 0);
}

TEST_F(SessionTest, StartWithoutADeviceOrAdapterCallsForTheBox)
{
    load("home.json", [](emu::Network& n) { n.adapter(0).device.faults.silent = true; });
    // Begun early the start runs on a thread of its own; the caller is told on its own thread.
    for (bool early : {false, true}) {
        SCOPED_TRACE(early);
        slowStarts = 0;
        static std::thread::id toldOn;
        session::setSlowStartHook([] {
            ++slowStarts;
            toldOn = std::this_thread::get_id();
        });
        busy.catchUpAndSet(false);
        size_t sentBefore = zsim::sentFrames().size();
        if (early)
            session::beginStartEarly();
        session::StartResult start = session::start();
        EXPECT_FALSE(start.started);
        EXPECT_FALSE(start.noAdapter);
        EXPECT_EQ(start.box, session::Box::invalidConfiguration);
        EXPECT_STREQ(session::boxCaption(start.box), "Invalid Configuration");
        EXPECT_EQ(adapterCount, 0) << "closed again";
        EXPECT_EQ(busy, 1) << "the monitor stays idle without a session";
        // Discovery took its five windows, 4.25 s: the caller was told once, after half a second.
        EXPECT_EQ(slowStarts, 1);
        EXPECT_EQ(toldOn, std::this_thread::get_id());
        EXPECT_EQ(zsim::sentFrames().size() - sentBefore, 5u) << "five probes";
    }

    emu::detachFromSimDriver();
    zsim::reset();
    session::StartResult start = session::start();
    EXPECT_FALSE(start.started);
    EXPECT_TRUE(start.noAdapter);
    EXPECT_EQ(start.box, session::Box::invalidConfiguration);
}

TEST_F(SessionTest, SetLocalAndRestoreDefault)
{
    ASSERT_TRUE(startHomeSession().started);

    // Refused texts send nothing and store nothing.
    for (std::string_view refused :
         {std::string_view("abc"), std::string_view(""), std::string_view("twenty-five-characters-xx"),
          std::string_view("tab\there"), std::string_view("nul\0byte", 8)}) {
        session::PasswordResult r = session::setLocal(refused);
        EXPECT_EQ(r.box, session::Box::invalidNetworkPassword) << refused;
        EXPECT_FALSE(r.sent);
        EXPECT_FALSE(r.saveTried);
    }
    EXPECT_TRUE(zsim::sentFrames().empty());
    EXPECT_EQ(session::networkPassword(), "TideWell");

    session::PasswordResult r = session::setLocal("Harbour-Light-9");
    EXPECT_EQ(r.box, session::Box::none);
    EXPECT_TRUE(r.sent);
    EXPECT_TRUE(r.confirmed);
    EXPECT_TRUE(r.saveTried && r.saved);
    EXPECT_EQ(localDevice().key1, derivedKey("Harbour-Light-9"));
    EXPECT_EQ(session::networkPassword(), "Harbour-Light-9");
    EXPECT_STREQ(savedProfile(0).networkPassword, "Harbour-Light-9");
    // The file also keeps which adapter this is and the device behind it.
    NetworkProfile saved = savedProfile(0);
    EXPECT_EQ(saved.localDevicePresent, 1);
    EXPECT_EQ(saved.localDeviceType, 1);
    EXPECT_EQ(frames::Mac::of(saved.localDeviceMac).text(), "02:b7:1c:10:1d:01");
    EXPECT_EQ(frames::Mac::of(saved.adapterMac).text(), "02:b7:1c:00:00:01");
    // The background scan finds nobody on the new network.
    EXPECT_TRUE(session::scanRunning());
    ASSERT_TRUE(serviceUntilScanEnds());
    EXPECT_TRUE(session::lastScan().stations.empty());

    r = session::restoreDefault();
    EXPECT_TRUE(r.confirmed);
    EXPECT_EQ(localDevice().key1, tideWellKey);
    EXPECT_EQ(session::networkPassword(), "TideWell");
    ASSERT_TRUE(serviceUntilScanEnds());
    EXPECT_EQ(stationMacs(session::lastScan()), homeStations);

    // A device that takes the key but never shows it in its block: sent, not confirmed.
    localDevice().faults.neverConfirms = true;
    r = session::setLocal("Harbour-Light-9");
    EXPECT_TRUE(r.sent);
    EXPECT_FALSE(r.confirmed);
    EXPECT_TRUE(r.saved);
}

// A command run straight after the start: the monitor has not yet asked for
// the device's block, and the key is confirmed against the one discovery read.
// A blank block is not taken: the control bytes are those of an empty reference.
TEST_F(SessionTest, SetLocalStraightAfterTheStart)
{
    for (const char* scenario : {"home.json", "blank-blocks.json"}) {
        SCOPED_TRACE(scenario);
        const bool blank = std::string(scenario) == "blank-blocks.json";
        zsim::reset();
        network.clear();
        resetSystemState();
        std::remove("plc.log");
        load(scenario);
        simclock::setPollCost(1000);
        ASSERT_TRUE(session::start().started);
        simclock::setPollCost(100);
        const uint8_t none[sizeof referenceBlock] = {};
        EXPECT_EQ(std::memcmp(referenceBlock, blank ? none : localDevice().eeprom.data(), sizeof none), 0);
        zsim::clearSent();

        session::PasswordResult r = session::setLocal("Harbour-Light-9");
        std::vector<zsim::SentFrame> keys = setKeyFrames();
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(keys[0].bytes[mme::offControlFlags], 0x40);
        EXPECT_EQ(keys[0].bytes[mme::offControlMark], 0x00);
        EXPECT_TRUE(r.sent);
        EXPECT_EQ(r.confirmed, !blank);
        EXPECT_EQ(localDevice().key1, derivedKey("Harbour-Light-9"));
        EXPECT_EQ(logEvents().empty(), !blank) << fileText("plc.log");
    }
}

TEST_F(SessionTest, AddSetAllAndRemove)
{
    ASSERT_TRUE(startHomeSession().started);

    session::AddResult r = session::add(neighbourFourPassword, "TideWell");
    ASSERT_EQ(r.box, session::Box::none);
    EXPECT_TRUE(r.added);
    EXPECT_EQ(r.index, 0);
    EXPECT_EQ(r.mac, "02:b7:1c:20:00:04");
    ASSERT_EQ(r.devices.size(), 1u);
    EXPECT_TRUE(r.devices[0].ok);
    EXPECT_TRUE(r.devices[0].keySet);
    EXPECT_TRUE(r.saved);
    EXPECT_EQ(remote(neighbourFour).networkKey, tideWellKey);
    // The local device is back on its own key and the network key.
    EXPECT_EQ(localDevice().key0, localDevice().deviceKey);
    EXPECT_EQ(localDevice().key1, tideWellKey);
    EXPECT_FALSE(localDevice().provisional);
    EXPECT_TRUE(session::scanRunning());  // the station list is drawn again, now with the newcomer
    ASSERT_TRUE(serviceUntilScanEnds());
    EXPECT_EQ(session::lastScan().stations.size(), 4u);

    // The same password again, and one no device answers.
    EXPECT_EQ(session::add(neighbourFourPassword, "TideWell").box, session::Box::duplicatePassword);
    EXPECT_EQ(session::add("ABCD-EFGH-IJKL", "TideWell").box, session::Box::noResponse);
    EXPECT_EQ(session::add("ab", "TideWell").box, session::Box::invalidDevicePassword);
    EXPECT_EQ(localDevice().key1, tideWellKey);
    EXPECT_EQ(localDevice().key0, localDevice().deviceKey);

    // Set All: the listed device that no longer answers is FAIL, the other OK.
    seed(1, neighbourFivePassword, neighbourFive);
    remote(neighbourFive).silent = true;
    session::SetAllResult all = session::setAll("Harbour-Light-9");
    EXPECT_TRUE(session::scanRunning());
    ASSERT_EQ(all.devices.size(), 2u);
    EXPECT_EQ(all.devices[0].password, neighbourFourPassword);
    EXPECT_TRUE(all.devices[0].ok);
    EXPECT_FALSE(all.devices[1].ok);
    EXPECT_FALSE(all.devices[1].keySet);
    EXPECT_EQ(remote(neighbourFour).networkKey, derivedKey("Harbour-Light-9"));
    EXPECT_EQ(localDevice().key1, derivedKey("Harbour-Light-9"));
    EXPECT_EQ(session::setAll("abc").box, session::Box::invalidNetworkPassword);

    session::RemoveResult removed = session::remove({neighbourFivePassword, "NOT-LISTED"});
    EXPECT_EQ(removed.removed, 1);
    EXPECT_TRUE(removed.saved);
    ASSERT_EQ(session::devicePasswords().size(), 1u);
    EXPECT_EQ(session::devicePasswords()[0].password, neighbourFourPassword);
    EXPECT_EQ(savedProfile(0).devicePasswords[1].password[0], 0);

    // Full: refused before any exchange.
    for (int i = 1; i < devicePasswordsPerProfile; ++i)
        seed(i, ("FILL-" + std::to_string(i)).c_str(), neighbourFive);
    zsim::clearSent();
    EXPECT_EQ(session::add(neighbourFivePassword, "TideWell").box, session::Box::listFull);
    EXPECT_TRUE(zsim::sentFrames().empty());
}

TEST_F(SessionTest, AddWithABadNetworkPasswordLeavesTheDeviceOnItsNetwork)
{
    ASSERT_TRUE(startHomeSession().started);
    ASSERT_EQ(blockNetworkKey(), tideWellKey);

    // "abc", and the empty field a short "wizard.data" leaves: refused before the search.
    for (const char* field : {"abc", ""}) {
        session::AddResult r = session::add(neighbourFourPassword, field);
        EXPECT_EQ(r.box, session::Box::invalidNetworkPassword) << field;
        EXPECT_FALSE(r.added);
        EXPECT_TRUE(zsim::sentFrames().empty()) << field;
    }
    EXPECT_TRUE(session::devicePasswords().empty());
    EXPECT_EQ(localDevice().key1, tideWellKey);
    EXPECT_EQ(blockNetworkKey(), tideWellKey);

    // A search that ends without an answer puts the local device back on the stored key.
    session::AddResult r = session::add("ABCD-EFGH-IJKL", "TideWell");
    EXPECT_EQ(r.box, session::Box::noResponse);
    EXPECT_EQ(localDevice().key1, tideWellKey);
    EXPECT_EQ(blockNetworkKey(), tideWellKey);
    EXPECT_FALSE(localDevice().provisional);
    session::beginScan();
    ASSERT_TRUE(serviceUntilScanEnds());
    EXPECT_EQ(stationMacs(session::lastScan()), homeStations);
}

TEST_F(SessionTest, AFailedSaveSaysWhyAndKeepsTheKeySent)
{
    scratch::Directory dir("brennic-session-readonly");
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    ASSERT_TRUE(startHomeSession().started);

    // Root writes anywhere: the child turns into nobody first.
    scratch::ChildResult child = scratch::runChild([&] {
        if (!scratch::dropPrivileges() || chdir(dir.path().c_str()) != 0)
            return 10;
        session::PasswordResult r = session::setLocal("Harbour-Light-9");
        if (!r.sent || !r.confirmed || localDevice().key1 != derivedKey("Harbour-Light-9"))
            return 11;
        if (r.box != session::Box::saveFailed || r.saved || r.saveError != std::strerror(EACCES))
            return 12;
        if (session::boxMessage(r.box, r.saveError).find(std::strerror(EACCES)) == std::string::npos)
            return 13;
        seed(0, neighbourFivePassword, neighbourFive);
        session::RemoveResult removed = session::remove({neighbourFivePassword});
        if (removed.removed != 1 || removed.box != session::Box::saveFailed)
            return 14;
        session::SetAllResult all = session::setAll("TideWell");
        return all.box == session::Box::saveFailed && !all.saved ? 0 : 15;
    });
    EXPECT_TRUE(child.exited(0)) << "status " << child.status << ", stderr: " << child.errorText;
}

// The history keeps each link-statistics reply; a store that cannot be used
// costs one line on stderr and changes neither the frames nor the results.
TEST_F(SessionTest, HistoryRecordsEachReplyAndAFaultyStoreCostsOneLine)
{
    scratch::Directory dir("brennic-history");
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    ASSERT_TRUE(startHomeSession().started);
    static constexpr int64_t epochMs = 1765000000000;  // December 2025
    session::setHistoryClock([] { return epochMs + simclock::now(); });

    // Two scans in a child, with the history at `path` (empty: none); its frames
    // go to `framesFile` so that the runs can be compared byte for byte.
    auto scans = [&](const std::string& path, bool asNobody, const std::string& framesFile) {
        return scratch::runChild([&] {
            if (asNobody && !scratch::dropPrivileges())
                return 10;
            if (!path.empty())
                session::openHistory(path);
            zsim::clearSent();
            for (int i = 0; i < 2; ++i) {
                session::beginScan();
                if (!serviceUntilScanEnds() || stationMacs(session::lastScan()) != homeStations)
                    return 11;
            }
            std::string text;
            for (const Bytes& frame : sent())
                text.append(frame.begin(), frame.end()).append("|");
            std::ofstream(framesFile) << text;
            return 0;
        });
    };
    auto slurp = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    scratch::ChildResult reference = scans("", false, dir.file("frames.reference"));
    ASSERT_TRUE(reference.exited(0)) << reference.errorText;
    ASSERT_EQ(reference.errorText, "");
    ASSERT_FALSE(slurp(dir.file("frames.reference")).empty());

    // A good store: folder 0700, file 0600, one reply row per scan, one sample per station.
    const std::string good = dir.file("state/brennic/history.sqlite3");
    scratch::ChildResult recorded = scans(good, false, dir.file("frames.good"));
    ASSERT_TRUE(recorded.exited(0)) << recorded.errorText;
    EXPECT_EQ(recorded.errorText, "");
    EXPECT_EQ(slurp(dir.file("frames.good")), slurp(dir.file("frames.reference")));
    struct stat st {};
    ASSERT_EQ(stat(dir.file("state/brennic").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(good.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    history::Store store;
    ASSERT_TRUE(store.open(good, history::Store::Mode::readOnly)) << store.error();
    std::vector<history::ReplyRow> replies = store.replies({});
    ASSERT_EQ(replies.size(), 2u);
    for (const history::ReplyRow& r : replies) {
        EXPECT_GT(r.timeMs, epochMs);
        EXPECT_EQ(history::Mac(r.adapter).text(), "02:b7:1c:00:00:01");
        EXPECT_EQ(history::Mac(r.device).text(), "02:b7:1c:10:1d:01");
        EXPECT_EQ(r.stations, 3);
        EXPECT_EQ(r.rating, "Link Quality: Excellent");
    }
    history::Filter third;
    third.station = homeStations[2];
    std::vector<history::Sample> samples = store.samples(third);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[1].timeMs, replies[1].timeMs);
    EXPECT_DOUBLE_EQ(*samples[1].rateMbps, std::round(rateFromLinkValue(400) * 1000) / 1000);
    EXPECT_EQ(store.latest().size(), 1u);
    store.close();

    // Each fault on a store made good first, then spoilt.
    auto sql = [](const std::string& path, const char* statement) {
        sqlite3* db = nullptr;
        bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                  sqlite3_exec(db, statement, nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return ok;
    };
    struct Fault {
        const char* name;
        std::function<bool(const std::string& path)> spoil;
        bool asNobody;
        std::string reason;  // in the one line
    };
    const Fault faults[] = {
        {"locked", [](const std::string&) { return true; }, false, "database is locked"},
        {"another user's, read-only", [](const std::string& path) { return chmod(path.c_str(), 0444) == 0; }, true,
         "owned by another user (uid 0)"},
        {"damaged",
         [](const std::string& path) {
             std::ofstream(path, std::ios::trunc) << std::string(8192, 'x');
             return true;
         },
         false, "file is not a database"},
        {"a damaged page found by the first record",
         [](const std::string& path) {
             std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
             file.seekg(0, std::ios::end);
             const long size = static_cast<long>(file.tellg());
             file.seekp(4096);
             file << std::string(static_cast<size_t>(size - 4096), '\xa5');
             return size > 4096;
         },
         false, "malformed"},
        {"a symbolic link",
         [&](const std::string& path) {
             return std::rename(path.c_str(), (path + ".real").c_str()) == 0 &&
                    symlink((path + ".real").c_str(), path.c_str()) == 0;
         },
         false, "symbolic link"},
        {"a newer schema", [&](const std::string& path) { return sql(path, "PRAGMA user_version=7"); }, false,
         "newer brennic (schema 7"},
        {"a file where its folder belongs",
         [](const std::string& path) {
             std::string folder = path.substr(0, path.rfind('/'));
             return std::system(("rm -r '" + folder + "' && touch '" + folder + "'").c_str()) == 0;
         },
         false, std::strerror(ENOTDIR)},
    };
    int n = 0;
    for (const Fault& fault : faults) {
        const std::string path = dir.file("fault" + std::to_string(++n) + "/brennic/history.sqlite3");
        {
            history::Store made;
            ASSERT_TRUE(made.open(path)) << made.error();
            ASSERT_TRUE(made.record({epochMs, "02:b7:1c:00:00:01", "02:b7:1c:10:1d:01", {}, {}, ""}));
        }
        ASSERT_EQ(std::system(("chmod -R go+rx '" + dir.file("fault" + std::to_string(n)) + "'").c_str()), 0);
        ASSERT_TRUE(fault.spoil(path)) << fault.name;
        const std::string before = slurp(path);
        // Another writer holds the lock for as long as the run lasts.
        scratch::Holder holder([&] {
            if (std::string(fault.name) != "locked")
                return true;
            static sqlite3* db = nullptr;
            return sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
                   sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
        });
        ASSERT_TRUE(holder.took) << fault.name;
        const std::string frames = dir.file("frames." + std::to_string(n));
        std::ofstream{frames};  // written by the child, nobody or not
        ASSERT_EQ(chmod(frames.c_str(), 0666), 0);
        scratch::ChildResult run = scans(path, fault.asNobody, frames);
        holder.release();
        EXPECT_TRUE(run.exited(0)) << fault.name << ": " << run.status << " " << run.errorText;
        EXPECT_EQ(slurp(frames), slurp(dir.file("frames.reference"))) << fault.name;
        EXPECT_EQ(std::count(run.errorText.begin(), run.errorText.end(), '\n'), 1)
            << fault.name << ": " << run.errorText;
        EXPECT_EQ(run.errorText.rfind("session_test: history: " + path + ": ", 0), 0u)
            << fault.name << ": " << run.errorText;
        EXPECT_NE(run.errorText.find(fault.reason), std::string::npos) << fault.name << ": " << run.errorText;
        EXPECT_EQ(slurp(path), before) << fault.name << ": the file was changed";
    }
}

}  // namespace

// A station degrades when it stays under half of its week's median (once it has
// a day of history) or under Poor for ten minutes, sample after sample.
TEST(Degradation, HalfTheMedianOrPoorForTenMinutes)
{
    constexpr int64_t minute = 60000, now = 1774828800000;
    const struct {
        const char* what;
        int hoursKnown;  // at 8 Mbps before the bad run
        double badMbps;
        int badMinutes;
        int silentMinutes;  // no sample since
        int goodAtMinute;   // minutes ago, one good sample within the run; 0: none
        std::optional<double> normal;
        bool degraded;
    } rows[] = {
        {"under half, ten minutes", 48, 3.0, 11, 0, 0, 8.0, true},
        {"under half, nine minutes", 48, 3.0, 9, 0, 0, 8.0, false},
        {"under half, no day of history", 20, 3.0, 11, 0, 0, std::nullopt, false},
        {"Poor, no day of history", 20, 0.5, 11, 0, 0, std::nullopt, true},
        {"above half", 48, 4.5, 30, 0, 0, 8.0, false},
        {"not heard for five minutes", 48, 3.0, 20, 5, 0, 8.0, false},
        {"a good sample four minutes ago", 48, 3.0, 20, 0, 4, 8.0, false},
    };
    for (const auto& r : rows) {
        std::vector<history::Sample> samples;
        const int64_t badFrom = now - r.badMinutes * minute;
        for (int64_t t = badFrom - r.hoursKnown * 60 * minute; t <= now - r.silentMinutes * minute; t += minute / 2) {
            const bool good = t < badFrom || (r.goodAtMinute && t == now - r.goodAtMinute * minute);
            samples.push_back({t, 1, 2, 3, good ? 8.0 : r.badMbps});
        }
        const std::optional<double> normal = session::normalRate(samples, now);
        EXPECT_EQ(normal.has_value(), r.normal.has_value()) << r.what;
        if (normal && r.normal) {
            EXPECT_NEAR(*normal, *r.normal, 1e-9) << r.what;
        }
        EXPECT_EQ(session::degradedNow(samples, now, normal), r.degraded) << r.what;
    }
}
