#pragma once
// Link history: every link-statistics reply that updates the rates, kept in an
// SQLite file as one row per reply, its stations' samples packed in it. A record, never
// a dependency: every failure is a false return (a query: failed()) and one
// line in error(). The file is trusted for nothing: whose it is, its schema and
// how long a statement may take are checked, not assumed.
#include "history/rows.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct sqlite3;

namespace history {

constexpr int defaultRetentionDays = 90;
constexpr int schemaVersion = 3;

// How long an operation may run before its statement is stopped: far above
// what the largest store takes, far below a hang.
namespace deadline {
constexpr int64_t openMs = 60000;   // the schema check and a migration
constexpr int64_t recordMs = 2000;  // one reply, inside a monitor tick
constexpr int64_t queryMs = 60000;
constexpr int64_t checkMs = 600000;    // reads every page
constexpr int64_t migrateMs = 600000;  // rewrites every row, once
}  // namespace deadline

class Store {
public:
    enum class Mode { readWrite, readOnly };

    Store();
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    // Opens (readWrite: creates the folder 0700 and the file 0600). The folder and
    // the file are neither links nor another user's nor writable by group or
    // others; the schema is exactly the one the migrations make (no view, no
    // trigger); WAL, busy timeout, schema created or migrated. False: see error().
    bool open(const std::string& path, Mode mode = Mode::readWrite);
    void close();
    bool isOpen() const { return db_ != nullptr; }
    const std::string& path() const { return path_; }
    // The reason of the last failure, one line without a newline.
    const std::string& error() const { return error_; }

    // Samples older than this are pruned a bounded batch at a time while recording.
    void setRetentionDays(int days) { retentionDays_ = days > 0 ? days : defaultRetentionDays; }
    int retentionDays() const { return retentionDays_; }

    // One transaction: the reply row, its samples and, now and then, a bounded prune.
    bool record(const Reply& reply);
    // Deletes at most `maxReplies` of the replies older than the retention; returns how many.
    int prune(int64_t nowMs, int maxReplies);

    // Every query below clears failed() first and sets it, with error(), when the
    // store could not answer: an empty result is then an error, not "nothing".
    bool failed() const { return failed_; }
    // The last failure came from a damaged file (the library found it corrupt).
    bool damaged() const { return damaged_; }

    // SQLite's quick check: true when it finds nothing; else false, error() the first finding.
    bool quickCheck();

    // Samples matching the filter, oldest first.
    std::vector<Sample> samples(const Filter& filter);
    // Per-station min/avg/max over intervals of `everyMs` aligned to the epoch, oldest first.
    std::vector<Bucket> buckets(const Filter& filter, int64_t everyMs);
    // Reply rows matching the filter (station ignored), oldest first.
    std::vector<ReplyRow> replies(const Filter& filter);
    // Per link (adapter, device) its newest reply and each station's newest sample, for the metrics.
    std::vector<Latest> latest();
    // The adapters recorded under interface name `name` (more than one when it was
    // replaced), by MAC.
    std::vector<uint64_t> adaptersNamed(const std::string& name);

    // The file's user_version (0 when not open).
    int version();

private:
    bool fail(const std::string& what);
    // Fails with the library's reason for `rc` (a query: also sets failed()).
    bool failWith(int rc);
    bool failQuery(int rc);
    // Starts the clock of an operation: every statement of it stops at `ms`.
    void arm(int64_t ms);
    bool begin(int64_t ms);
    bool openChecked(const std::string& path);
    bool configure();
    bool knownVersion(int* at);
    bool checkSchema();
    bool migrateRows();
    bool damagedRow();
    struct Statements;
    std::unique_ptr<Statements> statements_;
    bool exec(const char* sql);
    bool migrate();
    bool journalWal();
    void startCheckpoint();
    int64_t macId(uint64_t mac);
    bool lookupMac(const std::string& text, int64_t* id, bool* none);
    uint64_t macOf(int64_t id);
    bool loadMacs();
    // A sample as stored: ids of the macs table, the rate in kbit/s.
    struct RawSample {
        int64_t t, id, adapter, device, station;
        std::optional<int64_t> kbps;
    };
    // Every sample the filter matches, oldest first; false when none can.
    bool forEachSample(const Filter& filter, const std::function<void(const RawSample&)>& visit);

    sqlite3* db_ = nullptr;
    std::string path_;
    std::string error_;
    int retentionDays_ = defaultRetentionDays;
    int recordsSincePrune_ = 0;
    int recordsSinceCheckpoint_ = 0;
    std::thread checkpointer_;
    std::atomic<bool> checkpointing_{false};
    bool readOnly_ = false;
    bool failed_ = false;
    bool damaged_ = false;
    int64_t deadlineNs_ = 0;                              // CLOCK_MONOTONIC
    std::vector<uint64_t> macs_;                          // MAC by id (0: none), the small table held in memory
    std::vector<std::pair<std::string, int64_t>> names_;  // (name, adapter id) written since the open
};

}  // namespace history
