// The link history over real files: what the store refuses and why, what it
// keeps at the retention's edge, and what brennicctl prints, read back by a
// parser to the millisecond.
#include "history/history.h"
#include "support/history_fill.h"
#include "support/scratch.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace {

constexpr int64_t hourMs = 3600000, dayMs = 86400000;
const std::string adapter = "02:b7:1c:00:00:01", device = "02:b7:1c:10:1d:01";
const std::string s1 = "02:b7:1c:20:00:01", s2 = "02:b7:1c:20:00:02";

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool sql(const std::string& path, const std::string& statement)
{
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
              sqlite3_exec(db, statement.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

history::Reply reply(int64_t t, std::optional<double> r1, std::optional<double> r2)
{
    return {t, adapter, device, {{s1, r1}, {s2, r2}}, 2.0, "Link Quality: Fair"};
}

// A store at `path` with `replies` recorded and the writer gone (the log copied back).
void make(const std::string& path, const std::vector<history::Reply>& replies, int retentionDays = 90)
{
    history::Store store;
    ASSERT_TRUE(store.open(path)) << store.error();
    store.setRetentionDays(retentionDays);
    for (const history::Reply& r : replies)
        ASSERT_TRUE(store.record(r)) << store.error();
}

// Overwrites pages [from, to) of 4 KiB (to 0: the end) with bytes no page holds.
void spoilPages(const std::string& path, long from, long to)
{
    const long pages = static_cast<long>(slurp(path).size() / 4096);
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    for (long page = from; page < (to ? to : pages); ++page) {
        file.seekp(page * 4096);
        file << std::string(4096, '\xa5');
    }
}

// Many pages: a damaged one lies among the samples whichever it is.
std::vector<history::Reply> bulk(int64_t from)
{
    std::vector<history::Reply> rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back(reply(from + i * 30000, 1.0 + i % 7, std::nullopt));
    return rows;
}

struct Output {
    int status = -1;
    std::string out, err;
};

Output brennicctl(const std::vector<std::string>& args, const scratch::Directory& dir)
{
    const std::string out = dir.file("out"), err = dir.file("err");
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    // Station names come from the state folder: the scratch one, not the user's.
    setenv("BRENNIC_STATE_DIR", dir.path().c_str(), 1);
    pid_t pid = scratch::spawn(BRENNICCTL_PATH, "brennicctl", args, -1, o, e);
    close(o);
    close(e);
    Output run;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = slurp(out);
    run.err = slurp(err);
    return run;
}

// "2026-12-08T23:58:30.250Z" to UTC milliseconds; -1 when it is not one.
int64_t parseTime(const std::string& text)
{
    tm utc{};
    int ms = -1;
    if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d.%3dZ", &utc.tm_year, &utc.tm_mon, &utc.tm_mday, &utc.tm_hour,
                    &utc.tm_min, &utc.tm_sec, &ms) != 7 ||
        text.size() != 24)
        return -1;
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    return static_cast<int64_t>(timegm(&utc)) * 1000 + ms;
}

std::vector<std::vector<std::string>> csv(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        rows.emplace_back();
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            rows.back().push_back(cell);
        if (!line.empty() && line.back() == ',')
            rows.back().push_back("");
    }
    return rows;
}

// Folders and files another user could swap, plant or change; a schema the
// migrations do not make; a newer one; damage. Each: the open refused, or the
// query failed, with the reason in the one line.
TEST(Store, RefusesWhatItCannotTrustAndSaysWhy)
{
    struct Case {
        const char* name;
        std::function<bool(const std::string& path, const std::string& folder)> spoil;
        bool needsRoot;      // and then root may read it: the service's history, say
        bool opens;          // the open succeeds and a query fails instead
        std::string reason;  // in error()
    };
    // clang-format off
    const Case cases[] = {
        {"a newer schema", [](auto& p, auto&) { return sql(p, "PRAGMA user_version=7"); }, false, false,
         "newer brennic (schema 7, this one knows 3)"},
        {"a planted recursive view",
         [](auto& p, auto&) {
             return sql(p, "DROP TABLE latest; CREATE VIEW latest AS WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL "
                           "SELECT i+1 FROM n) SELECT i AS adapter, i AS device, i AS station, i AS item FROM n");
         },
         false, false, "holds the view 'latest' that schema 3 does not have"},
        {"a planted trigger",
         [](auto& p, auto&) {
             return sql(p, "CREATE TRIGGER t AFTER INSERT ON log BEGIN SELECT 1; END");
         },
         false, false, "holds the trigger 't'"},
        {"a missing table", [](auto& p, auto&) { return sql(p, "DROP TABLE latest"); }, false, false,
         "the table 'latest' of schema 3 is missing"},
        {"a group-writable folder", [](auto&, auto& f) { return chmod(f.c_str(), 0770) == 0; }, false, false,
         "writable by other users (mode 0770)"},
        {"an other-writable file", [](auto& p, auto&) { return chmod(p.c_str(), 0606) == 0; }, false, false,
         "writable by other users (mode 0606)"},
        {"a folder that is a link",
         [](auto&, auto& f) {
             return std::rename(f.c_str(), (f + ".real").c_str()) == 0 && symlink((f + ".real").c_str(), f.c_str()) == 0;
         },
         false, false, "a symbolic link; not used"},
        {"a second name", [](auto& p, auto& f) { return link(p.c_str(), (f + "/other").c_str()) == 0; }, false, false,
         "has other names"},
        {"another user's file", [](auto& p, auto&) { return chown(p.c_str(), scratch::nobody, 0) == 0; }, true,
         false, "owned by another user (uid 65534)"},
        {"another user's folder", [](auto&, auto& f) { return chown(f.c_str(), scratch::nobody, 0) == 0; }, true,
         false, "owned by another user (uid 65534)"},
        {"every page but the first damaged", [](auto& p, auto&) { return spoilPages(p, 1, 0), true; }, false, true,
         "malformed"},
    };
    // clang-format on
    scratch::Directory dir("history-trust");
    ASSERT_TRUE(dir.ok());
    int n = 0;
    for (const Case& c : cases) {
        if (c.needsRoot && geteuid() != 0)
            continue;
        const std::string folder = dir.file("case" + std::to_string(++n));
        const std::string path = folder + "/history.sqlite3";
        make(path, bulk(1764547200000));
        ASSERT_TRUE(c.spoil(path, folder)) << c.name;
        for (auto mode : {history::Store::Mode::readOnly, history::Store::Mode::readWrite}) {
            history::Store store;
            const bool opened = store.open(path, mode);
            if (c.needsRoot && mode == history::Store::Mode::readOnly) {
                EXPECT_TRUE(opened && !store.samples({}).empty()) << c.name << ": " << store.error();
                continue;
            }
            EXPECT_EQ(opened, c.opens) << c.name;
            if (opened) {
                EXPECT_TRUE(store.samples({}).empty()) << c.name;
                EXPECT_TRUE(store.failed()) << c.name;
                if (mode == history::Store::Mode::readWrite) {
                    EXPECT_FALSE(store.record(reply(1764547200000 + dayMs, 1.0, 2.0))) << c.name;
                    EXPECT_TRUE(store.damaged()) << c.name << ": " << store.error();
                }
            }
            EXPECT_EQ(store.error().rfind(path + ": ", 0) == 0 || store.error().rfind(folder + ": ", 0) == 0, true)
                << c.name << ": " << store.error();
            EXPECT_NE(store.error().find(c.reason), std::string::npos) << c.name << ": " << store.error();
            EXPECT_EQ(store.error().find("not an error"), std::string::npos) << c.name;
            if (opened) {
                EXPECT_FALSE(store.quickCheck()) << c.name;
                EXPECT_NE(store.error().find(": damaged: "), std::string::npos) << store.error();
            }
        }
    }
    // Nothing is made in another user's folder that others can write to.
    if (geteuid() == 0) {
        const std::string shared = dir.file("shared");
        ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
        ASSERT_EQ(chmod(shared.c_str(), 0777), 0);
        ASSERT_EQ(chown(shared.c_str(), scratch::nobody, 0), 0);
        history::Store store;
        EXPECT_FALSE(store.open(shared + "/brennic/history.sqlite3"));
        EXPECT_NE(store.error().find(shared + ": another user's folder"), std::string::npos) << store.error();
        EXPECT_NE(access((shared + "/brennic").c_str(), F_OK), 0);
    }
    // A store it makes: folder 0700, file 0600.
    history::Store made;
    ASSERT_TRUE(made.open(dir.file("new/brennic/history.sqlite3"))) << made.error();
    struct stat st {};
    ASSERT_EQ(stat(dir.file("new/brennic").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat(dir.file("new/brennic/history.sqlite3").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_TRUE(made.quickCheck()) << made.error();
}

// A store as brennic wrote it at schema 1 (tests/history/schema1.sql, made by
// that version's recorder) is migrated on its first open for writing and then
// answers exactly as that version did (schema1.expected, its own answers).
// Taken back to schema 2 (3 without the adapters' names), it is migrated again.
TEST(Store, MigratesAStoreOfSchemaOneKeepingEverySample)
{
    scratch::Directory dir("history-migrate");
    const std::string path = dir.file("h/history.sqlite3");
    ASSERT_EQ(mkdir(dir.file("h").c_str(), 0700), 0);
    ASSERT_TRUE(sql(path, slurp(std::string(GOLDEN_DIR) + "/schema1.sql")));
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    history::Store store;
    ASSERT_FALSE(store.open(path, history::Store::Mode::readOnly));
    EXPECT_NE(store.error().find("needs an upgrade"), std::string::npos) << store.error();
    ASSERT_TRUE(store.open(path)) << store.error();
    EXPECT_EQ(store.version(), 3);
    ASSERT_TRUE(store.open(path, history::Store::Mode::readOnly)) << store.error();
    std::string answers;
    char line[200];
    for (const history::ReplyRow& r : store.replies({})) {
        std::snprintf(line, sizeof line, "R %lld %s %s %d %s %s\n", static_cast<long long>(r.timeMs),
                      history::Mac(r.adapter).text().c_str(), history::Mac(r.device).text().c_str(), r.stations,
                      r.averageMbps ? std::to_string(*r.averageMbps).c_str() : "*", r.rating.c_str());
        answers += line;
    }
    for (const history::Sample& x : store.samples({})) {
        std::snprintf(line, sizeof line, "S %lld %s %s %s %s\n", static_cast<long long>(x.timeMs),
                      history::Mac(x.adapter).text().c_str(), history::Mac(x.device).text().c_str(),
                      history::Mac(x.station).text().c_str(), x.rateMbps ? std::to_string(*x.rateMbps).c_str() : "*");
        answers += line;
    }
    answers += history::metricsText(store.latest());
    EXPECT_FALSE(store.failed()) << store.error();
    EXPECT_EQ(answers, slurp(std::string(GOLDEN_DIR) + "/schema1.expected"));
    const size_t replies = store.replies({}).size(), samples = store.samples({}).size();
    store.close();
    ASSERT_TRUE(sql(path, "DROP TABLE adapter_names; PRAGMA user_version=2"));
    ASSERT_FALSE(store.open(path, history::Store::Mode::readOnly));
    ASSERT_TRUE(store.open(path)) << store.error();
    EXPECT_EQ(store.version(), 3);
    EXPECT_EQ(store.replies({}).size(), replies);
    EXPECT_EQ(store.samples({}).size(), samples);
    EXPECT_TRUE(store.adaptersNamed("eth1").empty());
    EXPECT_FALSE(store.failed()) << store.error();
}

// A reply at the retention's edge is kept, one past it goes, and with it the
// stations only it listed leave the latest.
TEST(Store, PrunesAtTheRetentionsEdgeAndTheLatestFollows)
{
    scratch::Directory dir("history-prune");
    const std::string path = dir.file("h/history.sqlite3");
    const int64_t t0 = 1764547200000;
    history::Store store;
    ASSERT_TRUE(store.open(path)) << store.error();
    store.setRetentionDays(1);
    ASSERT_TRUE(store.record(reply(t0, 1.0, 2.0)));
    ASSERT_TRUE(store.record({t0 + dayMs, adapter, device, {{s1, 3.0}}, 3.0, "Link Quality: Excellent"}));
    EXPECT_EQ(store.replies({}).size(), 2u);
    std::vector<history::Latest> latest = store.latest();
    ASSERT_EQ(latest.size(), 1u);
    ASSERT_EQ(latest[0].stations.size(), 2u);
    EXPECT_EQ(latest[0].stations[1].timeMs, t0);
    ASSERT_TRUE(store.record({t0 + dayMs + 1, adapter, device, {{s1, 4.0}}, 4.0, "Link Quality: Excellent"}));
    std::vector<history::ReplyRow> kept = store.replies({});
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].timeMs, t0 + dayMs);
    latest = store.latest();
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_EQ(latest[0].reply.timeMs, t0 + dayMs + 1);
    ASSERT_EQ(latest[0].stations.size(), 1u);
    EXPECT_EQ(history::Mac(latest[0].stations[0].station).text(), s1);
    EXPECT_EQ(*latest[0].stations[0].rateMbps, 4.0);
    EXPECT_FALSE(store.failed());
}

// Four replies around yesterday's midnight (UTC), the last recorded after the
// clock was set back a minute: brennicctl prints them in time order in every
// format, each time exact to the millisecond, and the hours split at midnight.
TEST(Brennicctl, PrintsEveryFormatSoThatAParserReadsItBack)
{
    scratch::Directory dir("history-cli");
    const std::string path = dir.file("h/history.sqlite3");
    const int64_t midnight = history::nowMs() / dayMs * dayMs - dayMs;
    const int64_t t1 = midnight - 89750, t2 = midnight - 29500, t3 = midnight + 30125, back = midnight - 59000;
    make(path, {reply(t1, 1.5, std::nullopt), reply(t2, 2.0, 3.25), reply(t3, 2.5, 3.5), reply(back, 1.0, 3.0)});
    struct Row {
        int64_t t;
        std::string station;
        std::optional<double> rate;
    };
    const std::vector<Row> samples = {{t1, s1, 1.5}, {t1, s2, {}},   {back, s1, 1.0}, {back, s2, 3.0},
                                      {t2, s1, 2.0}, {t2, s2, 3.25}, {t3, s1, 2.5},   {t3, s2, 3.5}};
    auto with = [&](std::vector<std::string> options) {
        options.insert(options.begin(), "history");
        options.insert(options.end(), {"--since", "3d", "--history", path});
        return options;
    };
    struct Format {
        const char* name;
        std::vector<std::string> args;
        std::function<std::vector<Row>(const std::string&)> parse;
    };
    // clang-format off
    const Format formats[] = {
        {"plain", with({}),
         [](const std::string& out) {
             std::vector<Row> rows;
             std::istringstream lines(out);
             std::string line;
             std::getline(lines, line);
             while (std::getline(lines, line)) {
                 std::istringstream cells(line);
                 std::string time, a, d, station, rate;
                 cells >> time >> a >> d >> station >> rate;
                 rows.push_back({parseTime(time), station, rate == "*" ? std::nullopt : std::optional(std::stod(rate))});
             }
             return rows;
         }},
        {"csv", with({"--csv"}),
         [](const std::string& out) {
             std::vector<Row> rows;
             auto table = csv(out);
             EXPECT_EQ(table.at(0), (std::vector<std::string>{"time", "adapter", "device", "station", "rate_mbps"}));
             for (size_t i = 1; i < table.size(); ++i)
                 rows.push_back({parseTime(table[i].at(0)), table[i].at(3),
                                 table[i].at(4).empty() ? std::nullopt : std::optional(std::stod(table[i][4]))});
             return rows;
         }},
        {"json", with({"--json"}),
         [](const std::string& out) {
             std::vector<Row> rows;
             const nlohmann::json doc = nlohmann::json::parse(out);
             for (const auto& s : doc.at("samples"))
                 rows.push_back({parseTime(s.at("time")), s.at("station"),
                                 s.at("rateMbps").is_null() ? std::nullopt : std::optional(s.at("rateMbps").get<double>())});
             return rows;
         }},
    };
    // clang-format on
    for (const Format& f : formats) {
        Output run = brennicctl(f.args, dir);
        ASSERT_EQ(run.status, 0) << f.name << ": " << run.err;
        std::vector<Row> rows;
        ASSERT_NO_THROW(rows = f.parse(run.out)) << f.name << ": " << run.out;
        ASSERT_EQ(rows.size(), samples.size()) << f.name << ": " << run.out;
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].t, samples[i].t) << f.name << " row " << i;
            EXPECT_EQ(rows[i].station, samples[i].station) << f.name << " row " << i;
            EXPECT_EQ(rows[i].rate, samples[i].rate) << f.name << " row " << i;
        }
    }

    // The hours either side of midnight: S1 1.5, 1.0, 2.0 | 2.5; S2 -, 3.0, 3.25 | 3.5.
    struct Interval {
        int64_t start;
        std::string station;
        double min, avg, max;
        int samples, rated;
    };
    const std::vector<Interval> hours = {{midnight - hourMs, s1, 1.0, 1.5, 2.0, 3, 3},
                                         {midnight - hourMs, s2, 3.0, 3.125, 3.25, 3, 2},
                                         {midnight, s1, 2.5, 2.5, 2.5, 1, 1},
                                         {midnight, s2, 3.5, 3.5, 3.5, 1, 1}};
    Output json = brennicctl(with({"--json", "--every", "1h"}), dir);
    Output table = brennicctl(with({"--csv", "--every", "1h"}), dir);
    ASSERT_EQ(json.status, 0) << json.err;
    ASSERT_EQ(table.status, 0) << table.err;
    nlohmann::json intervals;
    ASSERT_NO_THROW(intervals = nlohmann::json::parse(json.out).at("intervals")) << json.out;
    auto rows = csv(table.out);
    ASSERT_EQ(intervals.size(), hours.size()) << json.out;
    ASSERT_EQ(rows.size(), hours.size() + 1) << table.out;
    for (size_t i = 0; i < hours.size(); ++i) {
        const auto& j = intervals[i];
        const auto& c = rows[i + 1];
        EXPECT_EQ(parseTime(j.at("start")), hours[i].start) << i;
        EXPECT_EQ(parseTime(c.at(0)), hours[i].start) << i;
        EXPECT_EQ(j.at("station"), hours[i].station) << i;
        EXPECT_EQ(j.at("minMbps").get<double>(), hours[i].min) << i;
        EXPECT_EQ(j.at("avgMbps").get<double>(), hours[i].avg) << i;
        EXPECT_EQ(j.at("maxMbps").get<double>(), hours[i].max) << i;
        EXPECT_EQ(j.at("samples").get<int>(), hours[i].samples) << i;
        EXPECT_EQ(j.at("rated").get<int>(), hours[i].rated) << i;
        EXPECT_EQ(std::vector<std::string>(c.begin() + 3, c.end()),
                  (std::vector<std::string>{hours[i].station, std::to_string(hours[i].min).substr(0, 5),
                                            std::to_string(hours[i].avg).substr(0, 5),
                                            std::to_string(hours[i].max).substr(0, 5), std::to_string(hours[i].samples),
                                            std::to_string(hours[i].rated)}))
            << i;
    }
}

// A damaged store: every command that reads it says so in one line and exits
// 1, printing nothing that could pass for an answer; --check finds it.
TEST(Brennicctl, ADamagedStoreIsAnErrorNotAShortAnswer)
{
    scratch::Directory dir("history-damaged");
    const std::string good = dir.file("good/history.sqlite3"), bad = dir.file("bad/history.sqlite3");
    const int64_t from = history::nowMs() - 2 * dayMs;
    make(good, bulk(from));
    make(bad, bulk(from));
    Output check = brennicctl({"history", "--check", "--history", good}, dir);
    EXPECT_EQ(check.status, 0) << check.err;
    EXPECT_EQ(check.out, good + ": no damage found\n");
    const long pages = static_cast<long>(slurp(bad).size() / 4096);
    spoilPages(bad, pages / 3, pages / 3 + 4);
    // clang-format off
    const std::vector<std::vector<std::string>> commands = {
        {"history", "--since", "3d"},           {"history", "--since", "3d", "--csv"},
        {"history", "--since", "3d", "--json"}, {"history", "--since", "3d", "--json", "--every", "1h"},
        {"history", "--check"}};
    for (std::vector<std::string> args : commands) {
        args.insert(args.end(), {"--history", bad});
        Output run = brennicctl(args, dir);
        EXPECT_EQ(run.status, 1) << args[3] << ": " << run.out.size() << " bytes out";
        EXPECT_EQ(run.out, "") << args[3];
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_EQ(run.err.rfind("brennicctl: history: " + bad + ": ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(args[1] == "--check" ? ": damaged: " : "malformed"), std::string::npos) << run.err;
    }
    // clang-format on
    spoilPages(bad, 1, 0);
    Output metrics = brennicctl({"metrics", "--history", bad}, dir);
    EXPECT_EQ(metrics.status, 1);
    EXPECT_EQ(metrics.out, "");
    EXPECT_EQ(metrics.err.rfind("brennicctl: history: " + bad + ": ", 0), 0u) << metrics.err;
}

// The metrics text of a fixed store, byte for byte.
TEST(Brennicctl, MetricsMatchTheGoldenFile)
{
    scratch::Directory dir("history-metrics");
    const std::string path = dir.file("h/history.sqlite3");
    const int64_t t = 1764547200125;
    make(path, {reply(t, 1.5, 2.25),
                {t + 30000, adapter, device, {{s1, 5.123}}, 5.123, "Link Quality: Excellent"},
                {t + 45000, "02:b7:1c:00:00:02", device, {{s2, std::nullopt}}, std::nullopt, "Link Quality: Poor"}});
    Output run = brennicctl({"metrics", "--history", path, "--output", dir.file("brennic.prom")}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(slurp(dir.file("brennic.prom")), slurp(std::string(GOLDEN_DIR) + "/metrics.golden"));
}

}  // namespace

// check, the monitoring plugin, over histories with a dip in the station's
// rate: its exit status, status line and performance data.
TEST(Brennicctl, CheckJudgesTheNewestRatesAgainstTheNormal)
{
    scratch::Directory dir("history-check");
    constexpr int64_t minuteMs = 60000;
    // s1 runs at 5 Mbps (s2 at 4) for `span`, every 10 minutes, then every
    // minute for the last two hours, at `level` between `from` and `to` minutes ago.
    auto build = [&](const std::string& name, int64_t span, double level, int from, int to) {
        std::vector<history::Reply> rows;
        const int64_t now = history::nowMs();
        for (int64_t t = now - span; t <= now; t += t < now - 2 * hourMs ? 10 * minuteMs : minuteMs) {
            const int64_t ago = (now - t) / minuteMs;
            rows.push_back(reply(t, ago <= from && ago >= to ? level : 5.0, 4.0));
        }
        make(dir.file(name + "/history.sqlite3"), rows);
        return dir.file(name + "/history.sqlite3");
    };
    // Two days of degrading.json, whose first station falls from 300 to 25 at
    // 14:00 and is back at 15:02, recorded from the model up to now, which the
    // model reads as `endsAt` into its day.
    auto emulated = [&](const std::string& name, int64_t endsAt) {
        emu::Network network;
        std::string error;
        EXPECT_TRUE(emu::loadScenario(std::string(SCENARIO_DIR) + "/degrading.json", network, &error)) << error;
        const int64_t now = history::nowMs(), span = 2 * dayMs;
        const int64_t ahead = ((endsAt - now) % dayMs + dayMs) % dayMs;
        EXPECT_TRUE(
            historyfill::recordModel(network, dir.file(name + "/history.sqlite3"), now - span, span, &error, ahead))
            << error;
        return dir.file(name + "/history.sqlite3");
    };
    const std::string inDip = emulated("in-dip", (14 * 60 + 30) * minuteMs),
                      afterDip = emulated("after-dip", (15 * 60 + 40) * minuteMs);
    struct Case {
        std::string name;
        std::vector<std::string> args;
        int status;
        std::string line;  // the status line's beginning
        std::string s1;    // s1's performance data; empty: none; "?": any
    };
    const std::string dip = build("dip", 2 * dayMs, 2.0, 15, 0), recovered = build("recovered", 2 * dayMs, 2.0, 60, 30),
                      low = build("low", 2 * dayMs, 3.5, 15, 0), young = build("young", 2 * hourMs, 2.0, 0, 1);
    const std::string thresholds = ";3.750:;2.500:;0;";
    // clang-format off
    const std::vector<Case> cases = {
        {"dip", {"--history", dip}, 2, "BRENNIC CRITICAL - " + s1 + " degraded: 2.00 Mbps, normal 5.00 (2 stations)",
         "2.00" + thresholds},
        {"recovered", {"--history", recovered}, 0, "BRENNIC OK - 2 stations, none degraded", "5.00" + thresholds},
        {"warning", {"--history", low}, 1, "BRENNIC WARNING - " + s1 + " below 75% of normal: 3.50 Mbps", "3.50" + thresholds},
        {"warning raised", {"--history", low, "--critical", "0.8", "--warning", "0.9"}, 2, "BRENNIC CRITICAL", "3.50;4.500:;4.000:;0;"},
        {"other station", {"--history", dip, "--station", s2}, 0, "BRENNIC OK - 1 station, none degraded", ""},
        {"young", {"--history", young}, 3, "BRENNIC UNKNOWN - 2 stations, none with 24 h of history yet", "5.00;;;0;"},
        {"absent", {"--history", dir.file("none/history.sqlite3")}, 3, "BRENNIC UNKNOWN - no link history at ", ""},
        {"unknown station", {"--history", dip, "--station", "02:b7:1c:20:00:09"}, 3, "BRENNIC UNKNOWN - station ", ""},
        {"bad usage", {"--history", dip, "--critical", "0.9", "--warning", "0.5"}, 3, "", ""},
        {"emulated dip", {"--history", inDip}, 2, "BRENNIC CRITICAL - " + s1 + " degraded: ", "?"},
        {"emulated recovery", {"--history", afterDip}, 0, "BRENNIC OK - 3 stations, none degraded", "?"},
    };
    // clang-format on
    for (const Case& c : cases) {
        std::vector<std::string> args = {"check"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Output run = brennicctl(args, dir);
        EXPECT_EQ(run.status, c.status) << c.name << ": " << run.out << run.err;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), c.line.empty() ? 0 : 1) << c.name;
        EXPECT_EQ(run.out.rfind(c.line, 0), 0u) << c.name << ": " << run.out;
        const size_t perf = run.out.find("| '" + s1 + "'=");
        EXPECT_EQ(perf == std::string::npos, c.s1.empty()) << c.name << ": " << run.out;
        if (perf != std::string::npos && c.s1 != "?") {
            EXPECT_EQ(run.out.substr(perf + s1.size() + 5, c.s1.size()), c.s1) << c.name << ": " << run.out;
        }
    }
    spoilPages(dip, 1, 0);
    Output damaged = brennicctl({"check", "--history", dip}, dir);
    EXPECT_EQ(damaged.status, 3) << damaged.out;
    EXPECT_EQ(damaged.out.rfind("BRENNIC UNKNOWN - history: " + dip + ": ", 0), 0u) << damaged.out;
}
