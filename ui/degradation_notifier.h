#pragma once
// A desktop notification when a station of the table becomes degraded and
// when it recovers (session/degradation.h), at most one per station an hour;
// nothing where the desktop runs no notification service.
#include <QDBusConnection>
#include <QObject>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class DegradationNotifier : public QObject {
public:
    // Without a bus: the desktop session's, when it has one.
    explicit DegradationNotifier(QObject* parent, std::optional<QDBusConnection> bus = std::nullopt);

    // Looks at every station of the table in the history at `databasePath`
    // (empty: the default place) as of `nowMs`; a timer does it every minute.
    // Returns how many notifications went to the bus.
    int check(const std::string& databasePath, int64_t nowMs);
    void startChecking();

    static constexpr int64_t quietMs = 3600000;

private:
    bool notify(const QString& summary, const QString& body);

    struct Station {
        bool announcedDegraded = false;
        int64_t notifiedMs = INT64_MIN / 2;
        // A week of samples is read once an hour; the last minutes each time.
        std::optional<double> normal;
        int64_t normalAtMs = INT64_MIN / 2;
    };
    std::map<std::string, Station> stations_;
    std::optional<QDBusConnection> bus_;
};
