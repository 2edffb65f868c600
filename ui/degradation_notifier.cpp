#include "ui/degradation_notifier.h"

#include "history/history.h"
#include "session/degradation.h"
#include "session/session.h"
#include "ui/history_window.h"
#include "ui/station_names.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTimer>
#include <QVariantMap>

namespace {
const QString service = QStringLiteral("org.freedesktop.Notifications");
constexpr int checkEveryMs = 60000;
}  // namespace

DegradationNotifier::DegradationNotifier(QObject* parent, std::optional<QDBusConnection> bus)
    : QObject(parent), bus_(std::move(bus))
{}

void DegradationNotifier::startChecking()
{
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { check(HistoryWindow::databasePath(), history::nowMs()); });
    timer->start(checkEveryMs);
}

int DegradationNotifier::check(const std::string& databasePath, int64_t nowMs)
{
    int sent = 0;
    history::Store store;
    if (!store.open(databasePath.empty() ? history::defaultPath() : databasePath, history::Store::Mode::readOnly))
        return sent;
    const session::DegradationRule rule;
    for (const session::StationRow& row : session::currentStations().stations) {
        Station& seen = stations_[row.mac];
        if (nowMs - seen.normalAtMs >= quietMs || nowMs < seen.normalAtMs) {
            seen.normal =
                session::normalRate(session::stationSamples(store, row.mac, nowMs - rule.normalMs, nowMs), nowMs);
            seen.normalAtMs = nowMs;
        }
        const std::vector<history::Sample> recent =
            session::stationSamples(store, row.mac, nowMs - 2 * rule.holdMs, nowMs);
        const bool degraded = session::degradedNow(recent, nowMs, seen.normal, rule);
        // A change within the quiet hour waits for its end, and is dropped if
        // the link has changed back by then.
        if (degraded == seen.announcedDegraded || nowMs - seen.notifiedMs < quietMs)
            continue;
        seen.announcedDegraded = degraded;
        seen.notifiedMs = nowMs;
        std::optional<double> current;
        for (const history::Sample& s : recent)
            if (s.rateMbps)
                current = s.rateMbps;
        const QString mac = QString::fromStdString(row.mac);
        const QString name = stationName(mac);
        const QString station = name.isEmpty() ? mac : QStringLiteral("%1 (%2)").arg(name, mac);
        const QString now = current ? QString::asprintf("%.2f Mbps", *current) : QStringLiteral("*");
        if (degraded) {
            const QString usual =
                seen.normal ? QString::asprintf(", its usual rate is %.2f Mbps", *seen.normal) : QString();
            sent += notify(QStringLiteral("Powerline link to %1 degraded").arg(station),
                           QStringLiteral("For 10 minutes at %1%2.").arg(now, usual));
        } else {
            sent += notify(QStringLiteral("Powerline link to %1 recovered").arg(station),
                           QStringLiteral("Back at %1.").arg(now));
        }
    }
    return sent;
}

bool DegradationNotifier::notify(const QString& summary, const QString& body)
{
    // Without a session's address the bus library would try to launch one.
    if (!bus_ && qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return false;
    QDBusConnection bus = bus_ ? *bus_ : QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(service))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                                       service, QStringLiteral("Notify"));
    call << QStringLiteral("brennic") << 0u << QStringLiteral("brennic") << summary << body << QStringList()
         << QVariantMap() << -1;
    // No waiting for the answer on the interface thread.
    bus.asyncCall(call);
    return true;
}
