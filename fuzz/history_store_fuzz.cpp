// libFuzzer target for the link history's file. The first byte picks the mode:
// even, the rest is the store file itself; odd, the rest is SQL run against a
// valid store (its schema writable), which then goes to brennicctl's readers.
// Either way the store is opened, checked, queried and turned into metrics as
// brennicctl does, then opened for writing (migrated) and recorded into. It
// must never crash, never run past an operation's deadline, and never answer
// as if whole what SQLite itself finds damaged.
#include "fuzz/fuzz_support.h"
#include "history/history.h"

#include <sqlite3.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using fuzzing::check;
constexpr const char* storeName = "store.sqlite3";

int64_t msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// Runs `op` and checks it kept within `deadlineMs` (with room for a loaded machine).
template <typename Op>
auto timed(int64_t deadlineMs, Op op)
{
    auto start = std::chrono::steady_clock::now();
    auto result = op();
    check(msSince(start) <= deadlineMs + 5000);
    return result;
}

void removeStore()
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        unlink((std::string(storeName) + suffix).c_str());
}

void writeStore(const uint8_t* data, size_t size)
{
    int fd = open(storeName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    check(fd >= 0);
    check(size == 0 || write(fd, data, size) == static_cast<ssize_t>(size));
    close(fd);
}

history::Reply reply(int64_t timeMs)
{
    return {timeMs,
            "02:b7:1c:10:00:01",
            "02:b7:1c:10:00:02",
            {{"02:b7:1c:20:00:03", 4.83}, {"02:b7:1c:20:00:04", std::nullopt}},
            4.83,
            "Link Quality: Fair",
            "eth1"};
}

// A store as the recorder leaves it, made once and copied for every input.
const std::vector<uint8_t>& validStore()
{
    static std::vector<uint8_t> bytes;
    if (!bytes.empty())
        return bytes;
    removeStore();
    {
        history::Store store;
        check(store.open(storeName));
        for (int i = 0; i < 4; ++i)
            check(store.record(reply(history::nowMs() - 120000 + i * 30000)));
    }
    std::FILE* f = std::fopen(storeName, "rb");
    check(f != nullptr);
    for (int c; (c = std::fgetc(f)) != EOF;)
        bytes.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    check(!bytes.empty());
    return bytes;
}

// Statements bounded by the harness itself: what they do to the file is the input.
void runStatements(const uint8_t* data, size_t size)
{
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(storeName, &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        auto start = std::chrono::steady_clock::now();
        sqlite3_progress_handler(
            db, 1000,
            [](void* s) { return msSince(*static_cast<std::chrono::steady_clock::time_point*>(s)) > 1000 ? 1 : 0; },
            &start);
        std::string sql = "PRAGMA writable_schema=ON;" + std::string(reinterpret_cast<const char*>(data), size);
        sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_close_v2(db);
}

// SQLite's own verdict, on a connection of the harness: true when it finds damage.
bool sqliteFindsDamage()
{
    sqlite3* db = nullptr;
    bool damaged = false;
    if (sqlite3_open_v2(storeName, &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &s, nullptr) == SQLITE_OK) {
            int rc = sqlite3_step(s);
            damaged =
                rc == SQLITE_CORRUPT ||
                (rc == SQLITE_ROW && std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 0))) != "ok");
        }
        sqlite3_finalize(s);
    }
    sqlite3_close_v2(db);
    return damaged;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzzing::enterScratchDirectory("history_store_fuzz");
    if (size == 0)
        return 0;
    const bool statements = data[0] & 1;
    const std::vector<uint8_t>& valid = validStore();
    removeStore();
    if (statements) {
        writeStore(valid.data(), valid.size());
        runStatements(data + 1, size - 1);
    } else {
        writeStore(data + 1, size - 1);
    }
    const bool damaged = sqliteFindsDamage();

    history::Filter all;
    all.sinceMs = INT64_MIN;
    {
        history::Store store;
        if (timed(history::deadline::openMs, [&] { return store.open(storeName, history::Store::Mode::readOnly); })) {
            const bool whole = timed(history::deadline::checkMs, [&] { return store.quickCheck(); });
            check(!(damaged && whole));
            timed(history::deadline::queryMs, [&] { return store.samples(all); });
            timed(history::deadline::queryMs, [&] { return store.buckets(all, 3600000); });
            timed(history::deadline::queryMs, [&] { return store.replies(all); });
            history::Filter named = all;
            named.adapterName = "eth1";
            timed(history::deadline::queryMs, [&] { return store.adaptersNamed(named.adapterName); });
            timed(history::deadline::queryMs, [&] { return store.samples(named); });
            auto latest = timed(history::deadline::queryMs, [&] { return store.latest(); });
            history::metricsText(latest);
        }
    }
    {
        const int64_t now = history::nowMs();
        history::Store store;
        if (timed(history::deadline::migrateMs, [&] { return store.open(storeName); }) &&
            timed(history::deadline::recordMs, [&] { return store.record(reply(now)); })) {
            // Recorded means kept: the reply reads back.
            history::Filter just;
            just.sinceMs = now;
            just.untilMs = now + 1;
            std::vector<history::ReplyRow> rows = store.replies(just);
            check(store.failed() || !rows.empty());
        }
    }
    return 0;
}
