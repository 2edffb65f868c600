// Recording: a reply's row, its latest entries and its adapter's name in one
// transaction, the ids of MACs and the table of them held in memory, the
// bounded prune, and the checkpoint beside the monitor.
#include "history/store_internal.h"

#include <algorithm>
#include <cmath>
#include <thread>
#include <utility>
#include <vector>

namespace history {

namespace {

// A profile holds 100 stations; a reply keeps at most this many.
constexpr size_t maxStations = 128;
// Each record deletes what has expired since the last, at most 16 replies (240
// samples, a fraction of a millisecond): a shortened retention is caught up
// 16 times as fast as replies come, and no tick waits for a big delete.
constexpr int pruneEvery = 1;         // records
constexpr int pruneBatch = 16;        // replies
constexpr int checkpointEvery = 256;  // records: about 4 MB of log
constexpr int64_t msPerDay = 86400000;

std::optional<int64_t> toKbps(const std::optional<double>& mbps)
{
    if (!mbps || !std::isfinite(*mbps) || std::fabs(*mbps) > 1e9)
        return std::nullopt;
    return std::llround(*mbps * 1000.0);
}

}  // namespace

int insertRow(Stmt& put, int64_t t, int64_t adapter, int64_t device, const std::optional<int64_t>& average,
              int64_t rating, const std::string& stations, int64_t* id)
{
    for (int64_t n = 0; n < idsPerMs; ++n) {
        *id = firstId(t) + n;
        put.bind(1, *id).bind(2, adapter).bind(3, device).bind(4, average).bind(5, rating).blob(6, stations);
        const int rc = put.step();
        put.reset();
        if ((rc & 0xff) != SQLITE_CONSTRAINT)
            return rc;
    }
    return SQLITE_FULL;
}

bool Store::loadMacs()
{
    macs_.clear();
    Stmt s(db_, "SELECT id, mac FROM macs");
    if (!s.ok())
        return failQuery(sqlite3_errcode(db_));
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        const int64_t id = s.integer(0);
        // Ids are handed out one by one; a file with wild ones is not ours to index.
        if (id <= 0 || id > maxMacId)
            continue;
        if (macs_.size() <= static_cast<size_t>(id))
            macs_.resize(static_cast<size_t>(id) + 1, 0);
        macs_[static_cast<size_t>(id)] = static_cast<uint64_t>(s.integer(1));
    }
    return rc == SQLITE_DONE || failQuery(rc);
}

uint64_t Store::macOf(int64_t id)
{
    if (id > 0 && static_cast<size_t>(id) < macs_.size() && macs_[static_cast<size_t>(id)] != 0)
        return macs_[static_cast<size_t>(id)];
    loadMacs();
    return id > 0 && static_cast<size_t>(id) < macs_.size() ? macs_[static_cast<size_t>(id)] : 0;
}

int64_t Store::macId(uint64_t mac)
{
    for (size_t id = 1; id < macs_.size(); ++id)
        if (macs_[id] == mac)
            return static_cast<int64_t>(id);
    Stmt& insert = statements_->insertMac;
    Stmt& find = statements_->findMac;
    const int inserted = insert.bind(1, static_cast<int64_t>(mac)).step();
    insert.reset();
    if (inserted != SQLITE_DONE)
        return failWith(inserted), 0;
    const int found = find.bind(1, static_cast<int64_t>(mac)).step();
    const int64_t id = found == SQLITE_ROW ? find.integer(0) : 0;
    find.reset();
    if (found != SQLITE_ROW)
        return failWith(found), 0;
    if (id > 0 && id <= maxMacId) {
        if (macs_.size() <= static_cast<size_t>(id))
            macs_.resize(static_cast<size_t>(id) + 1, 0);
        macs_[static_cast<size_t>(id)] = mac;
    }
    return id;
}

// The id of a filter's MAC: none when the filter is empty; -1, which no row
// has, when it is malformed or was never recorded. False: the store failed.
bool Store::lookupMac(const std::string& text, int64_t* id, bool* none)
{
    *none = text.empty();
    *id = -1;
    const std::optional<Mac> mac = Mac::parse(text);
    if (*none || !mac)
        return true;
    Stmt find(db_, "SELECT id FROM macs WHERE mac=?");
    if (!find.ok())
        return failQuery(sqlite3_errcode(db_));
    const int rc = find.bind(1, static_cast<int64_t>(mac->number())).step();
    if (rc == SQLITE_ROW)
        *id = find.integer(0);
    return rc == SQLITE_ROW || rc == SQLITE_DONE || failQuery(rc);
}

bool Store::record(const Reply& reply)
{
    if (!db_ || !statements_)
        return fail("not open");
    if (readOnly_)
        return fail("opened read-only");
    const std::optional<Mac> adapter = Mac::parse(reply.adapter), device = Mac::parse(reply.device);
    if (!adapter || !device)
        return fail("a reply without its adapter or device");
    damaged_ = false;
    arm(deadline::recordMs);
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    const int64_t adapterId = macId(adapter->number()), deviceId = macId(device->number());
    bool ok = adapterId != 0 && deviceId != 0;
    bool said = !ok;  // macId() has said why
    // The adapter's interface name, written once per name and adapter: a pair
    // already written costs no statement.
    const std::pair<std::string, int64_t> name(reply.adapterName, adapterId);
    const bool newName = ok && !name.first.empty() && std::find(names_.begin(), names_.end(), name) == names_.end();
    if (newName) {
        ok = statements_->putName.text(1, name.first).bind(2, adapterId).step() == SQLITE_DONE;
        statements_->putName.reset();
    }
    std::string packed;
    std::vector<int64_t> listed;
    for (const StationRate& station : reply.stations) {
        if (!ok || listed.size() == maxStations)
            break;
        const std::optional<Mac> mac = Mac::parse(station.station);
        if (!mac)
            continue;
        const int64_t id = macId(mac->number());
        ok = id != 0;
        said = !ok;
        packStation(packed, id, toKbps(station.rateMbps));
        listed.push_back(id);
    }
    int64_t row = 0;
    int rc = SQLITE_DONE;
    if (ok)
        rc = insertRow(statements_->putRow, reply.timeMs, adapterId, deviceId, toKbps(reply.averageMbps),
                       ratingCode(reply.rating), packed, &row);
    ok = ok && rc == SQLITE_DONE;
    listed.insert(listed.begin(), 0);  // the reply itself
    Stmt& latest = statements_->putLatest;
    for (size_t i = 0; ok && i < listed.size(); ++i) {
        ok = latest.bind(1, adapterId).bind(2, deviceId).bind(3, listed[i]).bind(4, row).step() == SQLITE_DONE;
        latest.reset();
    }
    if (ok && ++recordsSincePrune_ >= pruneEvery) {
        recordsSincePrune_ = 0;
        ok = prune(reply.timeMs, pruneBatch) >= 0;
    }
    // A failed COMMIT has said why through exec(); a failed step says it here,
    // before the rollback clears the reason.
    if (!ok && !said) {
        if (rc == SQLITE_FULL)
            fail("more than 16 replies of one link in a millisecond");
        else
            failWith(rc != SQLITE_DONE ? rc : sqlite3_extended_errcode(db_));
    }
    if (!ok || !exec("COMMIT")) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        // The ids learnt inside the transaction went with it.
        macs_.clear();
        return false;
    }
    if (newName)
        names_.push_back(name);
    if (++recordsSinceCheckpoint_ >= checkpointEvery)
        startCheckpoint();
    return true;
}

// The log is copied back into the file beside the monitor, on a connection of
// its own: the copy ends in an fsync, tens of milliseconds on a slow disk, that
// a tick must not wait for. PASSIVE never holds up a writer.
void Store::startCheckpoint()
{
    if (checkpointing_)
        return;
    if (checkpointer_.joinable())
        checkpointer_.join();
    recordsSinceCheckpoint_ = 0;
    checkpointing_ = true;
    checkpointer_ = std::thread([this, path = path_] {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) == SQLITE_OK) {
            sqlite3_busy_timeout(db, 1000);
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        }
        sqlite3_close_v2(db);
        checkpointing_ = false;
    });
}

int Store::prune(int64_t now, int maxReplies)
{
    if (!db_ || readOnly_ || !statements_)
        return -1;
    Stmt& expired = statements_->expired;
    expired.bind(1, firstId(now - int64_t{retentionDays_} * msPerDay)).bind(2, int64_t{maxReplies});
    int count = 0, rc;
    int64_t last = 0;
    while ((rc = expired.step()) == SQLITE_ROW) {
        last = expired.integer(0);
        ++count;
    }
    expired.reset();
    if (rc != SQLITE_DONE)
        return -1;
    if (count == 0)
        return 0;
    Stmt& rows = statements_->dropRows;
    rc = rows.bind(1, last).step();
    rows.reset();
    if (rc != SQLITE_DONE)
        return -1;
    // A station or link whose newest reply went goes from the latest too.
    rc = statements_->dropStale.step();
    statements_->dropStale.reset();
    return rc == SQLITE_DONE ? count : -1;
}

}  // namespace history
