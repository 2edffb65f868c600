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

// A reply's samples are numbered reply id * slotsPerReply + position, so that
// they need no reply column and no index of their own; a profile holds 100 stations.
constexpr int64_t slotsPerReply = 128;
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
const char* const migrations[] = {
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
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return s_ ? sqlite3_step(s_) : SQLITE_MISUSE; }
    void reset()
    {
        sqlite3_reset(s_);
        sqlite3_clear_bindings(s_);
    }
    int64_t integer(int c) { return sqlite3_column_int64(s_, c); }
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

// Creates the missing folders of `dir`, each 0700.
bool makeFolders(const std::string& dir, std::string* why)
{
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at != dir.size() && dir[at] != '/')
            continue;
        std::string part = dir.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            *why = part + ": " + std::strerror(errno);
            return false;
        }
    }
    return true;
}

std::string folderOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
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

Store::~Store() { close(); }

void Store::close()
{
    if (checkpointer_.joinable())
        checkpointer_.join();
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

bool Store::exec(const char* sql)
{
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    std::string why = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return fail(why);
}

bool Store::open(const std::string& path, Mode mode)
{
    close();
    path_ = path;
    readOnly_ = mode == Mode::readOnly;
    recordsSincePrune_ = 0;
    recordsSinceCheckpoint_ = 0;
    if (path.empty()) {
        path_ = "history";
        return fail("no place for it: neither XDG_STATE_HOME nor HOME is set");
    }
    if (!readOnly_) {
        std::string why;
        std::string folder = folderOf(path);
        if (!folder.empty() && !makeFolders(folder, &why))
            return fail(why);
    }

    // The file is checked before the library opens it: a link planted at its
    // place would otherwise be followed, and a new file would take the umask.
    int fd = ::open(path.c_str(), (readOnly_ ? O_RDONLY : O_RDWR | O_CREAT) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0)
        return fail(errno == ELOOP ? "is a symbolic link; not opened" : std::strerror(errno));
    struct stat st {};
    bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular && !readOnly_ && st.st_uid == geteuid() && (st.st_mode & 077) != 0)
        fchmod(fd, 0600);
    ::close(fd);
    if (!regular)
        return fail("not a regular file");

    int flags = (readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        std::string why = db_ ? sqlite3_errmsg(db_) : "out of memory";
        close();
        return fail(why);
    }
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    // A temporary index over a month of samples costs more than the query it serves.
    exec("PRAGMA automatic_index=OFF");
    // WAL keeps readers and the writer apart; NORMAL loses nothing to a killed
    // process. Checkpoints are ours to run (startCheckpoint), not the commit's.
    bool ok = readOnly_ || (journalWal() && exec("PRAGMA synchronous=NORMAL") && exec("PRAGMA wal_autocheckpoint=0") &&
                            exec("PRAGMA journal_size_limit=4194304"));
    ok = ok && migrate();
    if (!ok) {
        close();
        return false;
    }
    return true;
}

// Switching a new file to WAL needs it to itself and does not wait for a busy
// handler: two programs opening it at once retry for up to the busy timeout.
bool Store::journalWal()
{
    for (int waited = 0;; waited += 10) {
        Stmt s(db_, "PRAGMA journal_mode=WAL");
        if (s.ok() && s.step() == SQLITE_ROW)
            return true;
        if (sqlite3_errcode(db_) != SQLITE_BUSY || waited >= busyTimeoutMs)
            return fail(sqlite3_errmsg(db_));
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
    {
        // Finished before BEGIN: a statement still open would hold a read
        // snapshot, and a write from it fails at once instead of waiting.
        Stmt s(db_, "PRAGMA user_version");
        if (!s.ok() || s.step() != SQLITE_ROW)
            return fail(sqlite3_errmsg(db_));
        at = static_cast<int>(s.integer(0));
    }
    if (at > schemaVersion)
        return fail("written by a newer brennic (schema " + std::to_string(at) + ", this one knows " +
                    std::to_string(schemaVersion) + ")");
    if (at == schemaVersion)
        return true;
    if (readOnly_)
        return at == 0 ? fail("holds no history yet") : fail("needs an upgrade that a read-only open cannot do");
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    // Another process may have migrated it while this one waited for the lock.
    int now = version();
    for (int v = now; v < schemaVersion; ++v) {
        if (!exec(migrations[v])) {
            exec("ROLLBACK");
            return false;
        }
    }
    std::string set = "PRAGMA user_version=" + std::to_string(schemaVersion);
    if (!exec(set.c_str()) || !exec("COMMIT")) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

void Store::loadMacs()
{
    macs_.clear();
    Stmt s(db_, "SELECT id, mac FROM macs");
    while (s.ok() && s.step() == SQLITE_ROW) {
        const int64_t id = s.integer(0);
        // Ids are handed out one by one; a file with wild ones is not ours to index.
        if (id <= 0 || id > maxMacId)
            continue;
        if (macs_.size() <= static_cast<size_t>(id))
            macs_.resize(static_cast<size_t>(id) + 1, 0);
        macs_[static_cast<size_t>(id)] = static_cast<uint64_t>(s.integer(1));
    }
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
    Stmt insert(db_, "INSERT OR IGNORE INTO macs(mac) VALUES(?)");
    if (!insert.ok() || insert.bind(1, static_cast<int64_t>(mac)).step() != SQLITE_DONE)
        return 0;
    Stmt find(db_, "SELECT id FROM macs WHERE mac=?");
    if (!find.ok() || find.bind(1, static_cast<int64_t>(mac)).step() != SQLITE_ROW)
        return 0;
    int64_t id = find.integer(0);
    if (id > 0 && id <= maxMacId) {
        if (macs_.size() <= static_cast<size_t>(id))
            macs_.resize(static_cast<size_t>(id) + 1, 0);
        macs_[static_cast<size_t>(id)] = mac;
    }
    return id;
}

// The id of a filter's MAC: none when the filter is empty; false when it is
// malformed or was never recorded (nothing can match).
bool Store::lookupMac(const std::string& text, int64_t* id, bool* none)
{
    *none = text.empty();
    if (*none)
        return true;
    uint64_t mac = 0;
    if (!parseMac(text, &mac))
        return false;
    Stmt find(db_, "SELECT id FROM macs WHERE mac=?");
    if (!find.ok() || find.bind(1, static_cast<int64_t>(mac)).step() != SQLITE_ROW)
        return false;
    *id = find.integer(0);
    return true;
}

bool Store::record(const Reply& reply)
{
    if (!db_)
        return fail("not open");
    if (readOnly_)
        return fail("opened read-only");
    uint64_t adapter = 0, device = 0;
    if (!parseMac(reply.adapter, &adapter) || !parseMac(reply.device, &device))
        return fail("a reply without its adapter or device");
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    bool ok = true;
    int64_t adapterId = macId(adapter), deviceId = macId(device);
    ok = adapterId != 0 && deviceId != 0;
    int64_t rid = 0;
    if (ok) {
        Stmt s(db_, "INSERT INTO replies(t, adapter, device, average, rating) VALUES(?,?,?,?,?)");
        ok = s.ok() && s.bind(1, reply.timeMs)
                               .bind(2, adapterId)
                               .bind(3, deviceId)
                               .bind(4, toKbps(reply.averageMbps))
                               .bind(5, int64_t{ratingCode(reply.rating)})
                               .step() == SQLITE_DONE;
        rid = sqlite3_last_insert_rowid(db_);
    }
    Stmt sample(db_, "INSERT INTO samples(id, station, rate) VALUES(?,?,?)");
    Stmt latest(db_, "INSERT OR REPLACE INTO latest(adapter, device, station, item) VALUES(?,?,?,?)");
    ok = ok && sample.ok() && latest.ok();
    if (ok) {
        latest.bind(1, adapterId).bind(2, deviceId).bind(3, int64_t{0}).bind(4, rid * slotsPerReply);
        ok = latest.step() == SQLITE_DONE;
        latest.reset();
    }
    int64_t position = 0;
    for (const StationRate& station : reply.stations) {
        uint64_t mac = 0;
        if (!ok || position == slotsPerReply)
            break;
        if (!parseMac(station.station, &mac))
            continue;
        int64_t stationId = macId(mac);
        int64_t item = rid * slotsPerReply + position++;
        ok = stationId != 0 && sample.bind(1, item).bind(2, stationId).bind(3, toKbps(station.rateMbps)).step() == SQLITE_DONE;
        sample.reset();
        if (ok) {
            ok = latest.bind(1, adapterId).bind(2, deviceId).bind(3, stationId).bind(4, item).step() == SQLITE_DONE;
            latest.reset();
        }
    }
    if (ok && ++recordsSincePrune_ >= pruneEvery) {
        recordsSincePrune_ = 0;
        ok = prune(reply.timeMs, pruneBatch) >= 0;
    }
    // A failed COMMIT has said why through exec(); a failed step says it here.
    const std::string why = ok ? std::string() : std::string(sqlite3_errmsg(db_));
    if (!ok || !exec("COMMIT")) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        // The ids learnt inside the transaction went with it.
        macs_.clear();
        return ok ? false : fail(why);
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
    if (!db_ || readOnly_)
        return -1;
    const int64_t cut = now - int64_t{retentionDays_} * msPerDay;
    std::vector<int64_t> old;
    {
        Stmt s(db_, "SELECT id FROM replies WHERE t < ? ORDER BY t LIMIT ?");
        if (!s.ok())
            return -1;
        s.bind(1, cut).bind(2, int64_t{maxReplies});
        int rc;
        while ((rc = s.step()) == SQLITE_ROW)
            old.push_back(s.integer(0));
        if (rc != SQLITE_DONE)
            return -1;
    }
    if (old.empty())
        return 0;
    Stmt samples(db_, "DELETE FROM samples WHERE id >= ? AND id < ?");
    Stmt replies(db_, "DELETE FROM replies WHERE id = ?");
    if (!samples.ok() || !replies.ok())
        return -1;
    for (int64_t id : old) {
        if (samples.bind(1, id * slotsPerReply).bind(2, (id + 1) * slotsPerReply).step() != SQLITE_DONE)
            return -1;
        samples.reset();
        if (replies.bind(1, id).step() != SQLITE_DONE)
            return -1;
        replies.reset();
    }
    Stmt stale(db_, "DELETE FROM latest WHERE item / 128 NOT IN (SELECT id FROM replies)");
    if (!stale.ok() || stale.step() != SQLITE_DONE)
        return -1;
    return static_cast<int>(old.size());
}

bool Store::forEachSample(const Filter& filter, const std::function<void(const RawSample&)>& visit)
{
    if (!db_ || version() != schemaVersion)
        return false;
    int64_t station = 0;
    bool anyStation;
    LinkFilter link;
    if (!lookupMac(filter.station, &station, &anyStation) ||
        !lookupMac(filter.adapter, &link.adapter, &link.anyAdapter) ||
        !lookupMac(filter.device, &link.device, &link.anyDevice))
        return false;

    // The replies first, a few thousand a day, by id; then their samples in one
    // pass over the id range they span: no join, no sort, no index per station.
    std::string sql = "SELECT id, t, adapter, device FROM replies WHERE t >= ?1 AND t < ?2" + link.conditions("");
    Stmt r(db_, sql.c_str());
    if (!r.ok())
        return false;
    r.bind(1, filter.sinceMs).bind(2, filter.untilMs);
    link.bind(r);
    struct ReplyKey {
        int64_t id, t, adapter, device;
    };
    std::vector<ReplyKey> replies;
    while (r.step() == SQLITE_ROW)
        replies.push_back({r.integer(0), r.integer(1), r.integer(2), r.integer(3)});
    if (replies.empty())
        return true;
    // Ids grow with time unless the clock was set back: then by time, as promised.
    std::sort(replies.begin(), replies.end(), [](const ReplyKey& a, const ReplyKey& b) { return a.id < b.id; });
    const bool timeOrdered = std::is_sorted(replies.begin(), replies.end(),
                                            [](const ReplyKey& a, const ReplyKey& b) { return a.t < b.t; });

    std::string sampleSql = "SELECT id, station, rate FROM samples WHERE id >= ?1 AND id < ?2";
    if (!anyStation)
        sampleSql += " AND station = ?3";
    Stmt s(db_, sampleSql.c_str());
    if (!s.ok())
        return false;
    s.bind(1, replies.front().id * slotsPerReply).bind(2, (replies.back().id + 1) * slotsPerReply);
    if (!anyStation)
        s.bind(3, station);
    std::vector<RawSample> unordered;
    size_t at = 0;
    while (s.step() == SQLITE_ROW) {
        const int64_t id = s.integer(0);
        const int64_t reply = id / slotsPerReply;
        while (at < replies.size() && replies[at].id < reply)
            ++at;
        if (at == replies.size())
            break;
        if (replies[at].id != reply)
            continue;  // a reply the filter left out
        RawSample row{replies[at].t, id, replies[at].adapter, replies[at].device, s.integer(1),
                      s.isNull(2) ? std::nullopt : std::optional<int64_t>(s.integer(2))};
        if (timeOrdered)
            visit(row);
        else
            unordered.push_back(row);
    }
    std::stable_sort(unordered.begin(), unordered.end(), [](const RawSample& a, const RawSample& b) { return a.t < b.t; });
    for (const RawSample& row : unordered)
        visit(row);
    return true;
}

std::vector<Sample> Store::samples(const Filter& filter)
{
    std::vector<Sample> rows;
    loadMacs();
    forEachSample(filter, [&](const RawSample& raw) {
        Sample row;
        row.timeMs = raw.t;
        row.adapter = macOf(raw.adapter);
        row.device = macOf(raw.device);
        row.station = macOf(raw.station);
        if (raw.kbps)
            row.rateMbps = static_cast<double>(*raw.kbps) / 1000.0;
        rows.push_back(row);
    });
    return rows;
}

std::vector<Bucket> Store::buckets(const Filter& filter, int64_t everyMs)
{
    std::vector<Bucket> rows;
    if (everyMs <= 0)
        return rows;
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
    loadMacs();
    forEachSample(filter, [&](const RawSample& raw) {
        const int64_t start = raw.t - ((raw.t % everyMs) + everyMs) % everyMs;
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
    return rows;
}

std::vector<ReplyRow> Store::replies(const Filter& filter)
{
    std::vector<ReplyRow> rows;
    if (!db_ || version() != schemaVersion)
        return rows;
    LinkFilter link;
    if (!lookupMac(filter.adapter, &link.adapter, &link.anyAdapter) ||
        !lookupMac(filter.device, &link.device, &link.anyDevice))
        return rows;
    std::string sql =
        "SELECT r.t, r.adapter, r.device, (SELECT count(*) FROM samples s WHERE s.id >= r.id * 128"
        " AND s.id < r.id * 128 + 128), r.average, r.rating FROM replies r WHERE r.t >= ?1 AND r.t < ?2" +
        link.conditions("r.") + " ORDER BY r.t, r.id";
    Stmt s(db_, sql.c_str());
    if (!s.ok())
        return rows;
    s.bind(1, filter.sinceMs).bind(2, filter.untilMs);
    link.bind(s);
    loadMacs();
    while (s.step() == SQLITE_ROW) {
        ReplyRow row;
        row.timeMs = s.integer(0);
        row.adapter = macOf(s.integer(1));
        row.device = macOf(s.integer(2));
        row.stations = static_cast<int>(s.integer(3));
        row.averageMbps = s.mbps(4);
        row.rating = ratingText(s.integer(5));
        rows.push_back(row);
    }
    return rows;
}

std::vector<Latest> Store::latest()
{
    std::vector<Latest> links;
    if (!db_ || version() != schemaVersion)
        return links;
    // Station 0 is the link's own newest reply and sorts first within the link.
    Stmt s(db_,
           "SELECT l.adapter, l.device, l.station, r.t, r.average, r.rating, s.rate,"
           " (SELECT count(*) FROM samples c WHERE c.id >= r.id * 128 AND c.id < r.id * 128 + 128)"
           " FROM latest l JOIN replies r ON r.id = l.item / 128 LEFT JOIN samples s ON s.id = l.item AND l.station != 0"
           " ORDER BY l.adapter, l.device, l.station");
    if (!s.ok())
        return links;
    loadMacs();
    while (s.step() == SQLITE_ROW) {
        uint64_t adapter = macOf(s.integer(0)), device = macOf(s.integer(1));
        if (s.integer(2) == 0) {
            Latest link;
            link.reply.timeMs = s.integer(3);
            link.reply.adapter = adapter;
            link.reply.device = device;
            link.reply.averageMbps = s.mbps(4);
            link.reply.rating = ratingText(s.integer(5));
            link.reply.stations = static_cast<int>(s.integer(7));
            links.push_back(link);
            continue;
        }
        if (links.empty() || links.back().reply.adapter != adapter || links.back().reply.device != device)
            continue;
        Sample sample;
        sample.timeMs = s.integer(3);
        sample.adapter = adapter;
        sample.device = device;
        sample.station = macOf(s.integer(2));
        sample.rateMbps = s.mbps(6);
        links.back().stations.push_back(sample);
    }
    for (Latest& link : links)
        std::sort(link.stations.begin(), link.stations.end(),
                  [](const Sample& a, const Sample& b) { return a.station < b.station; });
    return links;
}

}  // namespace history
