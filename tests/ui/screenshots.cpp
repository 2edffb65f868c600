// Renders every page of the sheet, the scan dialog and a station's history to PNG files, against
// the emulator's home network on the simulated driver and the virtual clock.
// Usage: ui_screenshots OUTPUT_DIR
#include "history/history.h"
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
#include <QDir>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLineSeries>
#include <QPixmap>
#include <QScreen>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <string>

namespace {
QString outDir;
int failures = 0;

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
        QEventLoop settle;
        QTimer::singleShot(500, &settle, &QEventLoop::quit);
        settle.exec();
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
}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: ui_screenshots OUTPUT_DIR\n");
        return 2;
    }
    outDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(outDir);
    // A fresh profile file: the run leaves its own behind in a scratch directory.
    QDir::setCurrent(QDir::tempPath());
    std::remove("wizard.data");

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
    const std::string database = QDir::temp().filePath(QStringLiteral("history-screenshot.sqlite3")).toStdString();
    for (const char* suffix : {"", "-wal", "-shm"})
        std::remove((database + suffix).c_str());
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
    return failures == 0 ? 0 : 1;
}
