// The property sheet against plcsim through the kernel: raw sockets on the
// TAP interfaces plcsim makes, in a private network namespace of the test's
// own. Real time here: every wait is bounded.
#include "ui/advanced_page.h"
#include "ui/common.h"
#include "ui/device_page.h"
#include "link/link.h"
#include "emulator/model.h"
#include "netstate/monitor.h"
#include "support/netns_test.h"
#include "support/saved_files.h"
#include "ui/network_page.h"
#include "support/plcsim_process.h"
#include "netstate/profiles.h"
#include "ui/qt_timers.h"
#include "ui/security_page.h"
#include "link/flags.h"
#include "ui/shell.h"
#include "netstate/stations.h"
#include "support/system_state.h"
#include "platform/timers.h"
#include "frames/mac.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int startMs = 5000;
// A scan ends with the LinkStatsReply to the query of second 21, about 4.2 s
// after it begins; the scan timer ends it at 10 s in any case.
constexpr int scanMs = 12000;

void ensureApplication()
{
    static int argc = 1;
    static char name[] = "e2e_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

using testsupport::fileText;
using testsupport::savedProfile;

// Packet sockets open in this network namespace, as the kernel lists them.
int packetSockets()
{
    std::ifstream in("/proc/net/packet");
    std::string line;
    int n = -1;  // the heading
    while (std::getline(in, line))
        ++n;
    return n;
}

struct ErrorBox {
    QString caption;
    QString text;
};

class EndToEnd : public testsupport::NetnsTest {
protected:
    static void SetUpTestSuite() { ensureApplication(); }

    void SetUp() override
    {
        NetnsTest::SetUp();
        if (IsSkipped())
            return;
        std::remove(profileFileName);
        std::remove("plc.log");
        testsupport::resetSystemState();
        timers = std::make_unique<QtTimerBackend>();
        platform::setTimerBackend(timers.get());
        setErrorBoxHook([this](QWidget*, const QString& caption, const QString& text) {
            boxes.push_back({caption, text});
        });
        setExitHook([this](int code) { exitCodes.push_back(code); });
    }

    void TearDown() override
    {
        sheet.reset();
        closeAdapters();
        platform::setTimerBackend(nullptr);
        timers.reset();
        plcsim.stop();
        setErrorBoxHook(nullptr);
        setExitHook(nullptr);
    }

    // plcsim with `scenario`, and the same scenario read here for what to expect.
    void startEmulator(const char* scenario)
    {
        std::string path = std::string(SCENARIO_DIR) + "/" + scenario;
        std::string why;
        ASSERT_TRUE(emu::loadScenario(path, expected, &why)) << why;
        ASSERT_TRUE(plcsim.start(PLCSIM_PATH, path, &why, startMs)) << why;
    }

    void openSheet()
    {
        sheet = std::make_unique<PropertySheet>();
        sheet->show();
        device = qobject_cast<DevicePage*>(sheet->page(devicePageIndex));
        ASSERT_NE(device, nullptr);
    }

    template <typename Page>
    Page* showPage(int index)
    {
        sheet->findChild<QTabWidget*>(QStringLiteral("tabs"))->setCurrentIndex(index);
        return qobject_cast<Page*>(sheet->page(index));
    }

    template <typename T>
    T* child(QWidget* page, const char* name)
    {
        return page->findChild<T*>(QString::fromLatin1(name));
    }

    void click(QWidget* page, const char* button)
    {
        auto* b = child<QPushButton>(page, button);
        ASSERT_NE(b, nullptr) << button;
        QTest::mouseClick(b, Qt::LeftButton);
    }

    // The scan's end redraws the link quality; the status is blanked first so the redraw shows.
    void expectScanToEnd()
    {
        EXPECT_TRUE(QTest::qWaitFor([&] { return device->statusText().startsWith("Link Quality:"); }, scanMs))
            << "status: " << device->statusText().toStdString();
    }

    static QStringList rows(QTreeWidget* list)
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(0) + " " + list->topLevelItem(i)->text(1);
        out.sort();
        return out;
    }

    // The stations the emulated device of adapter `a` reaches, with the rates
    // their link values give, and the rating of their average.
    QStringList expectedStations(int a) const
    {
        QStringList out;
        for (const emu::RemoteStation& s : expected.adapter(a).stations)
            if (expected.reaches(a, s))
                out << QString::fromStdString(frames::Mac::of(s.mac.data()).text()) + " " +
                           QString::asprintf("%.2f", rateFromLinkValue(s.linkValue));
        out.sort();
        return out;
    }

    QString expectedRating(int a) const
    {
        double sum = 0;
        int n = 0;
        for (const emu::RemoteStation& s : expected.adapter(a).stations)
            if (expected.reaches(a, s)) {
                sum += rateFromLinkValue(s.linkValue);
                ++n;
            }
        return QString::fromLatin1(linkQualityFor(n ? sum / n : 0.0).ratingText);
    }

    QStringList expectedDeviceRows() const
    {
        QStringList out;
        for (int a = 0; a < expected.adapterCount(); ++a) {
            const emu::LocalDevice& d = expected.adapter(a).device;
            out << deviceTypeName(d.deviceType) + " " + QString::fromStdString(frames::Mac::of(d.mac.data()).text());
        }
        out.sort();
        return out;
    }

    QString connectedText(int a) const
    {
        return QString::fromLatin1(connectedPrefix) +
               QString::fromStdString(frames::Mac::of(expected.adapter(a).device.mac.data()).text());
    }

    testsupport::PlcsimProcess plcsim;
    emu::Network expected;  // what plcsim plays, kept in step with the changes the test makes
    std::unique_ptr<QtTimerBackend> timers;
    std::unique_ptr<PropertySheet> sheet;
    DevicePage* device = nullptr;
    std::vector<ErrorBox> boxes;
    std::vector<int> exitCodes;
};

TEST_F(EndToEnd, HomeNetworkSetLocalAddSetAllRemoveRefreshCancel)
{
    startEmulator("home.json");
    openSheet();
    ASSERT_FALSE(HasFatalFailure());

    // Start: the emulated device is listed, with the parameter block it keeps,
    // and the first scan rates its network.
    EXPECT_EQ(packetSockets(), expected.adapterCount());
    EXPECT_EQ(adapters[0].paramsSeen, 1);
    EXPECT_EQ(std::memcmp(adapters[0].deviceParams, expected.adapter(0).device.eeprom.data(),
                          sizeof adapters[0].deviceParams),
              0);
    EXPECT_EQ(rows(device->deviceList()), expectedDeviceRows());
    EXPECT_EQ(device->stateText()->text(), connectedText(0));
    auto* network = showPage<NetworkPage>(networkPageIndex);
    ASSERT_NE(network, nullptr);
    expectScanToEnd();
    EXPECT_EQ(device->statusText(), expectedRating(0));
    EXPECT_EQ(rows(network->stationList()), expectedStations(0));
    ASSERT_EQ(expectedStations(0).size(), 3);

    // Set Local: the device confirms the new key, so nothing goes to plc.log.
    const char* newPassword = "Orchard-Lane-42";
    auto* security = showPage<SecurityPage>(securityPageIndex);
    ASSERT_NE(security, nullptr);
    security->passwordEdit()->clear();
    QTest::keyClicks(security->passwordEdit(), QString::fromLatin1(newPassword));
    click(security, "setLocalButton");
    EXPECT_EQ(fileText("plc.log").find("**SETNEK**"), std::string::npos) << fileText("plc.log");
    EXPECT_STREQ(savedProfile().networkPassword, newPassword);
    expected.adapter(0).device.key1 = emu::keyFromPassword(newPassword);

    // Add by the label's device password; Set All follows and the device reports OK.
    const char* neighbour = "KQ7R-2M4X-PL9D";
    auto* advanced = showPage<AdvancedPage>(advancedPageIndex);
    ASSERT_NE(advanced, nullptr);
    EXPECT_EQ(advanced->networkPasswordEdit()->text(), QString::fromLatin1(newPassword));
    QTest::keyClicks(advanced->devicePasswordEdit(), QString::fromLatin1(neighbour));
    device->setStatusText(QString());
    click(advanced, "addButton");
    ASSERT_EQ(advanced->passwordList()->topLevelItemCount(), 1);
    EXPECT_EQ(advanced->passwordList()->topLevelItem(0)->text(0), QString::fromLatin1(neighbour));
    EXPECT_EQ(advanced->passwordList()->topLevelItem(0)->text(1), QString::fromLatin1(statusOk));
    for (emu::RemoteStation& s : expected.adapter(0).stations)
        if (s.devicePassword == neighbour)
            s.networkKey = emu::keyFromPassword(newPassword);

    // The scan after Set All finds the device's new network: the added station only.
    expectScanToEnd();
    EXPECT_EQ(rows(network->stationList()), expectedStations(0));
    ASSERT_EQ(expectedStations(0).size(), 1);
    EXPECT_EQ(device->statusText(), expectedRating(0));

    // Set All again on its own: still OK.
    click(advanced, "setAllButton");
    EXPECT_EQ(advanced->passwordList()->topLevelItem(0)->text(1), QString::fromLatin1(statusOk));
    EXPECT_EQ(savedProfile().devicePasswords[0].networkKeySet, 1);

    // Remove frees the entry in the list and in the file.
    advanced->passwordList()->topLevelItem(0)->setSelected(true);
    click(advanced, "removeButton");
    EXPECT_EQ(advanced->passwordList()->topLevelItemCount(), 0);
    EXPECT_EQ(savedProfile().devicePasswords[0].password[0], 0);

    // Refresh opens the adapters again and begins a new scan of the same network.
    showPage<DevicePage>(devicePageIndex);
    click(device, "refreshButton");
    EXPECT_EQ(rows(device->deviceList()), expectedDeviceRows());
    EXPECT_EQ(sessionOpen, 1);
    expectScanToEnd();
    EXPECT_EQ(rows(network->stationList()), expectedStations(0));

    EXPECT_EQ(fileText("plc.log").find("**SETNEK**"), std::string::npos) << fileText("plc.log");
    EXPECT_TRUE(boxes.empty()) << boxes.front().caption.toStdString();

    // Cancel ends the session: the adapters' sockets are closed.
    auto* buttons = sheet->findChild<QDialogButtonBox*>(QStringLiteral("buttons"));
    QTest::mouseClick(buttons->button(QDialogButtonBox::Cancel), Qt::LeftButton);
    EXPECT_EQ(sessionOpen, 0);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(packetSockets(), 0);
    EXPECT_TRUE(exitCodes.empty());
}

TEST_F(EndToEnd, TwoAdaptersListedAndEachScanned)
{
    startEmulator("two-adapters.json");
    openSheet();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_EQ(expected.adapterCount(), 2);

    EXPECT_EQ(rows(device->deviceList()), expectedDeviceRows());
    EXPECT_EQ(device->stateText()->text(), connectedText(0));
    auto* network = showPage<NetworkPage>(networkPageIndex);
    expectScanToEnd();
    EXPECT_EQ(rows(network->stationList()), expectedStations(0));
    EXPECT_EQ(device->statusText(), expectedRating(0));

    // Connect to the second device: its own network, which has no stations.
    showPage<DevicePage>(devicePageIndex);
    QTreeWidgetItem* second = device->deviceList()->topLevelItem(1);
    ASSERT_NE(second, nullptr);
    device->deviceList()->setCurrentItem(second);
    EXPECT_EQ(second->text(1), QString::fromStdString(frames::Mac::of(expected.adapter(1).device.mac.data()).text()));
    device->setStatusText(QString());
    click(device, "connectButton");
    EXPECT_EQ(device->stateText()->text(), connectedText(1));
    expectScanToEnd();
    EXPECT_EQ(rows(network->stationList()), expectedStations(1));
    EXPECT_EQ(device->statusText(), expectedRating(1));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(EndToEnd, EmulatorGoneMidSessionThenRefreshIsInvalidConfiguration)
{
    startEmulator("home.json");
    openSheet();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(rows(device->deviceList()), expectedDeviceRows());

    // The interface disappears under the open socket; the monitor keeps ticking
    // through the scan's queries without a word.
    plcsim.stop();
    int ticksBefore = monitorTicks + 10 * monitorSecond;
    QTest::qWait(1500);
    EXPECT_NE(monitorTicks + 10 * monitorSecond, ticksBefore);
    EXPECT_TRUE(boxes.empty());

    click(device, "refreshButton");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, QString::fromLatin1(invalidConfigCaption));
    EXPECT_EQ(boxes[0].text, QString::fromLatin1(invalidConfigText));
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_EQ(packetSockets(), 0);
}

}  // namespace
