// The store's schema: the migrations that make it, the check that a file holds
// exactly what they make, and the migration of an older file.
#include "history/store_internal.h"

#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

namespace history {

namespace {

// The schema, one step per version; a file at version n runs the steps after it.
// Step 2's rows are copied from step 1's tables by Store::migrateRows() between
// its two statements, which are here whole for the schema check.
const char* const schema2Create =
    "CREATE TABLE log(id INTEGER PRIMARY KEY, adapter INTEGER NOT NULL, device INTEGER NOT NULL,"
    " average INTEGER, rating INTEGER NOT NULL, stations BLOB NOT NULL);";
const char* const schema2Replace =
    "DROP TABLE samples; DROP TABLE replies; DROP TABLE latest;"
    "CREATE TABLE latest(adapter INTEGER NOT NULL, device INTEGER NOT NULL, station INTEGER NOT NULL,"
    " reply INTEGER NOT NULL, PRIMARY KEY(adapter, device, station)) WITHOUT ROWID;";
const std::string migrations[] = {
    // 1: MACs once each; rates and averages in kbit/s (null: no estimate);
    // rating 1 Poor, 2 Fair, 3 Excellent; latest: per link and station (0: the
    // reply itself) the newest sample id (reply id * 128 + position).
    "CREATE TABLE macs(id INTEGER PRIMARY KEY, mac INTEGER NOT NULL UNIQUE);"
    "CREATE TABLE replies(id INTEGER PRIMARY KEY, t INTEGER NOT NULL, adapter INTEGER NOT NULL,"
    " device INTEGER NOT NULL, average INTEGER, rating INTEGER NOT NULL);"
    "CREATE INDEX replies_t ON replies(t);"
    "CREATE TABLE samples(id INTEGER PRIMARY KEY, station INTEGER NOT NULL, rate INTEGER);"
    "CREATE TABLE latest(adapter INTEGER NOT NULL, device INTEGER NOT NULL, station INTEGER NOT NULL,"
    " item INTEGER NOT NULL, PRIMARY KEY(adapter, device, station)) WITHOUT ROWID;",
    // 2: a third of the size. log: a reply per row, id by time (idsPerMs), its
    // stations packed in order (packStation()); latest: per link and station
    // (0: the reply itself) the id of the newest reply that listed it.
    std::string(schema2Create) + schema2Replace,
    // 3: the interface names each adapter was recorded under (adapter: its id
    // in macs), so that a name finds its adapters after the interface is gone.
    "CREATE TABLE adapter_names(name TEXT NOT NULL, adapter INTEGER NOT NULL,"
    " PRIMARY KEY(name, adapter)) WITHOUT ROWID;",
};
static_assert(std::size(migrations) == schemaVersion);

// The schema the migrations make up to `version`, as sqlite_master lists it.
using SchemaRows = std::vector<std::tuple<std::string, std::string, std::string, std::string>>;
bool schemaRows(sqlite3* db, SchemaRows* rows)
{
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT type, name, tbl_name, ifnull(sql, '') FROM sqlite_master ORDER BY type, name",
                           -1, &s, nullptr) != SQLITE_OK)
        return false;
    int rc;
    auto text = [&](int c) {
        const unsigned char* t = sqlite3_column_text(s, c);
        return t ? std::string(reinterpret_cast<const char*>(t)) : std::string();
    };
    while ((rc = sqlite3_step(s)) == SQLITE_ROW)
        rows->emplace_back(text(0), text(1), text(2), text(3));
    sqlite3_finalize(s);
    return rc == SQLITE_DONE;
}

SchemaRows expectedSchema(int version)
{
    SchemaRows rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        bool ok = true;
        for (int v = 0; v < version && ok; ++v)
            ok = sqlite3_exec(db, migrations[v].c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
        if (ok)
            schemaRows(db, &rows);
    }
    sqlite3_close(db);
    return rows;
}

}  // namespace

// The file's schema version, refused when a newer brennic wrote it. Its
// statement is finished on return: one still open would hold a read snapshot,
// and a write after it (the migration's BEGIN) would fail at once.
bool Store::knownVersion(int* at)
{
    {
        Stmt s(db_, "PRAGMA user_version");
        const int rc = s.ok() ? s.step() : sqlite3_errcode(db_);
        if (rc != SQLITE_ROW)
            return failWith(rc);
        *at = static_cast<int>(s.integer(0));
    }
    if (*at > schemaVersion)
        return fail("written by a newer brennic (schema " + std::to_string(*at) + ", this one knows " +
                    std::to_string(schemaVersion) + ")");
    return true;
}

// The file's tables and indexes are exactly those its version's migrations
// make: a view, a trigger or a changed table is a file brennic did not write.
bool Store::checkSchema()
{
    int at = 0;
    if (!knownVersion(&at))
        return false;
    if (at < 0)
        return fail("not a link history (schema " + std::to_string(at) + ")");
    SchemaRows found;
    if (!schemaRows(db_, &found))
        return failWith(sqlite3_errcode(db_));
    const SchemaRows wanted = expectedSchema(at);
    if (found == wanted)
        return true;
    for (const auto& row : found)
        if (std::find(wanted.begin(), wanted.end(), row) == wanted.end())
            return fail("not a link history brennic wrote: it holds the " + std::get<0>(row) + " '" + std::get<1>(row) +
                        "' that schema " + std::to_string(at) + " does not have; not read");
    const auto& missing = *std::find_if(wanted.begin(), wanted.end(), [&](const auto& row) {
        return std::find(found.begin(), found.end(), row) == found.end();
    });
    return fail("not a link history brennic wrote: the " + std::get<0>(missing) + " '" + std::get<1>(missing) +
                "' of schema " + std::to_string(at) + " is missing; not read");
}

int Store::version()
{
    if (!db_)
        return 0;
    Stmt s(db_, "PRAGMA user_version");
    return s.ok() && s.step() == SQLITE_ROW ? static_cast<int>(s.integer(0)) : 0;
}

bool Store::migrate()
{
    int at = 0;
    if (!knownVersion(&at))
        return false;
    if (at == schemaVersion)
        return true;
    if (readOnly_)
        return at == 0 ? fail("holds no history yet") : fail("needs an upgrade that a read-only open cannot do");
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    // Another process may have migrated it while this one waited for the lock;
    // what it made is checked again inside the transaction.
    arm(deadline::migrateMs);
    bool ok = checkSchema();
    const int from = version();
    for (int v = from; ok && v < schemaVersion; ++v)
        ok = v == 1 ? migrateRows() : exec(migrations[v].c_str());
    const std::string set = "PRAGMA user_version=" + std::to_string(schemaVersion);
    if (!ok || !exec(set.c_str()) || !exec("COMMIT")) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    // The old tables' pages are free now; a store migrated with rows in it is
    // rewritten to its new size once. Not done is no harm: new rows reuse them.
    if (from == 1)
        sqlite3_exec(db_, "VACUUM", nullptr, nullptr, nullptr);
    return true;
}

// Schema 1 to 2 inside the migration's transaction: each reply and its samples
// become one row, in the order they were recorded, and the latest points at
// the rows its old entries pointed into.
bool Store::migrateRows()
{
    if (!exec(schema2Create))
        return false;
    std::vector<std::pair<int64_t, int64_t>> ids;  // old reply id, new row id
    {
        Stmt r(db_, "SELECT id, t, adapter, device, average, rating FROM replies ORDER BY id");
        Stmt s(db_, "SELECT id, station, rate FROM samples ORDER BY id");
        Stmt put(db_, "INSERT INTO log(id, adapter, device, average, rating, stations) VALUES(?,?,?,?,?,?)");
        if (!r.ok() || !s.ok() || !put.ok())
            return failWith(sqlite3_errcode(db_));
        int rs = s.step(), rr;
        while ((rr = r.step()) == SQLITE_ROW) {
            const int64_t old = r.integer(0);
            std::string stations;
            // Samples are numbered old reply id * 128 + position.
            while (rs == SQLITE_ROW && s.integer(0) / 128 <= old) {
                if (s.integer(0) / 128 == old)
                    packStation(stations, s.integer(1),
                                s.isNull(2) ? std::nullopt : std::optional<int64_t>(s.integer(2)));
                rs = s.step();
            }
            if (rs != SQLITE_ROW && rs != SQLITE_DONE)
                return failWith(rs);
            int64_t id = 0;
            const int rc = insertRow(put, r.integer(1), r.integer(2), r.integer(3),
                                     r.isNull(4) ? std::nullopt : std::optional<int64_t>(r.integer(4)), r.integer(5),
                                     stations, &id);
            if (rc != SQLITE_DONE)
                return rc == SQLITE_FULL ? fail("more than 16 replies of one link in a millisecond") : failWith(rc);
            ids.emplace_back(old, id);
        }
        if (rr != SQLITE_DONE)
            return failWith(rr);
    }
    struct Entry {
        int64_t adapter, device, station, item;
    };
    std::vector<Entry> latest;
    {
        Stmt l(db_, "SELECT adapter, device, station, item FROM latest");
        if (!l.ok())
            return failWith(sqlite3_errcode(db_));
        int rc;
        while ((rc = l.step()) == SQLITE_ROW)
            latest.push_back({l.integer(0), l.integer(1), l.integer(2), l.integer(3)});
        if (rc != SQLITE_DONE)
            return failWith(rc);
    }
    if (!exec(schema2Replace))
        return false;
    Stmt put(db_, "INSERT OR REPLACE INTO latest(adapter, device, station, reply) VALUES(?,?,?,?)");
    if (!put.ok())
        return failWith(sqlite3_errcode(db_));
    for (const Entry& e : latest) {
        // Ids were handed out in order: the old reply's new row by search.
        auto at = std::lower_bound(ids.begin(), ids.end(), std::make_pair(e.item / 128, INT64_MIN));
        if (at == ids.end() || at->first != e.item / 128)
            continue;  // pointed at a reply already pruned
        const int rc = put.bind(1, e.adapter).bind(2, e.device).bind(3, e.station).bind(4, at->second).step();
        put.reset();
        if (rc != SQLITE_DONE)
            return failWith(rc);
    }
    return true;
}

}  // namespace history
