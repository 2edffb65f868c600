#pragma once
// What the store's files share and nothing outside history/ includes: the
// statement wrapper, a reply row's ids and packed stations, and the
// statements every record runs.
#include "history/history.h"
#include "netstate/rating.h"

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>

namespace history {

// A reply is one row, numbered by its time: id = time * idsPerMs + n, where n
// tells apart replies of one millisecond (a clock set back, two links at once).
// Rows are then in time order with no index of their own, and a span is a range
// of ids.
inline constexpr int64_t idsPerMs = 16;
inline constexpr int64_t maxMacId = 1000000;

inline int ratingCode(const std::string& text) { return rating::codeOf(text); }

inline const char* ratingText(int64_t code)
{
    return code >= rating::poor && code <= rating::excellent ? rating::texts[code] : "";
}

// A reply's stations, one after another: the station's id in the macs table,
// then 0 for no estimate, 1 and the magnitude for a negative rate, else the
// rate in kbit/s plus 2; each an unsigned LEB128 number (two bytes for rates
// up to 16 Mbps: three a station, where a row per station took about thirty).
inline void putNumber(std::string& out, uint64_t v)
{
    while (v >= 0x80) {
        out += static_cast<char>((v & 0x7f) | 0x80);
        v >>= 7;
    }
    out += static_cast<char>(v);
}

inline bool getNumber(const unsigned char*& at, const unsigned char* end, uint64_t* v)
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

inline void packStation(std::string& out, int64_t station, const std::optional<int64_t>& kbps)
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
            (code == 1 && (!getNumber(at, end, &magnitude) || magnitude > (uint64_t{1} << 62))) ||
            code > (uint64_t{1} << 62))
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
inline int64_t firstId(int64_t t)
{
    if (t >= INT64_MAX / idsPerMs)
        return INT64_MAX;
    if (t <= INT64_MIN / idsPerMs)
        return INT64_MIN;
    return t * idsPerMs;
}

inline int64_t timeOf(int64_t id) { return id >= 0 ? id / idsPerMs : -((-id + idsPerMs - 1) / idsPerMs); }

// A prepared statement, finalized when it goes out of scope.
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
    Stmt& text(int i, const std::string& v)
    {
        sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
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
              int64_t rating, const std::string& stations, int64_t* id);

// The statements every record runs, prepared once per open.
struct Store::Statements {
    explicit Statements(sqlite3* db)
        : insertMac(db, "INSERT OR IGNORE INTO macs(mac) VALUES(?)"), findMac(db, "SELECT id FROM macs WHERE mac=?"),
          putRow(db, "INSERT INTO log(id, adapter, device, average, rating, stations) VALUES(?,?,?,?,?,?)"),
          putLatest(db, "INSERT OR REPLACE INTO latest(adapter, device, station, reply) VALUES(?,?,?,?)"),
          putName(db, "INSERT OR IGNORE INTO adapter_names(name, adapter) VALUES(?,?)"),
          expired(db, "SELECT id FROM log WHERE id < ?1 ORDER BY id LIMIT ?2"),
          dropRows(db, "DELETE FROM log WHERE id <= ?"),
          dropStale(db, "DELETE FROM latest WHERE NOT EXISTS (SELECT 1 FROM log WHERE log.id = latest.reply)")
    {}
    bool ok() const
    {
        return insertMac.ok() && findMac.ok() && putRow.ok() && putLatest.ok() && putName.ok() && expired.ok() &&
               dropRows.ok() && dropStale.ok();
    }
    Stmt insertMac, findMac, putRow, putLatest, putName, expired, dropRows, dropStale;
};

}  // namespace history
