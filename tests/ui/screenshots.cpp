// Renders every page of the sheet, the scan dialog, a station's history and the desktop's
// notification of a degraded link to PNG files, against the emulator's networks on the
// simulated driver and the virtual clock.
// Usage: ui_screenshots OUTPUT_DIR
#include "history/history.h"
#include "session/names.h"
#include "support/system_state.h"
#include "ui/degradation_notifier.h"
#include "support/history_fill.h"
#include "ui/common.h"
#include "ui/history_chart.h"
#include "ui/history_window.h"
#include "ui/windows.h"
#include "ui/device_page.h"
#include "emulator/model.h"
#include "netstate/monitor.h"
#include "ui/network_page.h"
#include "ui/shell.h"
#include "zentrik/sim.h"
#include "emulator/sim_attach.h"
#include "platform/simclock.h"
#include "platform/timers.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineSeries>
#include <QPixmap>
#include <QScreen>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <string>

namespace {
QString outDir;
int failures = 0;

// Real time, with the events it brings handled: the window manager and the
// notification service are other processes.
void waitReal(int ms)
{
    QEventLoop settle;
    QTimer::singleShot(ms, &settle, &QEventLoop::quit);
    settle.exec();
}

// Under a window manager the picture is taken from the screen, title bar and
// frame included; offscreen, the window's own contents are all there is.
QPixmap picture(QWidget* w)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return w->grab();
    w->raise();
    w->activateWindow();
    // Real time for the window manager to frame the window and for the first paint.
    for (int waited = 0; waited < 5000; waited += 500) {
        waitReal(500);
        if (waited > 0 && w->frameGeometry() != w->geometry())
            break;
    }
    const QRect frame = w->frameGeometry();
    if (frame == w->geometry()) {
        std::fprintf(stderr, "ui_screenshots: no window manager framed the window\n");
        ++failures;
    }
    return w->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
}

void save(QWidget* w, const char* name)
{
    QString path = outDir + "/" + name;
    if (!picture(w).save(path)) {
        std::fprintf(stderr, "ui_screenshots: cannot write %s\n", qPrintable(path));
        ++failures;
    }
}

void run(uint32_t ms)
{
    for (uint32_t t = 0; t < ms; t += monitorIntervalMs) {
        simclock::advance(monitorIntervalMs);
        platform::runDueTimers();
        QApplication::processEvents();
    }
}

// degrading.json at 14:20 of its day, twenty minutes into its station's dip:
// the sheet's Network page, the station's history and the notification that the
// desktop's service (on the session bus) draws, the whole screen in one picture.
bool notificationPicture(const std::string& database, std::string* error)
{
    // Nothing of the home network's run: its adapters, its state, its profile.
    emu::detachFromSimDriver();
    testsupport::resetSystemState();
    zsim::reset();
    std::remove("wizard.data");
    emu::Network network;
    if (!emu::loadScenario(std::string(SCENARIO_DIR) + "/degrading.json", network, error))
        return false;
    const int64_t now = history::nowMs();
    const int64_t aheadMs =
        ((14 * 60 + 20) * 60000 - now % historyfill::dayMs + historyfill::dayMs) % historyfill::dayMs;
    // A day and a half: a normal for the station, and its dip up to now.
    const int64_t spanMs = historyfill::dayMs * 3 / 2;
    if (!historyfill::recordModel(network, database, now - spanMs, spanMs, error, aheadMs))
        return false;
    emu::addSimAdapters(network);
    // The sheet's virtual clock runs on from the history's end.
    emu::attachToSimDriver(network, (now + aheadMs) / 1000 - static_cast<int64_t>(simclock::nowMicros() / 1000000));

    const QString station = QStringLiteral("02:b7:1c:20:00:01");
    session::StationNames names;
    if (!names.set(*frames::Mac::parse(station.toStdString()), "Study")) {
        *error = names.error();
        return false;
    }
    PropertySheet sheet;
    sheet.move(10, 10);
    sheet.show();
    run(6000);
    sheet.findChild<QTabWidget*>("tabs")->setCurrentIndex(networkPageIndex);
    HistoryWindow::setDatabasePath(database);
    // Opened from the sheet, as the Network page opens it: in front of it.
    HistoryWindow window(station, &sheet, HistorySpan::day);
    window.move(290, 290);
    window.show();
    picture(&sheet);
    picture(&window);

    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    for (int waited = 0; waited < 5000 && !(bus && bus->isServiceRegistered("org.freedesktop.Notifications"));
         waited += 100)
        waitReal(100);
    if (DegradationNotifier(nullptr).check(database, now) != 1) {
        *error = "no notification went to the session bus's notification service";
        return false;
    }
    waitReal(1500);  // real time for the service to draw it
    const QString path = outDir + "/notification.png";
    if (!sheet.screen()->grabWindow(0).save(path)) {
        *error = "cannot write " + path.toStdString();
        return false;
    }
    sheet.accept();
    emu::detachFromSimDriver();
    return true;
}
}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_screenshots OUTPUT_DIR\n");
        return 2;
    }
    outDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(outDir);
    // The run's profile, names and history in a private folder of its own, gone at the end:
    // the program refuses them in a folder other users may write.
    QTemporaryDir scratch;
    if (!scratch.isValid() || !QDir::setCurrent(scratch.path())) {
        std::fprintf(stderr, "ui_screenshots: no scratch folder: %s\n", qPrintable(scratch.errorString()));
        return 1;
    }

    emu::Network network;
    std::string error;
    if (!emu::loadScenario(std::string(SCENARIO_DIR) + "/home.json", network, &error)) {
        std::fprintf(stderr, "ui_screenshots: %s\n", error.c_str());
        return 1;
    }
    zsim::reset();
    emu::addSimAdapters(network);
    emu::attachToSimDriver(network);
    setExitHook([](int) { ++failures; });
    setErrorBoxHook([](QWidget*, const QString& caption, const QString&) {
        std::fprintf(stderr, "ui_screenshots: unexpected box %s\n", qPrintable(caption));
        ++failures;
    });

    {
        PropertySheet sheet;
        sheet.show();
        auto* tabs = sheet.findChild<QTabWidget*>("tabs");
        // A little over four seconds: the first scan ends with its link quality.
        run(6000);
        save(&sheet, "device.png");

        const char* const pages[] = {nullptr, "network.png", "security.png", "advanced.png", "about.png"};
        for (int i = networkPageIndex; i < pageCount; ++i) {
            tabs->setCurrentIndex(i);
            QApplication::processEvents();
            save(&sheet, pages[i]);
        }

        // The scan dialog two seconds into a scan started from the Network page.
        tabs->setCurrentIndex(networkPageIndex);
        int passes = 0;
        QTimer stepper;
        stepper.setInterval(0);
        QObject::connect(&stepper, &QTimer::timeout, [&] {
            if (!scanDialogWindow)
                return;
            if (++passes == 20)
                save(scanDialogWindow, "scan-dialog.png");
            simclock::advance(monitorIntervalMs);
            platform::runDueTimers();
        });
        stepper.start();
        sheet.findChild<QPushButton*>("scanButton")->click();
        stepper.stop();
        if (passes < 20) {
            std::fprintf(stderr, "ui_screenshots: the scan ended before its picture\n");
            ++failures;
        }
        tabs->setCurrentIndex(devicePageIndex);
        sheet.accept();
    }

    // A day of evening.json through the monitor, as brennic records it, drawn
    // for the station that dips to Poor in the evening.
    const std::string database = scratch.filePath(QStringLiteral("history.sqlite3")).toStdString();
    if (!historyfill::runMonitor(std::string(SCENARIO_DIR) + "/evening.json", database,
                                 history::nowMs() - historyfill::dayMs, historyfill::dayMs, &error)) {
        std::fprintf(stderr, "ui_screenshots: %s\n", error.c_str());
        return 1;
    }
    HistoryWindow::setDatabasePath(database);
    {
        HistoryWindow window(QStringLiteral("02:b7:1c:20:00:01"), nullptr, HistorySpan::day);
        window.show();
        QApplication::processEvents();
        save(&window, "history.png");
        // The read-out at the lowest point of the evening's dip.
        auto* view = window.findChild<HistoryChartView*>(QStringLiteral("historyChart"));
        QPointF lowest(0, 1e9);
        QAbstractSeries* line = nullptr;
        for (QAbstractSeries* s : view->chart()->series())
            if (s->objectName() == QLatin1String("rate"))
                for (const QPointF& p : static_cast<QLineSeries*>(s)->points())
                    if (p.y() < lowest.y()) {
                        lowest = p;
                        line = s;
                    }
        if (line) {
            view->showNearest(
                view->mapFromScene(view->chart()->mapToScene(view->chart()->mapToPosition(lowest, line))));
            save(&window, "history-hover.png");
        }
    }
    for (const char* suffix : {"", "-wal", "-shm"})
        std::remove((database + suffix).c_str());
    const bool notified = notificationPicture(database, &error);
    if (!notified)
        std::fprintf(stderr, "ui_screenshots: %s\n", error.c_str());
    return failures == 0 && notified ? 0 : 1;
}
