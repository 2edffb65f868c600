#include "support/sim_sheet.h"

#include "link/flags.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "platform/simclock.h"
#include "platform/timers.h"
#include "cli/cli.h"
#include "session/names.h"
#include "session/recording.h"
#include "session/session.h"
#include "history/history.h"
#include "support/history_fill.h"
#include "support/scratch.h"
#include "ui/degradation_notifier.h"
#include "ui/device_page.h"
#include "ui/history_chart.h"
#include "ui/history_window.h"
#include "ui/looking_window.h"
#include "ui/network_page.h"
#include "ui/windows.h"
#include "zentrik/sim.h"
#include "emulator/model.h"
#include "emulator/sim_attach.h"

#include <QAccessible>
#include <QAreaSeries>
#include <QChartView>
#include <QCategoryAxis>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QFileDialog>
#include <QImage>
#include <QInputDialog>
#include <QPointer>
#include <QRegularExpression>
#include <QTimeZone>
#include <QWheelEvent>
#include <QGuiApplication>
#include <QLineSeries>
#include <QMenu>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <sys/stat.h>

using namespace simsystem;
using SheetTest = SimSheetTest;

namespace {
const char* const localMac = "02:b7:1c:10:1d:01";
// Ticks the monitor from inside the scan dialog's own loop until it closes.
struct DialogStepper {
    uint32_t elapsedMs = 0;
    bool sawEmptyList = false;
    bool survivedEscape = false;
    bool survivedClose = false;
    int lastBarPos = -1;
    QString caption;
    QString text;
    QStringList unnamed{"not walked"};
};

// The fields, lists, bars and buttons under `node` that a screen reader would announce without a name.
QStringList unnamedControls(QAccessibleInterface* node)
{
    static const QList<QAccessible::Role> roles{QAccessible::EditableText, QAccessible::List,
                                                QAccessible::Tree,         QAccessible::Table,
                                                QAccessible::ProgressBar,  QAccessible::PushButton};
    QStringList unnamed;
    if (node && roles.contains(node->role()) && node->text(QAccessible::Name).trimmed().isEmpty())
        unnamed << node->object()->objectName();
    for (int i = 0; node && i < node->childCount(); ++i)
        unnamed << unnamedControls(node->child(i));
    return unnamed;
}

// The process's local zone for one test: the chart speaks local time.
struct LocalZone {
    explicit LocalZone(const char* zone)
    {
        if (const char* was = std::getenv("TZ"))
            saved = was;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone()
    {
        if (saved.empty())
            unsetenv("TZ");
        else
            setenv("TZ", saved.c_str(), 1);
        tzset();
    }
    std::string saved;
};

// The desktop's notification service as a private session bus sees it: every Notify recorded.
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QStringList seen;  // "summary | body"
public slots:
    uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int)
    {
        seen << app + ": " + summary + " | " + body;
        return static_cast<uint>(seen.size());
    }
};

QStringList fileLines(const std::string& path)
{
    std::ifstream in(path);
    QStringList lines;
    for (std::string line; std::getline(in, line);)
        lines << QString::fromStdString(line);
    return lines;
}
}  // namespace

TEST_F(SheetTest, OneDeviceIsListedSelectedAndConnected)
{
    load("home.json");
    std::ofstream(session::namesFileName) << localMac << "\tDesk\n";
    open();
    auto* list = child<QTreeWidget>("deviceList");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Orvane QM44 (USB)");
    EXPECT_EQ(list->topLevelItem(0)->text(1), localMac);
    EXPECT_TRUE(list->topLevelItem(0)->isSelected());
    EXPECT_EQ(list->currentItem(), list->topLevelItem(0));
    EXPECT_EQ(list->headerItem()->text(0), "Device");
    EXPECT_EQ(list->headerItem()->text(1), "MAC address");
    EXPECT_EQ(list->columnWidth(0), 148);
    EXPECT_EQ(list->columnWidth(1), 100);
    // The device's name (given by brennicctl, say) in the row's tooltip; its menu names it.
    EXPECT_EQ(list->topLevelItem(0)->toolTip(1), "Name: Desk");
    QTimer::singleShot(0, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), QString::fromUtf8("Name\u2026"));
        menu->close();
    });
    emit list->customContextMenuRequested(list->visualItemRect(list->topLevelItem(0)).center());

    EXPECT_EQ(child<QLineEdit>("stateText")->text(), QString("Connected to ") + localMac);
    EXPECT_EQ(child<QLabel>("statusText")->text(), "Analyzing your powerline network, please wait....");
    EXPECT_EQ(selectedAdapter, 0);
    EXPECT_EQ(busy, 0);
    EXPECT_EQ(sessionOpen, 1);
    EXPECT_EQ(progressActive, 1);
    EXPECT_EQ(monitorSecond, 15);
    // The monitor and the scan timer.
    EXPECT_EQ(platform::activeTimerCount(), 2);
    const NetworkProfile& p = profiles[0];
    EXPECT_EQ(p.localDevicePresent, 1);
    EXPECT_EQ(p.localDeviceType, 1);
    EXPECT_EQ(frames::Mac::of(p.localDeviceMac).text(), localMac);
    EXPECT_EQ(frames::Mac::of(p.adapterMac).text(), "02:b7:1c:00:00:01");
    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(exitCodes.empty());
}

TEST_F(SheetTest, ScanRunsTheBarThenShowsTheLinkQuality)
{
    load("home.json");
    open();
    uint32_t began = simclock::now();
    auto* bar = child<QProgressBar>("qualityBar");
    DevicePage* page = devicePageWindow;
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_FALSE(bar->isTextVisible());
    for (int tick = 1; tick <= 5; ++tick) {
        run(100);
        EXPECT_EQ(bar->value(), 2 * tick);
    }
    ASSERT_TRUE(runUntilScanEnds());
    // The LinkStatsReply ends it, a little over four seconds in.
    EXPECT_LT(simclock::now() - began, 6000u);

    LinkQuality q = linkQualityFor(averageRate());
    EXPECT_STREQ(q.ratingText, "Link Quality: Excellent");
    EXPECT_EQ(bar->value(), std::min(q.barPosition, 100));
    EXPECT_GT(bar->value(), 3);
    EXPECT_EQ(page->bar().colour(), QColor(0, 230, 0));
    EXPECT_EQ(bar->palette().color(QPalette::Highlight), QColor(0, 230, 0));
    EXPECT_EQ(child<QLabel>("statusText")->text(), "Link Quality: Excellent");

    // The bar stands still once the scan is over.
    int settled = bar->value();
    run(1000);
    EXPECT_EQ(bar->value(), settled);
}

TEST_F(SheetTest, BarStepsWrapAndPositionsFill)
{
    ensureApplication();
    QProgressBar widget;
    widget.setRange(0, 100);
    StepBar bar(&widget);
    bar.setStep(2);
    for (int i = 0; i < 50; ++i)
        bar.stepIt();
    EXPECT_EQ(widget.value(), 100);
    bar.stepIt();
    EXPECT_EQ(widget.value(), 0);  // starts over after five seconds of ticks
    bar.setPos(113);
    EXPECT_EQ(widget.value(), 100);
    bar.setPos(-4);
    EXPECT_EQ(widget.value(), 0);
    bar.setColour(QColor(230, 0, 0));
    EXPECT_EQ(widget.palette().color(QPalette::Highlight), QColor(230, 0, 0));
    bar.setColour(QColor());
    EXPECT_EQ(widget.palette().color(QPalette::Highlight), QPalette().color(QPalette::Highlight));
}

TEST_F(SheetTest, DeviceTypesWithoutANameShowTheirNumber)
{
    const char* expected[] = {"Orvane QM4410A", "Orvane QM44 (USB)", "Orvane QM44 (Router/AP)",
                              "Orvane QM44 (Ethernet)", "Orvane QM4410B"};
    for (int t = 0; t < 5; ++t)
        EXPECT_EQ(deviceTypeName(t), expected[t]);
    EXPECT_EQ(deviceTypeName(5), "Unknown device (type 5)");
    EXPECT_EQ(deviceTypeName(-1), "Unknown device (type -1)");
}

TEST_F(SheetTest, OnlyTheSecondAdapterEquipped)
{
    load("two-adapters.json", [](emu::Network& n) { n.adapter(0).device.faults.silent = true; });
    open();
    auto* list = child<QTreeWidget>("deviceList");
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(0), "Orvane QM44 (Router/AP)");
    EXPECT_EQ(list->topLevelItem(0)->text(1), "02:b7:1c:10:1d:02");
    EXPECT_TRUE(list->topLevelItem(0)->isSelected());
    EXPECT_EQ(selectedAdapter, 1);
    EXPECT_EQ(child<QLineEdit>("stateText")->text(), "Connected to 02:b7:1c:10:1d:02");
    EXPECT_EQ(profiles[0].localDevicePresent, 0);
    EXPECT_EQ(profiles[1].localDevicePresent, 1);

    // The one row maps back to adapter 1, not 0.
    selectedAdapter = 0;
    child<QPushButton>("connectButton")->click();
    EXPECT_EQ(selectedAdapter, 1);
}

TEST_F(SheetTest, ConnectSwitchesAdapterAndRestartsTheScan)
{
    load("two-adapters.json");
    open();
    auto* list = child<QTreeWidget>("deviceList");
    ASSERT_EQ(list->topLevelItemCount(), 2);
    EXPECT_EQ(selectedAdapter, 0);
    ASSERT_TRUE(runUntilScanEnds());
    DevicePage* page = devicePageWindow;
    EXPECT_TRUE(page->bar().colour().isValid());
    ASSERT_GT(stationRows().size(), 0u);

    list->setCurrentItem(list->topLevelItem(1));
    ASSERT_EQ(list->selectedItems().size(), 1);
    child<QPushButton>("connectButton")->click();
    EXPECT_EQ(selectedAdapter, 1);
    EXPECT_EQ(child<QLineEdit>("stateText")->text(), "Connected to 02:b7:1c:10:1d:02");
    EXPECT_EQ(page->bar().pos(), 0);
    EXPECT_EQ(page->bar().step(), 2);
    EXPECT_FALSE(page->bar().colour().isValid());
    EXPECT_EQ(progressActive, 1);
    EXPECT_EQ(monitorSecond, 15);
    EXPECT_EQ(child<QLabel>("statusText")->text(), "Analyzing your powerline network, please wait....");

    // No row selected: the adapter stays, but the bar, the table and the scan start over.
    ASSERT_TRUE(runUntilScanEnds());
    selectedAdapter = 0;
    ASSERT_TRUE(runUntilScanEnds());
    ASSERT_GT(stationRows().size(), 0u);
    list->clearSelection();
    child<QPushButton>("connectButton")->click();
    EXPECT_EQ(selectedAdapter, 0);
    EXPECT_TRUE(stationRows().empty());
    EXPECT_EQ(page->bar().pos(), 0);
    EXPECT_FALSE(page->bar().colour().isValid());
    EXPECT_EQ(progressActive, 1);
    EXPECT_EQ(monitorSecond, 15);
}

// Rows stand for the adapters that had a device at the start, whatever the intake hears since.
TEST_F(SheetTest, ConnectTakesTheAdapterOfTheChosenRow)
{
    // Three adapters: the first's device is of a type without support and keeps sending.
    load("two-adapters.json", [](emu::Network& n) {
        emu::EmulatedAdapter unsupported = n.adapter(1), first = n.adapter(0), second = n.adapter(1);
        unsupported.interfaceName = "plc9";
        unsupported.hostMac[5] = unsupported.device.mac[5] = 0x09;
        unsupported.device.deviceType = 5;
        unsupported.device.faults.floodPerSecond = 20;
        unsupported.device.faults.floodKind = emu::FloodKind::linkStats;
        n.clear();
        for (const emu::EmulatedAdapter& a : {unsupported, first, second})
            n.addAdapter(a);
    });
    open();
    emu::deliverFlood(network, 0, 1000);
    run(1000);
    ASSERT_EQ(adapters[0].devicePresent, 1) << "the intake heard the first adapter's device";
    auto* list = child<QTreeWidget>("deviceList");
    list->setCurrentItem(list->topLevelItem(1));
    child<QPushButton>("connectButton")->click();
    EXPECT_EQ(child<QLineEdit>("stateText")->text(), "Connected to 02:b7:1c:10:1d:02");
}

TEST_F(SheetTest, UnusableHardwareReportsAndEnds)
{
    struct Case {
        const char* scenario;
        bool slow;  // discovery runs all its probe windows
    };
    for (const Case c : {Case{"silent.json", true}, Case{"unsupported-type.json", false}}) {
        SCOPED_TRACE(c.scenario);
        zsim::reset();
        network.clear();
        boxes.clear();
        exitCodes.clear();
        busy.catchUpAndSet(true);
        load(c.scenario);
        // When each probe went out, and whether the looking window was up then.
        std::vector<std::pair<uint32_t, bool>> probes;
        zsim::setSendHook([this, &probes](int adapter, const uint8_t* frame, size_t length) {
            probes.emplace_back(simclock::now(), lookingWindow() && lookingWindow()->isVisible());
            for (const emu::Reply& r : network.handle(adapter, frame, length))
                zsim::deliver(adapter, r.bytes, r.delayMs);
        });
        bool lookingAtBox = true;
        setErrorBoxHook([this, &lookingAtBox](QWidget* owner, const QString& caption, const QString& text) {
            lookingAtBox = lookingWindow() != nullptr;
            boxes.push_back({owner, caption, text});
        });
        uint32_t began = simclock::now();
        open();
        EXPECT_FALSE(lookingAtBox) << "gone before the box";
        ASSERT_FALSE(probes.empty());
        for (const auto& [at, looking] : probes)
            EXPECT_EQ(looking, c.slow && at - began >= session::slowStartMs) << "probe at " << at - began << " ms";
        EXPECT_EQ(probes.back().second, c.slow);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Invalid Configuration");
        EXPECT_EQ(boxes[0].text, "Your Powerline hardware is not compatible with the RLA-7070 Utility.\n"
                                 "Please check your device and connection.");
        EXPECT_EQ(boxes[0].owner, devicePageWindow);
        EXPECT_EQ(exitCodes, std::vector<int>{0});
        EXPECT_EQ(zsim::openHandleCount(), 0);
        EXPECT_EQ(sessionOpen, 0);
        // No monitor was started.
        EXPECT_EQ(platform::activeTimerCount(), 0);
        EXPECT_EQ(busy, 1);
        sheet.reset();
    }
}

// Boxes shown by the real message box: where each opens.
TEST_F(SheetTest, BoxesOpenCentredOnTheScreenOrOnTheSheet)
{
    setErrorBoxHook(nullptr);
    struct Seen {
        QRect box;
        QString caption;
    };
    std::vector<Seen> seen;
    QTimer closer;
    closer.setInterval(1);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            seen.push_back({box->frameGeometry(), box->windowTitle()});
            box->accept();
        }
    });
    closer.start();

    // Before the sheet is shown: "Invalid Configuration" from the Device page.
    load("silent.json");
    open();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].caption, "Invalid Configuration");
    QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((seen[0].box.center() - screenCentre).manhattanLength(), 2) << seen[0].box.x() << "," << seen[0].box.y();

    // Once the sheet is on the screen, a box of one of its pages opens over it.
    sheet.reset();
    zsim::reset();
    network.clear();
    busy.catchUpAndSet(true);
    load("home.json");
    open();
    sheet->move(20, 30);
    sheet->show();
    showErrorBox(sheet->page(devicePageIndex), QStringLiteral("Over the sheet"), QStringLiteral("text"));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_LE((seen[1].box.center() - sheet->frameGeometry().center()).manhattanLength(), 2);
    EXPECT_GT((seen[1].box.center() - screenCentre).manhattanLength(), 20);
    closer.stop();
}

TEST_F(SheetTest, RefreshStartsOverAndEndsWhenNothingUsableRemains)
{
    load("home.json");
    open();
    ASSERT_TRUE(runUntilScanEnds());
    DevicePage* page = devicePageWindow;
    auto* list = child<QTreeWidget>("deviceList");

    // The adapters' helper gone: the page says so, and work sent through it is not taken as done.
    zsim::loseHelper();
    run(monitorIntervalMs);
    EXPECT_EQ(child<QLineEdit>("stateText")->text(), linkLostStateText);
    EXPECT_EQ(session::setLocal("Orchard-Lane-42").box, session::Box::linkLost);
    EXPECT_FALSE(fileExists(profileFileName));

    child<QPushButton>("refreshButton")->click();
    EXPECT_TRUE(child<QLineEdit>("stateText")->text().startsWith(connectedPrefix));
    EXPECT_TRUE(boxes.empty());
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_TRUE(list->selectedItems().isEmpty());
    EXPECT_EQ(child<QLabel>("statusText")->text(), "Analyzing your powerline network, please wait....");
    EXPECT_EQ(page->bar().pos(), 0);
    EXPECT_FALSE(page->bar().colour().isValid());
    EXPECT_EQ(progressActive, 1);
    EXPECT_EQ(monitorSecond, 15);
    EXPECT_EQ(zsim::openHandleCount(), 1);
    EXPECT_EQ(sessionOpen, 1);
    // The monitor kept running across the refresh; one scan timer.
    EXPECT_EQ(platform::activeTimerCount(), 2);
    ASSERT_TRUE(runUntilScanEnds());
    EXPECT_EQ(child<QLabel>("statusText")->text(), "Link Quality: Excellent");

    network.adapter(0).device.faults.silent = true;
    child<QPushButton>("refreshButton")->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Invalid Configuration");
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_EQ(zsim::openHandleCount(), 0);
    EXPECT_EQ(busy, 0) << "Refresh leaves busy as it found it";
}

TEST_F(SheetTest, NetworkPageListsStationsDescendingWithRates)
{
    load("home.json");
    open();
    EXPECT_EQ(networkPageWindow, nullptr);
    ASSERT_TRUE(runUntilScanEnds());
    // Filled from the table when it is first shown.
    child<QTabWidget>("tabs")->setCurrentIndex(networkPageIndex);
    ASSERT_NE(networkPageWindow, nullptr);
    auto* list = child<QTreeWidget>("stationList");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->headerItem()->text(0), "MAC Address");
    EXPECT_EQ(list->headerItem()->text(1), "Data Rate (Mbps)");
    EXPECT_EQ(list->columnWidth(0), 100);
    EXPECT_EQ(list->columnWidth(1), 100);
    EXPECT_EQ(rowTexts(list, 0), QStringList({"02:b7:1c:20:00:03", "02:b7:1c:20:00:02", "02:b7:1c:20:00:01"}));
    EXPECT_EQ(rowTexts(list, 1), QStringList({rateText(rateFromLinkValue(400)), rateText(rateFromLinkValue(50)),
                                              rateText(rateFromLinkValue(20))}));

    // Redrawn from the table whatever its order; unrated stations show "*".
    networkPageWindow->fillRows(
        {{"00:0b:00:00:00:01", "13.50"}, {"00:a0:00:00:00:01", "*"}, {"00:0b:ff:00:00:00", "0.00"}});
    EXPECT_EQ(rowTexts(list, 0), QStringList({"00:a0:00:00:00:01", "00:0b:ff:00:00:00", "00:0b:00:00:00:01"}));
    EXPECT_EQ(rowTexts(list, 1), QStringList({"*", "0.00", "13.50"}));
    clearNetworkList();
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(list->columnCount(), 2);
}

// A day of evening.json recorded by the monitor, drawn from the Network page.
TEST_F(SheetTest, StationRowOpensItsHistoryDrawnFromTheStore)
{
    LocalZone zone("Asia/Kolkata");  // UTC+05:30: ticks on the UTC hour would fall on the half hour
    scratch::Directory dir("chart");
    const std::string db = dir.path() + "/history.sqlite3";
    constexpr int64_t start = 1774828800000;  // 2026-03-30 00:00 UTC
    std::string error;
    ASSERT_TRUE(
        historyfill::runMonitor(std::string(SIM_SCENARIO_DIR) + "/evening.json", db, start, historyfill::dayMs, &error))
        << error;
    HistoryWindow::setDatabasePath(db);
    HistoryWindow::setClock([] { return start + historyfill::dayMs; });

    load("evening.json");
    open();
    ASSERT_TRUE(runUntilScanEnds());
    child<QTabWidget>("tabs")->setCurrentIndex(networkPageIndex);
    auto* list = child<QTreeWidget>("stationList");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    QTreeWidgetItem* first = list->findItems("02:b7:1c:20:00:01", Qt::MatchExactly).value(0);
    ASSERT_NE(first, nullptr);
    const QPoint at = list->visualItemRect(first).center();
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    // The context menu's entry opens the second station's; a row already open is raised, not doubled.
    QTimer::singleShot(0, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 2);
        EXPECT_EQ(menu->actions()[0]->text(), QString::fromUtf8("History\u2026"));
        EXPECT_EQ(menu->actions()[1]->text(), QString::fromUtf8("Name\u2026"));
        menu->actions()[0]->trigger();
        menu->close();
    });
    emit list->customContextMenuRequested(list->visualItemRect(list->topLevelItem(1)).center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QList<HistoryWindow*> windows = sheet->findChildren<HistoryWindow*>();
    ASSERT_EQ(windows.size(), 2);
    HistoryWindow* w = windows[0]->station() == "02:b7:1c:20:00:01" ? windows[0] : windows[1];
    EXPECT_EQ(w->station(), "02:b7:1c:20:00:01");
    EXPECT_NE(windows[0]->station(), windows[1]->station());
    EXPECT_TRUE(w->isWindow());
    EXPECT_EQ(w->windowModality(), Qt::NonModal);
    EXPECT_EQ(busy, 0);

    // "Name…" in the row's menu asks for the name (blanks around it dropped) and keeps it in
    // the file; the row's tooltip and the window's title show it. One that is no name is a box.
    for (const char* typed : {"  B\u00fcro \"1\"  ", "123456789012345678901234567890123"}) {
        QTimer::singleShot(0, [typed] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            QAction* name = menu->actions().value(1);
            ASSERT_NE(name, nullptr);
            menu->close();
            QTimer::singleShot(0, [typed] {
                auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
                ASSERT_NE(dialog, nullptr);
                EXPECT_EQ(dialog->windowTitle(), "Name");
                EXPECT_EQ(dialog->labelText(), "Name of 02:b7:1c:20:00:01 (empty for none):");
                dialog->setTextValue(QString::fromUtf8(typed));
                dialog->accept();
            });
            name->trigger();
        });
        emit list->customContextMenuRequested(at);
    }
    EXPECT_EQ(first->toolTip(1), QString::fromUtf8("Name: B\u00fcro \"1\""));
    EXPECT_EQ(w->windowTitle(), QString::fromUtf8("History of 02:b7:1c:20:00:01 \u2014 B\u00fcro \"1\""));
    // The other window's box for it, and its line once checked, show the name too.
    QCheckBox* named = nullptr;
    for (QCheckBox* box : (windows[0] == w ? windows[1] : windows[0])->findChildren<QCheckBox*>("compare"))
        named = box->property("mac") == "02:b7:1c:20:00:01" ? box : named;
    ASSERT_NE(named, nullptr);
    EXPECT_EQ(named->text(), QString::fromUtf8("02:b7:1c:20:00:01 \u2014 B\u00fcro \"1\""));
    named->setChecked(true);
    int namedPoints = 0;
    for (QAbstractSeries* s : named->window()->findChild<QChartView*>("historyChart")->chart()->series())
        if (s->objectName() == "compare" && s->name() == named->text())
            namedPoints += static_cast<int>(static_cast<QLineSeries*>(s)->count());
    EXPECT_GT(namedPoints, 200);
    EXPECT_EQ(fileLines(session::namesFileName), QStringList{QString::fromUtf8("02:b7:1c:20:00:01\tB\u00fcro \"1\"")});
    struct stat kept {};
    EXPECT_TRUE(stat(session::namesFileName, &kept) == 0 && (kept.st_mode & 07777) == 0600);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "Name");
    EXPECT_EQ(boxes[0].text, "The name was not kept: the name is longer than 32 characters.");

    history::Store store;
    ASSERT_TRUE(store.open(db, history::Store::Mode::readOnly));
    history::Filter f;
    const uint64_t station = history::Mac::parse("02:b7:1c:20:00:01").value().number();
    const auto onlyStation = [station](auto rows) {
        std::erase_if(rows, [station](const auto& r) { return r.station != station; });
        return rows;
    };
    auto* view = w->findChild<QChartView*>("historyChart");
    // The points of the named line, or of the named area's lower or upper edge.
    const auto drawn = [&](const char* name, int edge = 0) {
        QList<QPointF> points;
        for (QAbstractSeries* s : view->chart()->series()) {
            if (s->objectName() != QLatin1String(name))
                continue;
            auto* area = qobject_cast<QAreaSeries*>(s);
            points += area ? (edge < 0 ? area->lowerSeries() : area->upperSeries())->points()
                           : static_cast<QLineSeries*>(s)->points();
        }
        return points;
    };
    // A day: one point per five minutes, the mean of that bucket's samples in its middle.
    f.sinceMs = start;
    std::vector<history::Bucket> buckets = onlyStation(store.buckets(f, 300000));
    ASSERT_GT(buckets.size(), 280u);
    // Behind each mean, its bucket's lowest to highest sample.
    QList<QPointF> day = drawn("rate"), lowest = drawn("range", -1), highest = drawn("range", 1);
    ASSERT_EQ(day.size(), static_cast<qsizetype>(buckets.size()));
    ASSERT_EQ(lowest.size(), day.size());
    ASSERT_EQ(highest.size(), day.size());
    for (size_t i = 0; i < buckets.size(); ++i) {
        const auto at = static_cast<qsizetype>(i);
        EXPECT_EQ(day[at].x(), static_cast<qreal>(buckets[i].startMs + 150000));
        EXPECT_NEAR(day[at].y(), *buckets[i].avgMbps, 1e-9);
        EXPECT_NEAR(lowest[at].y(), *buckets[i].minMbps, 1e-9);
        EXPECT_NEAR(highest[at].y(), *buckets[i].maxMbps, 1e-9);
    }
    std::vector<double> rates;
    for (const history::Sample& s : onlyStation(store.samples(f)))
        rates.push_back(*s.rateMbps);
    std::sort(rates.begin(), rates.end());
    ASSERT_EQ(rates.size() % 2, 0u);
    const double median = (rates[rates.size() / 2 - 1] + rates[rates.size() / 2]) / 2;
    EXPECT_EQ(w->findChild<QLabel*>("historyMinimum")->text(), QString::asprintf("Minimum: %.2f Mbps", rates.front()));
    EXPECT_EQ(w->findChild<QLabel*>("historyMedian")->text(), QString::asprintf("Median: %.2f Mbps", median));
    EXPECT_EQ(w->findChild<QLabel*>("historyMaximum")->text(), QString::asprintf("Maximum: %.2f Mbps", rates.back()));
    EXPECT_LT(rates.front(), fairFromMbps);  // the evening's dip reaches Poor
    // Behind it the three bands, split where the rating changes, in the rating's colours.
    const struct {
        const char* name;
        double low, high, inside;
    } bands[] = {{"Poor", -1, fairFromMbps, 0.0},
                 {"Fair", fairFromMbps, excellentAboveMbps, fairFromMbps},
                 {"Excellent", excellentAboveMbps, -1, excellentAboveMbps * 2}};
    for (const auto& b : bands) {
        auto* area = view->chart()->findChild<QAreaSeries*>(b.name);
        ASSERT_NE(area, nullptr) << b.name;
        if (b.low >= 0) {
            EXPECT_EQ(area->lowerSeries()->at(0).y(), b.low) << b.name;
        }
        if (b.high >= 0) {
            EXPECT_EQ(area->upperSeries()->at(0).y(), b.high) << b.name;
        }
        const Rgb c = linkQualityFor(b.inside).barColour;
        EXPECT_EQ(area->color().rgb(), QColor(c.red, c.green, c.blue).rgb()) << b.name;
    }

    // The last hour: every sample as it is.
    w->findChild<QComboBox*>("historySpan")->setCurrentIndex(0);
    f.sinceMs = start + historyfill::dayMs - 3600000;
    std::vector<history::Sample> hour = onlyStation(store.samples(f));
    QList<QPointF> drawnHour = drawn("rate");
    ASSERT_EQ(drawnHour.size(), static_cast<qsizetype>(hour.size()));
    EXPECT_TRUE(drawn("range", 1).isEmpty());
    for (size_t i = 0; i < hour.size(); ++i)
        EXPECT_NEAR(drawnHour[static_cast<qsizetype>(i)].y(), *hour[i].rateMbps, 1e-9);
    EXPECT_EQ(w->findChild<QLabel*>("historyNow")->text(), QString::asprintf("Now: %.2f Mbps", *hour.back().rateMbps));

    // Hover: the nearest point's local time with its zone, its rate and its rating.
    auto* chartView = static_cast<HistoryChartView*>(view);
    QAbstractSeries* rateLine = view->chart()->findChild<QLineSeries*>("rate");
    const auto placeOf = [&](const QPointF& p) {
        return view->mapFromScene(view->chart()->mapToScene(view->chart()->mapToPosition(p, rateLine)));
    };
    const QPointF hovered = drawnHour[20];
    QTest::mouseMove(view->viewport(), placeOf(hovered) + QPoint(1, 1));
    const QString expectedRating = hovered.y() > excellentAboveMbps ? "Excellent"
                                   : hovered.y() >= fairFromMbps    ? "Fair"
                                                                    : "Poor";
    EXPECT_EQ(chartView->readout(),
              QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(hovered.x()), QTimeZone("Asia/Kolkata"))
                      .toString("ddd d MMM HH:mm:ss") +
                  QString::asprintf(" IST\n%.2f Mbps\nLink Quality: ", hovered.y()) + expectedRating);
    // Ticks on round local minutes, the first with its date; the zone named under them.
    auto* timeAxis = static_cast<QCategoryAxis*>(view->chart()->axes(Qt::Horizontal).value(0));
    ASSERT_NE(timeAxis, nullptr);
    EXPECT_EQ(timeAxis->titleText(), "Time (IST, UTC+05:30)");
    EXPECT_EQ(timeAxis->categoriesLabels().value(0), "31 Mar 04:30");
    EXPECT_GE(timeAxis->categoriesLabels().size(), 4);
    for (const QString& label : timeAxis->categoriesLabels().mid(1))
        EXPECT_TRUE(QRegularExpression("^\\d\\d:[0-5][05]$").match(label).hasMatch()) << label.toStdString();

    // Drag across a span zooms to it; the wheel zooms around the pointer; a double-click shows it whole.
    const QPoint dragFrom = placeOf(drawnHour[10]), dragTo = placeOf(drawnHour[70]);
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, dragFrom);
    QTest::mouseMove(view->viewport(), dragTo);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, dragTo);
    const double msPerPixel = 3600000.0 / view->chart()->plotArea().width();
    EXPECT_NEAR(w->shownFromMs(), drawnHour[10].x(), 2 * msPerPixel);
    EXPECT_NEAR(w->shownToMs(), drawnHour[70].x(), 2 * msPerPixel);
    EXPECT_EQ(timeAxis->min(), w->shownFromMs());
    EXPECT_EQ(timeAxis->max(), w->shownToMs());
    const int64_t zoomedWidth = w->shownToMs() - w->shownFromMs();
    const QPoint wheelAt = placeOf(drawnHour[40]);
    QWheelEvent wheel(wheelAt, view->viewport()->mapToGlobal(wheelAt), {}, {0, 120}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_NEAR(w->shownToMs() - w->shownFromMs(), 0.8 * zoomedWidth, 2 * msPerPixel);
    EXPECT_LT(w->shownFromMs(), drawnHour[40].x());
    EXPECT_GT(w->shownToMs(), drawnHour[40].x());

    // "Export…" writes the span shown as `brennicctl history --csv` writes its rows.
    const std::string csv = dir.path() + "/shown.csv";
    QTimer::singleShot(0, [&] {
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QFileDialog*>(top); dialog && dialog->isVisible()) {
                dialog->selectFile(QString::fromStdString(csv));
                QMetaObject::invokeMethod(dialog, "accept");
            }
    });
    w->findChild<QPushButton*>("historyExport")->click();
    const QStringList exported = fileLines(csv);
    cli::Invocation inv;
    std::string usage;
    ASSERT_TRUE(cli::parseArguments(
        {"history", "--csv", "--history", db, "--station", "02:b7:1c:20:00:01", "--since", "3650d"}, &inv, &usage))
        << usage;
    const std::string all = dir.path() + "/all.csv";
    std::FILE* out = std::fopen(all.c_str(), "w");
    ASSERT_EQ(cli::runHistoryCommand(inv, out), 0);
    std::fclose(out);
    const QStringList written = fileLines(all);
    ASSERT_GT(exported.size(), 40);
    EXPECT_EQ(exported[0], written[0]);
    EXPECT_EQ(exported[0], "time,adapter,device,station,rate_mbps");
    f.sinceMs = w->shownFromMs();
    f.untilMs = w->shownToMs() + 1;
    EXPECT_EQ(exported.size() - 1, static_cast<qsizetype>(onlyStation(store.samples(f)).size()));
    const qsizetype firstRow = written.indexOf(exported.value(1));
    ASSERT_GT(firstRow, 0);
    EXPECT_EQ(written.mid(firstRow, exported.size() - 1), exported.mid(1));
    // And as a picture of the chart.
    QString why;
    ASSERT_TRUE(w->exportTo(QString::fromStdString(dir.path() + "/shown.png"), &why)) << why.toStdString();
    EXPECT_EQ(QImage(QString::fromStdString(dir.path() + "/shown.png")).size(), view->size());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, wheelAt);
    EXPECT_EQ(w->shownFromMs(), start + historyfill::dayMs - 3600000);
    EXPECT_EQ(w->shownToMs(), start + historyfill::dayMs);

    // Screen readers hear the chart and the figures by name.
    EXPECT_EQ(QAccessible::queryAccessibleInterface(view)->text(QAccessible::Name),
              "Rate of station 02:b7:1c:20:00:01");
    QAccessibleInterface* figures = QAccessible::queryAccessibleInterface(w->findChild<QWidget*>("historyFigures"));
    EXPECT_EQ(figures->text(QAccessible::Name), "Rate figures of the span");
    EXPECT_TRUE(figures->text(QAccessible::Description).startsWith(w->findChild<QLabel*>("historyNow")->text()));

    // History that cannot be written: the window and the Network page's rows say so, and why.
    auto* notRecording = w->findChild<QLabel*>("historyNotRecording");
    EXPECT_FALSE(notRecording->isVisibleTo(w));
    {
        std::ofstream(dir.path() + "/file");
    }
    EXPECT_FALSE(session::openHistory(dir.path() + "/file/history.sqlite3"));
    w->reload();
    EXPECT_TRUE(notRecording->isVisibleTo(w));
    EXPECT_TRUE(notRecording->text().startsWith("History is not being recorded: " + QString::fromStdString(dir.path()) +
                                                "/file"))
        << notRecording->text().toStdString();
    networkPageWindow->fillRows({{"02:b7:1c:20:00:01", "7.90", 7.9}});
    EXPECT_EQ(list->topLevelItem(0)->toolTip(1), notRecording->text() + QString::fromUtf8("\nName: B\u00fcro \"1\""));
    session::closeHistory();
    w->reload();
    EXPECT_FALSE(notRecording->isVisibleTo(w));

    // Esc and Ctrl+W close; Ctrl+H on a selected row opens it again.
    QPointer<HistoryWindow> one(w), other(windows[0] == w ? windows[1] : windows[0]);
    QTest::keyClick(w, Qt::Key_Escape);
    QTest::keyClick(other, Qt::Key_W, Qt::ControlModifier);
    QTRY_VERIFY(one.isNull() && other.isNull());
    sheet->activateWindow();
    list->setFocus();
    list->setCurrentItem(list->topLevelItem(0));
    QTest::keyClick(list, Qt::Key_H, Qt::ControlModifier);
    windows = sheet->findChildren<HistoryWindow*>();
    ASSERT_EQ(windows.size(), 1);
    EXPECT_EQ(windows[0]->station(), "02:b7:1c:20:00:01");
    // Another station of the table beside it, over the same span: the mean of each of its buckets.
    QCheckBox* compare = nullptr;
    for (QCheckBox* box : windows[0]->findChildren<QCheckBox*>("compare"))
        compare = box->text() == "02:b7:1c:20:00:02" ? box : compare;
    ASSERT_NE(compare, nullptr);
    compare->setChecked(true);
    f.station = "02:b7:1c:20:00:02";
    f.sinceMs = start;
    f.untilMs = INT64_MAX;
    const std::vector<history::Bucket> otherBuckets = store.buckets(f, 300000);
    QList<QPointF> compared;
    for (QAbstractSeries* s : windows[0]->findChild<QChartView*>("historyChart")->chart()->series())
        if (s->objectName() == "compare")
            compared += static_cast<QLineSeries*>(s)->points();
    ASSERT_EQ(compared.size(), static_cast<qsizetype>(otherBuckets.size()));
    for (size_t i = 0; i < otherBuckets.size(); ++i)
        EXPECT_NEAR(compared[static_cast<qsizetype>(i)].y(), *otherBuckets[i].avgMbps, 1e-9);

    // A station the history never heard: nothing drawn, and the window says so.
    HistoryWindow unheard("02:b7:1c:20:00:04", nullptr);
    EXPECT_EQ(unheard.findChild<QChartView*>("historyChart")->chart()->series().size(), 3);  // the bands alone
    EXPECT_EQ(unheard.findChild<QChartView*>("historyChart")->chart()->title(),
              "No rate of this station was recorded in this span.");
    EXPECT_EQ(unheard.findChild<QLabel*>("historyNow")->text(), "Now: *");
}

TEST(HistoryChart, TicksFallOnRoundLocalTimesWithTheDateWhereItChanges)
{
    LocalZone zone("Asia/Kolkata");
    constexpr int64_t at = 1774829760000;  // 2026-03-30 00:16 UTC, 05:46 IST
    constexpr int64_t hour = 3600000;
    const struct {
        int64_t from, to;
        int most;
        QStringList labels;
        // clang-format off
    } rows[] = {
        {at, at + hour, 7, {"30 Mar 05:50", "06:00", "06:10", "06:20", "06:30", "06:40"}},
        {at - 6 * hour, at + 18 * hour, 9,
         {"Mon 30 Mar", "03:00", "06:00", "09:00", "12:00", "15:00", "18:00", "21:00"}},
        {at, at + 7 * 24 * hour, 8,
         {"Tue 31 Mar", "Wed 1 Apr", "Thu 2 Apr", "Fri 3 Apr", "Sat 4 Apr", "Sun 5 Apr", "Mon 6 Apr"}},
        {at, at + 2 * 24 * hour, 5, {"30 Mar 12:00", "Tue 31 Mar", "12:00", "Wed 1 Apr"}},
    };
    // clang-format on
    for (const auto& r : rows) {
        QStringList labels;
        for (const TimeTick& t : timeTicks(r.from, r.to, r.most)) {
            labels << t.label;
            EXPECT_EQ((t.utcMs + 5 * hour + hour / 2) % (10 * 60000), 0) << t.label.toStdString();
        }
        EXPECT_EQ(labels, r.labels);
    }
    EXPECT_EQ(zoneText(at), "IST, UTC+05:30");
}

// Two days of degrading.json: the second day's dip is a notification over a
// private session bus, its recovery another once the quiet hour is over.
TEST_F(SheetTest, DegradedStationIsANotificationAndSoIsItsRecovery)
{
    scratch::Directory dir("notify");
    const std::string db = dir.path() + "/history.sqlite3";
    constexpr int64_t start = 1774828800000;  // 2026-03-30 00:00 UTC
    constexpr int64_t minute = 60000;
    emu::Network model;
    std::string error;
    ASSERT_TRUE(emu::loadScenario(std::string(SIM_SCENARIO_DIR) + "/degrading.json", model, &error)) << error;
    // From noon: a day of history by the next day's dip, and a median for it.
    ASSERT_TRUE(
        historyfill::recordModel(model, db, start + 12 * 60 * minute, historyfill::dayMs + 4 * 60 * minute, &error))
        << error;
    load("degrading.json");
    open();
    ASSERT_TRUE(runUntilScanEnds());

    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(daemon.waitForStarted()) << "dbus-daemon is missing";
    ASSERT_TRUE(daemon.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    NotificationServer server;
    QDBusConnection serverBus = QDBusConnection::connectToBus(address, "notification-server");
    QDBusConnection bus = QDBusConnection::connectToBus(address, "brennic");
    const int64_t day2 = start + historyfill::dayMs;
    // No service on the bus: nothing sent.
    EXPECT_EQ(DegradationNotifier(nullptr, bus).check(db, day2 + (14 * 60 + 30) * minute), 0);
    ASSERT_TRUE(serverBus.registerObject("/org/freedesktop/Notifications", &server, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverBus.registerService("org.freedesktop.Notifications"));
    QTRY_VERIFY(bus.interface()->isServiceRegistered("org.freedesktop.Notifications"));

    // A named station is told by its name and its MAC, whatever the name holds.
    ASSERT_TRUE(session::StationNames().set(*frames::Mac::parse("02:b7:1c:20:00:01"), "Study %2"));
    DegradationNotifier notifier(nullptr, bus);
    std::vector<int64_t> at;  // minutes of the day
    for (int64_t t = day2 + 13 * 60 * minute; t <= day2 + 16 * 60 * minute; t += minute)
        if (notifier.check(db, t) > 0)
            at.push_back((t - day2) / minute);
    QTRY_COMPARE(server.seen.size(), 2);
    ASSERT_EQ(at.size(), 2u);
    // Under half of its median from about 13:59: ten minutes of that is 14:09.
    EXPECT_GE(at[0], 14 * 60 + 8);
    EXPECT_LE(at[0], 14 * 60 + 10);
    EXPECT_EQ(at[1], at[0] + 60);  // recovered at 15:02, told when the quiet hour ends
    EXPECT_TRUE(server.seen[0].startsWith(
        "brennic: Powerline link to Study %2 (02:b7:1c:20:00:01) degraded | For 10 minutes at 0."))
        << server.seen[0].toStdString();
    EXPECT_TRUE(server.seen[0].contains(", its usual rate is 8.")) << server.seen[0].toStdString();
    EXPECT_TRUE(
        server.seen[1].startsWith("brennic: Powerline link to Study %2 (02:b7:1c:20:00:01) recovered | Back at 8."))
        << server.seen[1].toStdString();
    daemon.kill();
    daemon.waitForFinished();
}

TEST_F(SheetTest, ClearingTheNetworkListBeforeItExistsDoesNothing)
{
    load("home.json");
    open();
    ASSERT_TRUE(runUntilScanEnds());
    clearNetworkList();
    fillStationList();
    EXPECT_EQ(networkPageWindow, nullptr);
    child<QTabWidget>("tabs")->setCurrentIndex(networkPageIndex);
    EXPECT_EQ(child<QTreeWidget>("stationList")->topLevelItemCount(), 3);
}

class ScanDialogTest : public SheetTest {
protected:
    // Presses "Scan Powerline Network" and drives the monitor from inside the
    // modal dialog's loop, one virtual tick per pass, until the dialog is gone.
    // `beforeTick` sees the dialog and the pass (from 1) first; false ends the
    // scan there (a fault: do not hang the suite). `afterTick` follows each tick.
    void stepScan(const std::function<bool(ScanDialog*, int)>& beforeTick,
                  const std::function<void()>& afterTick = nullptr)
    {
        int passes = 0;
        QTimer stepper;
        stepper.setInterval(0);
        QObject::connect(&stepper, &QTimer::timeout, [&] {
            ScanDialog* d = scanDialogWindow;
            if (!d)
                return;
            if (!beforeTick(d, ++passes)) {
                d->endScan();
                return;
            }
            simclock::advance(monitorIntervalMs);
            platform::runDueTimers();
            if (afterTick)
                afterTick();
        });
        stepper.start();
        child<QPushButton>("scanButton")->click();
        stepper.stop();
    }

    DialogStepper scan()
    {
        DialogStepper s;
        auto* list = child<QTreeWidget>("stationList");
        stepScan(
            [&](ScanDialog* d, int pass) {
                if (pass == 1) {
                    s.sawEmptyList = list->topLevelItemCount() == 0;
                    s.caption = d->windowTitle();
                    s.text = d->findChild<QLabel*>()->text();
                    s.unnamed = unnamedControls(QAccessible::queryAccessibleInterface(d));
                    QTest::keyClick(d, Qt::Key_Escape);
                    s.survivedEscape = d->isVisible() && scanDialogWindow == d;
                    d->close();
                    s.survivedClose = d->isVisible() && scanDialogWindow == d;
                }
                if (s.elapsedMs > 30000)
                    return false;
                s.elapsedMs += monitorIntervalMs;
                return true;
            },
            [&] {
                if (scanDialogWindow)
                    s.lastBarPos = scanDialogWindow->bar().pos();
            });
        return s;
    }
};

TEST_F(ScanDialogTest, ScanEndsOnTheLinkStatsReply)
{
    load("home.json");
    open();
    ASSERT_TRUE(runUntilScanEnds());
    child<QTabWidget>("tabs")->setCurrentIndex(networkPageIndex);
    ASSERT_EQ(child<QTreeWidget>("stationList")->topLevelItemCount(), 3);

    DialogStepper s = scan();
    EXPECT_TRUE(s.sawEmptyList);
    EXPECT_TRUE(s.survivedEscape);
    EXPECT_TRUE(s.survivedClose);
    EXPECT_EQ(s.caption, "Powerline Network Scan");
    EXPECT_EQ(s.text, "Scanning your powerline network, please wait...");
    EXPECT_EQ(scanDialogWindow, nullptr);
    EXPECT_GT(s.elapsedMs, 4000u);
    EXPECT_LT(s.elapsedMs, 6000u);
    EXPECT_EQ(progressActive, 0);
    EXPECT_EQ(rowTexts(child<QTreeWidget>("stationList"), 0),
              QStringList({"02:b7:1c:20:00:03", "02:b7:1c:20:00:02", "02:b7:1c:20:00:01"}));
    EXPECT_EQ(child<QLabel>("statusText")->text(), "Link Quality: Excellent");
}

TEST_F(ScanDialogTest, EveryPageAndTheScanDialogNameTheirControls)
{
    load("home.json");
    PropertySheet& s = open();
    ASSERT_TRUE(runUntilScanEnds());
    auto* tabs = child<QTabWidget>("tabs");
    for (int i = tabs->count() - 1; i >= networkPageIndex; --i)  // a page made once shown stays in the tree
        tabs->setCurrentIndex(i);
    EXPECT_EQ(unnamedControls(QAccessible::queryAccessibleInterface(&s)), QStringList());
    EXPECT_EQ(scan().unnamed, QStringList());
}

TEST_F(ScanDialogTest, SilentNetworkHoldsTheDialogTenSeconds)
{
    load("home.json");
    open();
    ASSERT_TRUE(runUntilScanEnds());
    child<QTabWidget>("tabs")->setCurrentIndex(networkPageIndex);
    network.adapter(0).device.faults.silent = true;

    DialogStepper s = scan();
    EXPECT_EQ(scanDialogWindow, nullptr);
    EXPECT_GE(s.elapsedMs, 10000u);
    EXPECT_LE(s.elapsedMs, 10100u);
    // One step a tick: the dialog's bar is nearly full when the timer ends it.
    EXPECT_GE(s.lastBarPos, 99);
    EXPECT_EQ(child<QTreeWidget>("stationList")->topLevelItemCount(), 0);
    EXPECT_EQ(child<QLabel>("statusText")->text(), "Link Quality: Poor");
    EXPECT_EQ(devicePageWindow->bar().pos(), 3);
    EXPECT_EQ(devicePageWindow->bar().colour(), QColor(230, 0, 0));
}

// A window manager may offer a minimise button on the dialog whatever it is
// asked: the dialog comes back at once, and the sheet is not left minimised.
TEST_F(ScanDialogTest, MinimisedDialogAndSheetComeBack)
{
    load("home.json");
    open();
    ASSERT_TRUE(runUntilScanEnds());
    sheet->show();
    child<QTabWidget>("tabs")->setCurrentIndex(networkPageIndex);
    int passes = 0;
    bool minimised = false, cameBack = false;
    stepScan([&](ScanDialog* d, int pass) {
        passes = pass;
        if (pass == 2) {
            sheet->showMinimized();
            d->showMinimized();
            minimised = d->isMinimized() && sheet->isMinimized();
        } else if (pass == 10) {
            cameBack = !d->isMinimized() && d->isVisible();
        }
        return pass <= 300;
    });
    EXPECT_TRUE(minimised);
    EXPECT_TRUE(cameBack);
    EXPECT_LT(passes, 300);
    EXPECT_FALSE(sheet->isMinimized());
}

#include "ui_test.moc"
#include "frames/mac.h"
