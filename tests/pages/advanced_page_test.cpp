#include "ui/advanced_page.h"
#include "support/sim_sheet.h"

#include "ui/common.h"
#include "ui/windows.h"
#include "emulator/model.h"
#include "frames/frame.h"
#include "ui/security_page.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "link/flags.h"

#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

using namespace mme;
using namespace simsystem;

namespace {

class AdvancedPageTest : public simsystem::SimSheetTest {
protected:
    void SetUp() override
    {
        SimSheetTest::SetUp();
        startHome();
        if (HasFatalFailure())
            return;
        makePage();
    }
    void TearDown() override
    {
        page.reset();
        SimSheetTest::TearDown();
    }

    void makePage()
    {
        page = std::make_unique<AdvancedPage>();
        page->show();
        page->activate();
        networkEdit = page->findChild<QLineEdit*>(QStringLiteral("networkPasswordEdit"));
        deviceEdit = page->findChild<QLineEdit*>(QStringLiteral("devicePasswordEdit"));
        list = page->findChild<QTreeWidget*>(QStringLiteral("passwordList"));
        addButton = page->findChild<QPushButton*>(QStringLiteral("addButton"));
        setAllButton = page->findChild<QPushButton*>(QStringLiteral("setAllButton"));
        removeButton = page->findChild<QPushButton*>(QStringLiteral("removeButton"));
        ASSERT_TRUE(networkEdit && deviceEdit && list && addButton && setAllButton && removeButton);
    }

    // An entry as an earlier Add would have left it.
    static void seed(int index, const char* password, const Mac& mac, int32_t networkKeySet = 1)
    {
        DevicePasswordEntry& e = profiles[0].devicePasswords[index];
        std::memset(e.password, 0, sizeof e.password);
        std::strcpy(e.password, password);
        std::memcpy(e.remoteMac, mac.data(), mac.size());
        e.networkKeySet = networkKeySet;
    }

    QStringList column(int c) const
    {
        QStringList out;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(c);
        return out;
    }

    void click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void expectOnlyBox(const char* caption, const char* text)
    {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, page.get());
        EXPECT_EQ(boxes[0].caption, QString::fromLatin1(caption));
        EXPECT_EQ(boxes[0].text, QString::fromLatin1(text));
        EXPECT_EQ(boxes[0].busyUnder, 1) << "the monitor stays idle under the page's box";
    }

    std::unique_ptr<AdvancedPage> page;
    QLineEdit* networkEdit = nullptr;
    QLineEdit* deviceEdit = nullptr;
    QTreeWidget* list = nullptr;
    QPushButton* addButton = nullptr;
    QPushButton* setAllButton = nullptr;
    QPushButton* removeButton = nullptr;
};

TEST_F(AdvancedPageTest, AddFindsTheDevicesAndPutsThemOnTheNetwork)
{
    const Key networkKey = derivedKey("TideWell");
    ASSERT_NE(remote(neighbourFour).networkKey, networkKey);
    ASSERT_FALSE(stationListed(neighbourFour));

    QTest::keyClicks(deviceEdit, QString::fromLatin1(neighbourFourPassword).toLower());
    EXPECT_EQ(deviceEdit->text(), QString::fromLatin1(neighbourFourPassword));
    click(addButton);

    EXPECT_TRUE(boxes.empty());
    EXPECT_TRUE(deviceEdit->text().isEmpty());
    EXPECT_EQ(column(0), QStringList{neighbourFourPassword});
    EXPECT_EQ(column(1), QStringList{statusOk});
    const DevicePasswordEntry& first = profiles[0].devicePasswords[0];
    EXPECT_STREQ(first.password, neighbourFourPassword);
    EXPECT_EQ(std::memcmp(first.remoteMac, neighbourFour.data(), 6), 0);
    EXPECT_EQ(first.networkKeySet, 1);
    EXPECT_STREQ(savedProfile(0).devicePasswords[0].password, neighbourFourPassword);
    EXPECT_EQ(remote(neighbourFour).networkKey, networkKey);
    EXPECT_EQ(localDevice().key1, networkKey);
    EXPECT_FALSE(localDevice().provisional);
    EXPECT_EQ(localDevice().key0, localDevice().deviceKey);
    EXPECT_EQ(monitorSecond, 15);  // the background scan of Set All
    EXPECT_EQ(busy, 0);

    QTest::keyClicks(deviceEdit, QString::fromLatin1(neighbourFivePassword));
    click(addButton);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(column(0), (QStringList{neighbourFourPassword, neighbourFivePassword}));
    EXPECT_EQ(column(1), (QStringList{statusOk, statusOk}));
    EXPECT_EQ(std::memcmp(profiles[0].devicePasswords[1].remoteMac, neighbourFive.data(), 6), 0);
    EXPECT_EQ(remote(neighbourFive).networkKey, networkKey);
    EXPECT_EQ(busy, 0);

    // The scan that follows now hears both of them.
    run(6000);
    EXPECT_TRUE(stationListed(neighbourFour));
    EXPECT_TRUE(stationListed(neighbourFive));
    EXPECT_TRUE(stationListed(homeStationOne));
}

TEST_F(AdvancedPageTest, NoAnswerLeavesTheLocalDeviceOnTheNetworkKey)
{
    QTest::keyClicks(deviceEdit, QStringLiteral("ZZZZ-YYYY-XXXX"));
    click(addButton);

    expectOnlyBox(noResponseCaption, noResponseText);
    EXPECT_EQ(list->topLevelItemCount(), 0);
    EXPECT_EQ(firstFreeDevicePassword(), 0);
    EXPECT_FALSE(fileExists(profileFileName));  // no Set All followed
    EXPECT_EQ(deviceEdit->text(), QStringLiteral("ZZZZ-YYYY-XXXX"));
    EXPECT_EQ(deviceEdit->selectedText(), deviceEdit->text());
    // The search left a random key behind; the page put the network key back.
    EXPECT_EQ(localDevice().key1, derivedKey(profiles[0].networkPassword));
    EXPECT_EQ(localDevice().key0, localDevice().deviceKey);
    EXPECT_FALSE(localDevice().provisional);
    EXPECT_EQ(busy, 0);
}

TEST_F(AdvancedPageTest, AddWithAnInvalidNetworkPasswordSendsNothing)
{
    const Key networkKey = derivedKey("TideWell");
    // "abc", and the empty field that a short "wizard.data" leaves.
    for (const QString& field : {QStringLiteral("abc"), QString()}) {
        SCOPED_TRACE(field.toStdString());
        boxes.clear();
        networkEdit->setText(field);
        deviceEdit->setText(QString::fromLatin1(neighbourFourPassword));
        click(addButton);

        expectOnlyBox(invalidNetworkPasswordCaption, invalidNetworkPasswordText);
        EXPECT_TRUE(zsim::sentFrames().empty());
        EXPECT_EQ(list->topLevelItemCount(), 0);
        EXPECT_EQ(deviceEdit->text(), QString::fromLatin1(neighbourFourPassword));
        // The device's block still holds the network key: its network is still there.
        EXPECT_EQ(std::memcmp(localDevice().eeprom.data() + blockKey, networkKey.data(), keySize), 0);
        EXPECT_EQ(localDevice().key1, networkKey);
    }
    run(6000);
    EXPECT_TRUE(stationListed(homeStationOne));
}

TEST_F(AdvancedPageTest, TheWaitCursorShowsWhileAnExchangeHoldsThePage)
{
    // Every frame the page sends goes out under the wait cursor; the emulator answers as before.
    std::vector<bool> waiting;
    zsim::setSendHook([this, &waiting](int adapter, const uint8_t* frame, size_t length) {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        waiting.push_back(cursor && cursor->shape() == Qt::WaitCursor);
        for (const emu::Reply& r : network.handle(adapter, frame, length))
            zsim::deliver(adapter, r.bytes, r.delayMs);
    });
    deviceEdit->setText(QString::fromLatin1(neighbourFourPassword));
    click(addButton);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(column(1), QStringList{statusOk});
    size_t addFrames = waiting.size();
    EXPECT_GT(addFrames, 5u);
    seed(1, "ZZZZ-YYYY-XXXX", neighbourFive);
    click(setAllButton);
    EXPECT_GT(waiting.size(), addFrames);
    EXPECT_EQ(std::count(waiting.begin(), waiting.end(), false), 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "gone once the page is free";
}

TEST_F(AdvancedPageTest, RefusedDevicePasswordsSendNothing)
{
    seed(0, neighbourFourPassword, neighbourFour);
    page->fillDevicePasswordList();
    DevicePasswordEntry before[devicePasswordsPerProfile];
    std::memcpy(before, profiles[0].devicePasswords, sizeof before);

    struct Case {
        QString text;
        const char* caption;
        const char* message;
        bool selected;  // the text is selected for retyping, except after the length test
    };
    const Case cases[] = {
        {QStringLiteral("AB1"), invalidDevicePasswordCaption, invalidDevicePasswordText, true},
        {QString(25, QLatin1Char('K')), invalidDevicePasswordCaption, invalidDevicePasswordText, false},
        {QStringLiteral("\u00c4BCD-1234"), invalidDevicePasswordCaption, invalidDevicePasswordText, true},
        {QString::fromLatin1(neighbourFourPassword), duplicatePasswordCaption, duplicatePasswordText, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        boxes.clear();
        zsim::clearSent();
        deviceEdit->setText(c.text);
        deviceEdit->deselect();
        click(addButton);

        expectOnlyBox(c.caption, c.message);
        EXPECT_TRUE(zsim::sentFrames().empty());
        EXPECT_EQ(std::memcmp(before, profiles[0].devicePasswords, sizeof before), 0);
        EXPECT_EQ(column(0), QStringList{neighbourFourPassword});
        EXPECT_EQ(column(1), QStringList{QString()});  // no Set All ran
        EXPECT_FALSE(fileExists(profileFileName));
        EXPECT_EQ(deviceEdit->text(), c.text);
        EXPECT_EQ(deviceEdit->hasSelectedText(), c.selected);
        EXPECT_EQ(busy, 0);
    }
}

TEST_F(AdvancedPageTest, SetAllReportsEachDevice)
{
    seed(0, neighbourFourPassword, neighbourFour, 0);
    seed(1, neighbourFivePassword, neighbourFive, 1);
    page->fillDevicePasswordList();
    remote(neighbourFive).silent = true;  // unplugged since it was added
    const Key fiveBefore = remote(neighbourFive).networkKey;

    networkEdit->setText(QStringLiteral("Our-New-Network"));
    click(setAllButton);

    const Key key = derivedKey("Our-New-Network");
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(column(1), (QStringList{statusOk, statusFail}));
    EXPECT_STREQ(profiles[0].networkPassword, "Our-New-Network");
    EXPECT_EQ(profiles[0].devicePasswords[0].networkKeySet, 1);
    EXPECT_EQ(profiles[0].devicePasswords[1].networkKeySet, 0);
    EXPECT_EQ(remote(neighbourFour).networkKey, key);
    EXPECT_EQ(remote(neighbourFive).networkKey, fiveBefore);
    EXPECT_EQ(localDevice().key1, key);
    EXPECT_FALSE(localDevice().provisional);
    // Saved after the device that took the key.
    NetworkProfile saved = savedProfile(0);
    EXPECT_STREQ(saved.networkPassword, "Our-New-Network");
    EXPECT_EQ(saved.devicePasswords[0].networkKeySet, 1);
    EXPECT_EQ(monitorSecond, 15);
    EXPECT_EQ(busy, 0);
}

TEST_F(AdvancedPageTest, SetAllWithAnEmptyListStillMovesTheLocalDevice)
{
    networkEdit->setText(QStringLiteral("Another-Net"));
    click(setAllButton);

    const Key key = derivedKey("Another-Net");
    // The key without control, then the local pair: own key provisionally, network key for good.
    std::vector<zsim::SentFrame> frames = setKeyFrames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes[offEntryCount], 1);
    EXPECT_EQ(frames[0].bytes[offKeySelect], 1);
    EXPECT_EQ(std::memcmp(frames[0].bytes.data() + offKey, key.data(), keySize), 0);
    EXPECT_EQ(frames[1].bytes[offKeySelect], 0);
    EXPECT_EQ(std::memcmp(frames[1].bytes.data() + offKey, localDevice().deviceKey.data(), keySize), 0);
    EXPECT_EQ(frames[1].bytes[offControlMark] & controlMarkProvisional, controlMarkProvisional);
    EXPECT_EQ(frames[2].bytes[offKeySelect], 1);
    EXPECT_EQ(frames[2].bytes[offEntryCount], 2);
    EXPECT_EQ(frames[2].bytes[offControlMark] & controlMarkProvisional, 0);
    for (const zsim::SentFrame& f : frames)
        EXPECT_TRUE(isBroadcast(f.bytes.data() + offDestination));
    EXPECT_EQ(localDevice().key1, key);
    EXPECT_EQ(fileText("plc.log").find("**SETNEK**"), std::string::npos);
    // The new password is kept even though no listed device took it.
    std::memset(profiles[selectedAdapter].networkPassword, 0, sizeof profiles[selectedAdapter].networkPassword);
    loadProfiles();
    EXPECT_STREQ(profiles[selectedAdapter].networkPassword, "Another-Net");
    EXPECT_EQ(monitorSecond, 15);
    EXPECT_EQ(busy, 0);
}

TEST_F(AdvancedPageTest, SetAllRefusesAnInvalidNetworkPassword)
{
    seed(0, neighbourFourPassword, neighbourFour);
    page->fillDevicePasswordList();
    const int second = monitorSecond;
    for (const QString& text : {QStringLiteral("abc"), QString(25, QLatin1Char('n'))}) {
        SCOPED_TRACE(text.toStdString());
        boxes.clear();
        networkEdit->setText(text);
        click(setAllButton);

        expectOnlyBox("Invalid Password Entry",
                      "The Network Password Entered is Invalid.\nPlease Enter a Valid Network Password");
        EXPECT_TRUE(zsim::sentFrames().empty());
        EXPECT_STREQ(profiles[0].networkPassword, "TideWell");
        EXPECT_EQ(column(1), QStringList{QString()});
        EXPECT_EQ(monitorSecond, second);
        EXPECT_EQ(busy, 0);
    }
}

TEST_F(AdvancedPageTest, RemoveFreesEverySelectedRow)
{
    const Mac macs[4] = {{2, 0, 0, 0, 0, 1}, {2, 0, 0, 0, 0, 2}, {2, 0, 0, 0, 0, 3}, {2, 0, 0, 0, 0, 4}};
    const char* passwords[4] = {"AAAA-0000", "BBBB-1111", "CCCC-2222", "DDDD-3333"};
    for (int i = 0; i < 4; ++i)
        seed(i, passwords[i], macs[i]);
    page->fillDevicePasswordList();
    ASSERT_EQ(column(0), (QStringList{"AAAA-0000", "BBBB-1111", "CCCC-2222", "DDDD-3333"}));
    for (int row : {0, 2, 3})
        list->topLevelItem(row)->setSelected(true);

    click(removeButton);

    EXPECT_EQ(column(0), QStringList{"BBBB-1111"});
    const char zeros[25] = {};
    for (int i : {0, 2, 3}) {
        const DevicePasswordEntry& e = profiles[0].devicePasswords[i];
        EXPECT_EQ(std::memcmp(e.password, zeros, sizeof zeros), 0) << i;
        // Only the password frees the entry.
        EXPECT_EQ(std::memcmp(e.remoteMac, macs[i].data(), 6), 0) << i;
        EXPECT_EQ(e.networkKeySet, 1) << i;
    }
    EXPECT_STREQ(profiles[0].devicePasswords[1].password, "BBBB-1111");
    NetworkProfile saved = savedProfile(0);
    EXPECT_EQ(saved.devicePasswords[0].password[0], 0);
    EXPECT_STREQ(saved.devicePasswords[1].password, "BBBB-1111");
    EXPECT_TRUE(zsim::sentFrames().empty());
    EXPECT_EQ(busy, 0);

    // Nothing selected: the rows stay and the file is written all the same.
    list->clearSelection();
    std::remove(profileFileName);
    click(removeButton);
    EXPECT_EQ(column(0), QStringList{"BBBB-1111"});
    EXPECT_TRUE(fileExists(profileFileName));
    EXPECT_EQ(busy, 0);
}

TEST_F(AdvancedPageTest, AddLandsAtTheFirstFreeEntry)
{
    // Entry 2 was freed by an earlier Remove; its row is placed by its index.
    seed(0, "AAAA-0000", {2, 0, 0, 0, 0, 1});
    seed(1, "BBBB-1111", {2, 0, 0, 0, 0, 2});
    seed(3, "DDDD-3333", {2, 0, 0, 0, 0, 4});
    page->fillDevicePasswordList();

    deviceEdit->setText(QString::fromLatin1(neighbourFourPassword));
    click(addButton);

    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(column(0), (QStringList{"AAAA-0000", "BBBB-1111", neighbourFourPassword, "DDDD-3333"}));
    // Only the device that really exists takes the key.
    EXPECT_EQ(column(1), (QStringList{statusFail, statusFail, statusOk, statusFail}));
    EXPECT_EQ(std::memcmp(profiles[0].devicePasswords[2].remoteMac, neighbourFour.data(), 6), 0);
    EXPECT_EQ(busy, 0);
}

TEST_F(AdvancedPageTest, FullListRefusesBeforeAnyExchange)
{
    for (int i = 0; i < devicePasswordsPerProfile; ++i) {
        char password[16];
        std::snprintf(password, sizeof password, "DEV-%02d-PASS", i);
        seed(i, password, {2, 0, 0, 0, 1, static_cast<uint8_t>(i)});
    }
    page->fillDevicePasswordList();
    DevicePasswordEntry before[devicePasswordsPerProfile];
    std::memcpy(before, profiles[0].devicePasswords, sizeof before);

    deviceEdit->setText(QString::fromLatin1(neighbourFourPassword));
    click(addButton);

    expectOnlyBox(listFullCaption, listFullText);
    EXPECT_TRUE(zsim::sentFrames().empty());
    EXPECT_EQ(std::memcmp(before, profiles[0].devicePasswords, sizeof before), 0);
    EXPECT_EQ(list->topLevelItemCount(), devicePasswordsPerProfile);
    EXPECT_EQ(deviceEdit->text(), QString::fromLatin1(neighbourFourPassword));
    EXPECT_EQ(busy, 0);
}

TEST_F(AdvancedPageTest, ListFollowsTheSelectedProfile)
{
    EXPECT_EQ(advancedPageWindow, page.get());
    seed(0, "AAAA-0000", {2, 0, 0, 0, 0, 1});
    seed(3, "DDDD-3333", {2, 0, 0, 0, 0, 4});
    std::strcpy(profiles[1].devicePasswords[5].password, "OTHER-ADAPTER");
    fillDevicePasswordList();
    EXPECT_EQ(column(0), (QStringList{"AAAA-0000", "DDDD-3333"}));
    EXPECT_EQ(column(1), (QStringList{QString(), QString()}));

    selectedAdapter = 1;
    fillDevicePasswordList();
    EXPECT_EQ(column(0), QStringList{"OTHER-ADAPTER"});
    selectedAdapter = 0;

    page.reset();
    EXPECT_EQ(advancedPageWindow, nullptr);
    fillDevicePasswordList();  // no window: nothing to draw
}

}  // namespace
