// The store's connection: opening it, what it is told to trust, its failures
// and the deadline every statement runs under, and SQLite's quick check.
#include "history/store_internal.h"

#include <ctime>
#include <unistd.h>

namespace history {

namespace {

// A writer holds the lock for well under a millisecond, but on a loaded machine it
// can be descheduled while it does: 50 ms lost a reply in a thousand to two
// writers at once. Only a second writer ever makes a tick wait this long.
constexpr int busyTimeoutMs = 200;

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Temporary data (sorts, the quick check's) stays in memory up to this; a file
// cannot make one of these programs fill a disk.
constexpr int64_t heapLimit = 512ll << 20;
constexpr int cachePages = -16384;  // KiB: 16 MB of page cache

}  // namespace

Store::Store() = default;
Store::~Store() { close(); }

void Store::close()
{
    if (checkpointer_.joinable())
        checkpointer_.join();
    statements_.reset();
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
    macs_.clear();
    names_.clear();
}

bool Store::fail(const std::string& what)
{
    error_ = path_ + ": " + what;
    return false;
}

bool Store::failWith(int rc)
{
    const int primary = rc & 0xff;
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        damaged_ = true;
    if (primary == SQLITE_INTERRUPT)
        return fail("a statement ran past its time limit; stopped");
    // After a failed prepare or step the connection holds the reason; when it
    // does not, the code's own text does (never "not an error").
    const bool said = db_ && sqlite3_errcode(db_) != SQLITE_OK;
    return fail(said ? sqlite3_errmsg(db_) : sqlite3_errstr(primary == SQLITE_OK ? SQLITE_ERROR : rc));
}

bool Store::failQuery(int rc)
{
    failed_ = true;
    return failWith(rc);
}

void Store::arm(int64_t ms) { deadlineNs_ = monotonicNs() + ms * 1000000; }

bool Store::begin(int64_t ms)
{
    failed_ = false;
    if (!db_) {
        failed_ = true;
        return fail("not open");
    }
    arm(ms);
    return true;
}

bool Store::exec(const char* sql)
{
    char* message = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
    if (rc == SQLITE_OK)
        return true;
    sqlite3_free(message);
    return failWith(rc);
}

bool Store::open(const std::string& path, Mode mode)
{
    close();
    path_ = path;
    readOnly_ = mode == Mode::readOnly;
    damaged_ = false;
    failed_ = false;
    recordsSincePrune_ = 0;
    recordsSinceCheckpoint_ = 0;
    if (path.empty()) {
        path_ = "history";
        return fail("no place for it: neither XDG_STATE_HOME nor HOME is set");
    }
    arm(deadline::openMs);
    if (!openChecked(path) || !configure()) {
        close();
        return false;
    }
    // WAL keeps readers and the writer apart; NORMAL loses nothing to a killed
    // process. Checkpoints are ours to run (startCheckpoint), not the commit's.
    bool ok = checkSchema();
    ok = ok && (readOnly_ || (journalWal() && exec("PRAGMA synchronous=NORMAL") &&
                              exec("PRAGMA wal_autocheckpoint=0") && exec("PRAGMA journal_size_limit=4194304")));
    ok = ok && migrate();
    if (ok && !readOnly_) {
        statements_ = std::make_unique<Statements>(db_);
        ok = statements_->ok() || failWith(sqlite3_errcode(db_));
    }
    if (!ok) {
        close();
        return false;
    }
    return true;
}

// The connection trusts nothing the file says: no view, no trigger, no function
// called from its schema, temporary data in memory and bounded, and every
// statement stopped at the deadline of the operation it serves.
bool Store::configure()
{
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_limit(db_, SQLITE_LIMIT_ATTACHED, 0);
    const int64_t limit = sqlite3_hard_heap_limit64(-1);
    if (limit == 0 || limit > heapLimit)
        sqlite3_hard_heap_limit64(heapLimit);
    sqlite3_progress_handler(
        db_, 1000, [](void* deadline) { return monotonicNs() > *static_cast<int64_t*>(deadline) ? 1 : 0; },
        &deadlineNs_);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    const std::string cache = "PRAGMA cache_size=" + std::to_string(cachePages);
    // A temporary index over a month of samples costs more than the query it serves.
    return exec("PRAGMA trusted_schema=OFF") && exec("PRAGMA temp_store=MEMORY") && exec(cache.c_str()) &&
           exec("PRAGMA automatic_index=OFF") && exec("PRAGMA cell_size_check=ON") &&
           (!readOnly_ || exec("PRAGMA query_only=ON"));
}

// Switching a new file to WAL needs it to itself and does not wait for a busy
// handler: two programs opening it at once retry for up to the busy timeout.
bool Store::journalWal()
{
    for (int waited = 0;; waited += 10) {
        Stmt s(db_, "PRAGMA journal_mode=WAL");
        const int rc = s.ok() ? s.step() : sqlite3_errcode(db_);
        if (rc == SQLITE_ROW)
            return true;
        if ((rc & 0xff) != SQLITE_BUSY || waited >= busyTimeoutMs)
            return failWith(rc);
        usleep(10000);
    }
}

bool Store::quickCheck()
{
    if (!begin(deadline::checkMs))
        return false;
    Stmt s(db_, "PRAGMA quick_check(1)");
    if (!s.ok())
        return failQuery(sqlite3_errcode(db_));
    int rc = s.step();
    if (rc != SQLITE_ROW)
        return failQuery(rc);
    const unsigned char* text = sqlite3_column_text(s.handle(), 0);
    std::string finding = text ? reinterpret_cast<const char*>(text) : "";
    const std::string which = "*** in database main ***\n";
    if (finding.rfind(which, 0) == 0)
        finding.erase(0, which.size());
    if (finding == "ok")
        return true;
    damaged_ = true;
    failed_ = true;
    return fail("damaged: " + finding.substr(0, finding.find('\n')));
}

}  // namespace history
