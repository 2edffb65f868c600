// The store's queries: samples, per-interval buckets, replies, each link's
// latest and the adapters of an interface name, read from the packed rows with
// MACs from the table held in memory.
#include "history/store_internal.h"

#include <algorithm>
#include <functional>
#include <tuple>
#include <vector>

namespace history {

namespace {

// The adapter and device a filter names, as the conditions on the replies
// table (`prefix` its alias with the dot) and their parameters ?4 to ?6.
struct LinkFilter {
    int64_t adapter = 0, device = 0;
    bool anyAdapter = true, anyDevice = true;
    std::string adapterName;  // empty: any

    std::string conditions(const char* prefix) const
    {
        std::string sql;
        if (!anyAdapter)
            sql += std::string(" AND ") + prefix + "adapter = ?4";
        if (!anyDevice)
            sql += std::string(" AND ") + prefix + "device = ?5";
        if (!adapterName.empty())
            sql += std::string(" AND ") + prefix + "adapter IN (SELECT adapter FROM adapter_names WHERE name = ?6)";
        return sql;
    }
    void bind(Stmt& s) const
    {
        if (!anyAdapter)
            s.bind(4, adapter);
        if (!anyDevice)
            s.bind(5, device);
        if (!adapterName.empty())
            s.text(6, adapterName);
    }
};

}  // namespace

bool Store::forEachSample(const Filter& filter, const std::function<void(const RawSample&)>& visit)
{
    int64_t station = 0;
    bool anyStation;
    LinkFilter link;
    link.adapterName = filter.adapterName;
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
        const bool whole =
            unpackStations(sqlite3_column_blob(h, 3), sqlite3_column_bytes(h, 3), [&](const PackedStation& p) {
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
    if (!begin(deadline::queryMs) || !loadMacs())
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
    if (!begin(deadline::queryMs) || !loadMacs())
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
    link.adapterName = filter.adapterName;
    if (!begin(deadline::queryMs) || !loadMacs() || !lookupMac(filter.adapter, &link.adapter, &link.anyAdapter) ||
        !lookupMac(filter.device, &link.device, &link.anyDevice))
        return rows;
    const std::string sql =
        "SELECT id, adapter, device, average, rating, stations FROM log WHERE id >= ?1 AND id < ?2" +
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
    if (!begin(deadline::queryMs) || !loadMacs())
        return links;
    // Station 0 is the link's own newest reply and sorts first within the link.
    Stmt s(db_, "SELECT l.adapter, l.device, l.station, l.reply, r.average, r.rating, r.stations"
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

std::vector<uint64_t> Store::adaptersNamed(const std::string& name)
{
    std::vector<uint64_t> macs;
    if (!begin(deadline::queryMs) || !loadMacs())
        return macs;
    Stmt s(db_, "SELECT adapter FROM adapter_names WHERE name = ?");
    if (!s.ok()) {
        failQuery(sqlite3_errcode(db_));
        return macs;
    }
    s.text(1, name);
    int rc;
    while ((rc = s.step()) == SQLITE_ROW)
        if (const uint64_t mac = macOf(s.integer(0)); mac != 0)
            macs.push_back(mac);
    if (rc != SQLITE_DONE) {
        failQuery(rc);
        macs.clear();
    }
    std::sort(macs.begin(), macs.end());
    return macs;
}

bool Store::damagedRow()
{
    damaged_ = true;
    failed_ = true;
    return fail("damaged: a reply's stations cannot be read");
}

}  // namespace history
