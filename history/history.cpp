#include "history/history.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <tuple>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace history {

namespace {

// A reply is one row, numbered by its time: id = time * idsPerMs + n, where n
// tells apart replies of one millisecond (a clock set back, two links at once).
// Rows are then in time order with no index of their own, and a span is a range
// of ids. A profile holds 100 stations; a reply keeps at most this many.
constexpr int64_t idsPerMs = 16;
constexpr size_t maxStations = 128;
// A writer holds the lock for well under a millisecond, but on a loaded machine it
// can be descheduled while it does: 50 ms lost a reply in a thousand to two
// writers at once. Only a second writer ever makes a tick wait this long.
constexpr int busyTimeoutMs = 200;
// Each record deletes what has expired since the last, at most 16 replies (240
// samples, a fraction of a millisecond): a shortened retention is caught up
// 16 times as fast as replies come, and no tick waits for a big delete.
constexpr int pruneEvery = 1;      // records
constexpr int pruneBatch = 16;     // replies
constexpr int checkpointEvery = 256;  // records: about 4 MB of log
constexpr int64_t msPerDay = 86400000;
constexpr int64_t maxMacId = 1000000;

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
};
static_assert(std::size(migrations) == schemaVersion);

const char* const ratingTexts[] = {"", "Link Quality: Poor", "Link Quality: Fair", "Link Quality: Excellent"};

int ratingCode(const std::string& text)
{
    for (int i = 1; i < 4; ++i)
        if (text == ratingTexts[i])
            return i;
    return 0;
}

// A reply's stations, one after another: the station's id in the macs table,
// then 0 for no estimate, 1 and the magnitude for a negative rate, else the
// rate in kbit/s plus 2; each an unsigned LEB128 number (two bytes for rates
// up to 16 Mbps: three a station, where a row per station took about thirty).
void putNumber(std::string& out, uint64_t v)
{
    while (v >= 0x80) {
        out += static_cast<char>((v & 0x7f) | 0x80);
        v >>= 7;
    }
    out += static_cast<char>(v);
}

bool getNumber(const unsigned char*& at, const unsigned char* end, uint64_t* v)
{
    uint64_t value = 0;
    for (int shift = 0; at < end && shift < 64; shift += 7) {
        const unsigned char byte = *at++;
        value |= static_cast<uint64_t>(byte & 0x7f) << shift;
        if ((byte & 0x80) == 0) {
            *v = value;
            return true;
        }
    }
    return false;
}

void packStation(std::string& out, int64_t station, const std::optional<int64_t>& kbps)
{
    putNumber(out, static_cast<uint64_t>(station));
    if (!kbps) {
        putNumber(out, 0);
    } else if (*kbps < 0) {
        putNumber(out, 1);
        putNumber(out, static_cast<uint64_t>(-*kbps));
    } else {
        putNumber(out, static_cast<uint64_t>(*kbps) + 2);
    }
}

struct PackedStation {
    int64_t station = 0;
    std::optional<int64_t> kbps;
};

// Calls `visit` for each station of a packed row; false when the row is not one.
template <typename Visit>
bool unpackStations(const void* data, int size, Visit&& visit)
{
    const auto* at = static_cast<const unsigned char*>(data);
    const unsigned char* end = at + (size > 0 ? size : 0);
    while (at < end) {
        uint64_t station = 0, code = 0, magnitude = 0;
        if (!getNumber(at, end, &station) || !getNumber(at, end, &code) || station > static_cast<uint64_t>(maxMacId) ||
            (code == 1 && (!getNumber(at, end, &magnitude) || magnitude > (uint64_t{1} << 62))) || code > (uint64_t{1} << 62))
            return false;
        PackedStation p{static_cast<int64_t>(station), std::nullopt};
        if (code == 1)
            p.kbps = -static_cast<int64_t>(magnitude);
        else if (code > 1)
            p.kbps = static_cast<int64_t>(code - 2);
        visit(p);
    }
    return true;
}

// The first id of millisecond `t`, kept within range for the filter's bounds.
int64_t firstId(int64_t t)
{
    if (t >= INT64_MAX / idsPerMs)
        return INT64_MAX;
    if (t <= INT64_MIN / idsPerMs)
        return INT64_MIN;
    return t * idsPerMs;
}

int64_t timeOf(int64_t id) { return id >= 0 ? id / idsPerMs : -((-id + idsPerMs - 1) / idsPerMs); }

const char* ratingText(int64_t code) { return code >= 1 && code <= 3 ? ratingTexts[code] : ""; }

std::optional<int64_t> toKbps(const std::optional<double>& mbps)
{
    if (!mbps || !std::isfinite(*mbps) || std::fabs(*mbps) > 1e9)
        return std::nullopt;
    return std::llround(*mbps * 1000.0);
}

class Stmt {
public:
    Stmt(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
    ~Stmt() { sqlite3_finalize(s_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    bool ok() const { return rc_ == SQLITE_OK && s_; }
    Stmt& bind(int i, int64_t v)
    {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    Stmt& bind(int i, const std::optional<int64_t>& v)
    {
        if (v)
            sqlite3_bind_int64(s_, i, *v);
        else
            sqlite3_bind_null(s_, i);
        return *this;
    }
    Stmt& blob(int i, const std::string& v)
    {
        sqlite3_bind_blob(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return s_ ? sqlite3_step(s_) : SQLITE_MISUSE; }
    void reset()
    {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    int64_t integer(int c) { return sqlite3_column_int64(s_, c); }
    sqlite3_stmt* handle() { return s_; }
    bool isNull(int c) { return sqlite3_column_type(s_, c) == SQLITE_NULL; }
    std::optional<double> mbps(int c)
    {
        if (isNull(c))
            return std::nullopt;
        return sqlite3_column_double(s_, c) / 1000.0;
    }

private:
    sqlite3_stmt* s_ = nullptr;
    int rc_ = SQLITE_ERROR;
};

// Inserts a reply's row (`put`: id, adapter, device, average, rating, stations)
// at the first free id of its millisecond. SQLITE_DONE, an error, or
// SQLITE_FULL when the millisecond has no id left.
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

// Owner and mode: the store's folder and file belong to this user (a reader
// that is root may read anyone's) and no one else may write to them, or
// another user could swap the file, or plant a log beside it, under the library.
std::string trustProblem(const struct stat& st, bool reader)
{
    const uid_t me = geteuid();
    if (st.st_uid != me && !(reader && me == 0))
        return "owned by another user (uid " + std::to_string(st.st_uid) + "); not used";
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return std::string("writable by other users (mode ") + mode + "); not used";
    }
    return {};
}

// Creates the missing folders of `dir`, each 0700, only where no other user can
// take or replace what is made: in a folder of this user's or root's that others
// cannot write to, or only with the sticky bit.
bool makeFolders(const std::string& dir, std::string* why)
{
    std::string parent = "/";
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at != dir.size() && dir[at] != '/')
            continue;
        std::string part = dir.substr(0, at);
        struct stat st {};
        if (stat(part.c_str(), &st) != 0) {
            if (errno != ENOENT) {
                *why = part + ": " + std::strerror(errno);
                return false;
            }
            struct stat up {};
            if (stat(parent.c_str(), &up) != 0 || (up.st_uid != geteuid() && up.st_uid != 0) ||
                ((up.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (up.st_mode & S_ISVTX) == 0)) {
                *why = parent + ": another user's folder, or one others can write to; no folder made in it";
                return false;
            }
            if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                *why = part + ": " + std::strerror(errno);
                return false;
            }
        }
        parent = part;
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string baseOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

constexpr int64_t openMs = deadline::openMs;
constexpr int64_t recordMs = deadline::recordMs;
constexpr int64_t queryMs = deadline::queryMs;
constexpr int64_t checkMs = deadline::checkMs;
constexpr int64_t migrateMs = deadline::migrateMs;
// Temporary data (sorts, the quick check's) stays in memory up to this; a file
// cannot make one of these programs fill a disk.
constexpr int64_t heapLimit = 512ll << 20;
constexpr int cachePages = -16384;    // KiB: 16 MB of page cache

// The schema the migrations make up to `version`, as sqlite_master lists it.
using SchemaRows = std::vector<std::tuple<std::string, std::string, std::string, std::string>>;
bool schemaRows(sqlite3* db, SchemaRows* rows)
{
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT type, name, tbl_name, ifnull(sql, '') FROM sqlite_master ORDER BY type, name", -1,
                           &s, nullptr) != SQLITE_OK)
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

// The adapter and device a filter names, as the conditions on the replies
// table (`prefix` its alias with the dot) and their parameters ?4 and ?5.
struct LinkFilter {
    int64_t adapter = 0, device = 0;
    bool anyAdapter = true, anyDevice = true;

    std::string conditions(const char* prefix) const
    {
        std::string sql;
        if (!anyAdapter)
            sql += std::string(" AND ") + prefix + "adapter = ?4";
        if (!anyDevice)
            sql += std::string(" AND ") + prefix + "device = ?5";
        return sql;
    }
    void bind(Stmt& s) const
    {
        if (!anyAdapter)
            s.bind(4, adapter);
        if (!anyDevice)
            s.bind(5, device);
    }
};

}  // namespace

// The statements every record runs, prepared once per open.
struct Store::Statements {
    explicit Statements(sqlite3* db)
        : insertMac(db, "INSERT OR IGNORE INTO macs(mac) VALUES(?)"),
          findMac(db, "SELECT id FROM macs WHERE mac=?"),
          putRow(db, "INSERT INTO log(id, adapter, device, average, rating, stations) VALUES(?,?,?,?,?,?)"),
          putLatest(db, "INSERT OR REPLACE INTO latest(adapter, device, station, reply) VALUES(?,?,?,?)"),
          expired(db, "SELECT id FROM log WHERE id < ?1 ORDER BY id LIMIT ?2"),
          dropRows(db, "DELETE FROM log WHERE id <= ?"),
          dropStale(db, "DELETE FROM latest WHERE NOT EXISTS (SELECT 1 FROM log WHERE log.id = latest.reply)")
    {
    }
    bool ok() const
    {
        return insertMac.ok() && findMac.ok() && putRow.ok() && putLatest.ok() && expired.ok() && dropRows.ok() &&
               dropStale.ok();
    }
    Stmt insertMac, findMac, putRow, putLatest, expired, dropRows, dropStale;
};

int64_t nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string defaultPath()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    std::string base;
    // A relative value is to be ignored, as the base-directory rules say.
    if (state && state[0] == '/') {
        base = state;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            return {};
        base = std::string(home) + "/.local/state";
    }
    return base + "/brennic/history.sqlite3";
}

bool parseMac(const std::string& text, uint64_t* mac)
{
    if (text.size() != 17)
        return false;
    uint64_t v = 0;
    for (size_t i = 0; i < 17; ++i) {
        char c = text[i];
        if (i % 3 == 2) {
            if (c != ':')
                return false;
            continue;
        }
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0)
            return false;
        v = v << 4 | static_cast<uint64_t>(d);
    }
    *mac = v;
    return true;
}

std::string macString(uint64_t mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", static_cast<unsigned>(mac >> 40 & 0xff),
                  static_cast<unsigned>(mac >> 32 & 0xff), static_cast<unsigned>(mac >> 24 & 0xff),
                  static_cast<unsigned>(mac >> 16 & 0xff), static_cast<unsigned>(mac >> 8 & 0xff),
                  static_cast<unsigned>(mac & 0xff));
    return text;
}

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
    arm(openMs);
    if (!openChecked(path) || !configure()) {
        close();
        return false;
    }
    // WAL keeps readers and the writer apart; NORMAL loses nothing to a killed
    // process. Checkpoints are ours to run (startCheckpoint), not the commit's.
    bool ok = checkSchema();
    ok = ok && (readOnly_ || (journalWal() && exec("PRAGMA synchronous=NORMAL") && exec("PRAGMA wal_autocheckpoint=0") &&
                              exec("PRAGMA journal_size_limit=4194304")));
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

// The folder, then the file, each opened without following a link and checked
// before anything is created in it; the library then opens the very file checked.
bool Store::openChecked(const std::string& path)
{
    const std::string folder = folderOf(path);
    std::string why;
    if (!readOnly_ && !makeFolders(folder, &why))
        return fail(why);
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        const int why = errno;
        struct stat link {};
        const bool isLink = why == ELOOP || (why == ENOTDIR && lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode));
        return fail(folder + ": " + (isLink ? "a symbolic link; not used" : std::strerror(why)));
    }
    struct stat st {};
    if (fstat(dir, &st) != 0 || !(why = trustProblem(st, readOnly_)).empty()) {
        ::close(dir);
        return fail(folder + ": " + (why.empty() ? std::strerror(errno) : why));
    }
    const std::string base = baseOf(path);
    int fd = openat(dir, base.c_str(), (readOnly_ ? O_RDONLY : O_RDWR | O_CREAT) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    ::close(dir);
    if (fd < 0)
        return fail(errno == ELOOP ? "is a symbolic link; not opened" : std::strerror(errno));
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok)
        why = "not a regular file";
    else if (st.st_nlink != 1)
        why = "has other names (hard links); not used";
    else if (!readOnly_ && st.st_uid == geteuid() && (st.st_mode & 077) != 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        fchmod(fd, 0600);  // readable by others: this user's own slip, mended
    if (why.empty())
        why = trustProblem(st, readOnly_);
    if (!why.empty()) {
        ::close(fd);
        return fail(why);
    }
    const int flags = (readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    struct stat now {};
    const bool same = stat(path.c_str(), &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
    ::close(fd);
    if (rc != SQLITE_OK)
        return db_ ? failWith(rc) : fail("out of memory");
    return same || fail("replaced while it was opened; not used");
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
        db_, 1000, [](void* deadline) { return monotonicNs() > *static_cast<int64_t*>(deadline) ? 1 : 0; }, &deadlineNs_);
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    const std::string cache = "PRAGMA cache_size=" + std::to_string(cachePages);
    // A temporary index over a month of samples costs more than the query it serves.
    return exec("PRAGMA trusted_schema=OFF") && exec("PRAGMA temp_store=MEMORY") && exec(cache.c_str()) &&
           exec("PRAGMA automatic_index=OFF") && exec("PRAGMA cell_size_check=ON") &&
           (!readOnly_ || exec("PRAGMA query_only=ON"));
}

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
    arm(migrateMs);
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
                    packStation(stations, s.integer(1), s.isNull(2) ? std::nullopt : std::optional<int64_t>(s.integer(2)));
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


bool Store::quickCheck()
{
    if (!begin(checkMs))
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
    uint64_t mac = 0;
    if (*none || !parseMac(text, &mac))
        return true;
    Stmt find(db_, "SELECT id FROM macs WHERE mac=?");
    if (!find.ok())
        return failQuery(sqlite3_errcode(db_));
    const int rc = find.bind(1, static_cast<int64_t>(mac)).step();
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
    uint64_t adapter = 0, device = 0;
    if (!parseMac(reply.adapter, &adapter) || !parseMac(reply.device, &device))
        return fail("a reply without its adapter or device");
    damaged_ = false;
    arm(recordMs);
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    const int64_t adapterId = macId(adapter), deviceId = macId(device);
    bool ok = adapterId != 0 && deviceId != 0;
    bool said = !ok;  // macId() has said why
    std::string packed;
    std::vector<int64_t> listed;
    for (const StationRate& station : reply.stations) {
        uint64_t mac = 0;
        if (!ok || listed.size() == maxStations)
            break;
        if (!parseMac(station.station, &mac))
            continue;
        const int64_t id = macId(mac);
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

bool Store::forEachSample(const Filter& filter, const std::function<void(const RawSample&)>& visit)
{
    int64_t station = 0;
    bool anyStation;
    LinkFilter link;
    if (!lookupMac(filter.station, &station, &anyStation) ||
        !lookupMac(filter.adapter, &link.adapter, &link.anyAdapter) ||
        !lookupMac(filter.device, &link.device, &link.anyDevice))
        return false;
    // Rows are in time order by id: a span is one range, read in order.
    const std::string sql = "SELECT id, adapter, device, stations FROM log WHERE id >= ?1 AND id < ?2" +
                            link.conditions("") + " ORDER BY id";
    Stmt r(db_, sql.c_str());
    if (!r.ok())
        return failQuery(sqlite3_errcode(db_));
    r.bind(1, firstId(filter.sinceMs)).bind(2, firstId(filter.untilMs));
    link.bind(r);
    int rc;
    while ((rc = r.step()) == SQLITE_ROW) {
        RawSample row{timeOf(r.integer(0)), 0, r.integer(1), r.integer(2), 0, std::nullopt};
        sqlite3_stmt* h = r.handle();
        const bool whole = unpackStations(sqlite3_column_blob(h, 3), sqlite3_column_bytes(h, 3), [&](const PackedStation& p) {
            if (!anyStation && p.station != station)
                return;
            row.station = p.station;
            row.kbps = p.kbps;
            visit(row);
        });
        if (!whole)
            return damagedRow();
    }
    return rc == SQLITE_DONE || failQuery(rc);
}

std::vector<Sample> Store::samples(const Filter& filter)
{
    std::vector<Sample> rows;
    if (!begin(queryMs) || !loadMacs())
        return rows;
    const bool ok = forEachSample(filter, [&](const RawSample& raw) {
        Sample row;
        row.timeMs = raw.t;
        row.adapter = macOf(raw.adapter);
        row.device = macOf(raw.device);
        row.station = macOf(raw.station);
        if (raw.kbps)
            row.rateMbps = static_cast<double>(*raw.kbps) / 1000.0;
        rows.push_back(row);
    });
    if (!ok || failed_)
        rows.clear();  // nothing rather than a part that passes for the whole
    return rows;
}

std::vector<Bucket> Store::buckets(const Filter& filter, int64_t everyMs)
{
    std::vector<Bucket> rows;
    if (!begin(queryMs) || !loadMacs())
        return rows;
    if (everyMs <= 0) {
        failed_ = true;
        fail("an interval of no length");
        return rows;
    }
    // Samples come oldest first, so each interval's are together: a handful of
    // keys at a time instead of a map over the month.
    struct Sum {
        int64_t adapter, device, station;
        int count = 0, total = 0;
        int64_t min = 0, max = 0, sum = 0;
    };
    std::vector<Sum> open;
    int64_t openStart = 0;
    auto flush = [&] {
        std::sort(open.begin(), open.end(), [](const Sum& a, const Sum& b) {
            return std::tie(a.adapter, a.device, a.station) < std::tie(b.adapter, b.device, b.station);
        });
        for (const Sum& sum : open) {
            Bucket row;
            row.startMs = openStart;
            row.adapter = macOf(sum.adapter);
            row.device = macOf(sum.device);
            row.station = macOf(sum.station);
            row.count = sum.count;
            row.total = sum.total;
            if (sum.count > 0) {
                row.minMbps = static_cast<double>(sum.min) / 1000.0;
                row.maxMbps = static_cast<double>(sum.max) / 1000.0;
                row.avgMbps = static_cast<double>(sum.sum) / sum.count / 1000.0;
            }
            rows.push_back(row);
        }
        open.clear();
    };
    const bool ok = forEachSample(filter, [&](const RawSample& raw) {
        const int64_t start = bucketStart(raw.t, everyMs);
        if (start != openStart)
            flush();
        openStart = start;
        auto it = std::find_if(open.begin(), open.end(), [&](const Sum& s) {
            return s.station == raw.station && s.adapter == raw.adapter && s.device == raw.device;
        });
        if (it == open.end())
            it = open.insert(open.end(), Sum{raw.adapter, raw.device, raw.station});
        ++it->total;
        if (!raw.kbps)
            return;
        const int64_t v = *raw.kbps;
        it->min = it->count == 0 ? v : std::min(it->min, v);
        it->max = it->count == 0 ? v : std::max(it->max, v);
        it->sum += v;
        ++it->count;
    });
    flush();
    if (!ok || failed_)
        rows.clear();
    return rows;
}

std::vector<ReplyRow> Store::replies(const Filter& filter)
{
    std::vector<ReplyRow> rows;
    LinkFilter link;
    if (!begin(queryMs) || !loadMacs() || !lookupMac(filter.adapter, &link.adapter, &link.anyAdapter) ||
        !lookupMac(filter.device, &link.device, &link.anyDevice))
        return rows;
    const std::string sql = "SELECT id, adapter, device, average, rating, stations FROM log WHERE id >= ?1 AND id < ?2" +
                            link.conditions("") + " ORDER BY id";
    Stmt s(db_, sql.c_str());
    if (!s.ok()) {
        failQuery(sqlite3_errcode(db_));
        return rows;
    }
    s.bind(1, firstId(filter.sinceMs)).bind(2, firstId(filter.untilMs));
    link.bind(s);
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        ReplyRow row;
        row.timeMs = timeOf(s.integer(0));
        row.adapter = macOf(s.integer(1));
        row.device = macOf(s.integer(2));
        row.averageMbps = s.mbps(3);
        row.rating = ratingText(s.integer(4));
        sqlite3_stmt* h = s.handle();
        if (!unpackStations(sqlite3_column_blob(h, 5), sqlite3_column_bytes(h, 5),
                            [&](const PackedStation&) { ++row.stations; })) {
            damagedRow();
            break;
        }
        rows.push_back(row);
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        failQuery(rc);
    if (failed_)
        rows.clear();
    return rows;
}

std::vector<Latest> Store::latest()
{
    std::vector<Latest> links;
    if (!begin(queryMs) || !loadMacs())
        return links;
    // Station 0 is the link's own newest reply and sorts first within the link.
    Stmt s(db_,
           "SELECT l.adapter, l.device, l.station, l.reply, r.average, r.rating, r.stations"
           " FROM latest l JOIN log r ON r.id = l.reply ORDER BY l.adapter, l.device, l.station");
    if (!s.ok()) {
        failQuery(sqlite3_errcode(db_));
        return links;
    }
    int rc;
    while ((rc = s.step()) == SQLITE_ROW) {
        const uint64_t adapter = macOf(s.integer(0)), device = macOf(s.integer(1));
        const int64_t station = s.integer(2);
        int count = 0;
        bool listed = false;
        std::optional<int64_t> kbps;
        sqlite3_stmt* h = s.handle();
        if (!unpackStations(sqlite3_column_blob(h, 6), sqlite3_column_bytes(h, 6), [&](const PackedStation& p) {
                ++count;
                if (station != 0 && p.station == station) {
                    listed = true;
                    kbps = p.kbps;  // the last of a station listed twice, as recorded
                }
            })) {
            damagedRow();
            break;
        }
        if (station == 0) {
            Latest link;
            link.reply.timeMs = timeOf(s.integer(3));
            link.reply.adapter = adapter;
            link.reply.device = device;
            link.reply.averageMbps = s.mbps(4);
            link.reply.rating = ratingText(s.integer(5));
            link.reply.stations = count;
            links.push_back(link);
            continue;
        }
        if (!listed || links.empty() || links.back().reply.adapter != adapter || links.back().reply.device != device)
            continue;
        Sample sample;
        sample.timeMs = timeOf(s.integer(3));
        sample.adapter = adapter;
        sample.device = device;
        sample.station = macOf(station);
        if (kbps)
            sample.rateMbps = static_cast<double>(*kbps) / 1000.0;
        links.back().stations.push_back(sample);
    }
    if (rc != SQLITE_DONE && rc != SQLITE_ROW)
        failQuery(rc);
    if (failed_) {
        links.clear();
        return links;
    }
    for (Latest& link : links)
        std::sort(link.stations.begin(), link.stations.end(),
                  [](const Sample& a, const Sample& b) { return a.station < b.station; });
    return links;
}

bool Store::damagedRow()
{
    damaged_ = true;
    failed_ = true;
    return fail("damaged: a reply's stations cannot be read");
}

}  // namespace history
