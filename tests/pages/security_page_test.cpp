#include "support/sim_sheet.h"
#include "ui/security_page.h"

#include "support/scratch.h"
#include "ui/common.h"
#include "frames/frame.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "link/flags.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

using namespace mme;
using namespace simsystem;

namespace {

class SecurityPageTest : public simsystem::SimSheetTest {
protected:
    void SetUp() override
    {
        SimSheetTest::SetUp();
        startHome();
        if (HasFatalFailure())
            return;
        page = std::make_unique<SecurityPage>();
        page->show();
        edit = page->findChild<QLineEdit*>(QStringLiteral("networkPasswordEdit"));
        setLocalButton = page->findChild<QPushButton*>(QStringLiteral("setLocalButton"));
        restoreButton = page->findChild<QPushButton*>(QStringLiteral("restoreDefaultButton"));
        ASSERT_TRUE(edit && setLocalButton && restoreButton);
    }
    void TearDown() override
    {
        page.reset();
        SimSheetTest::TearDown();
    }

    void typeInto(const QString& text)
    {
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    // The one SetKeyFrame that Set Local sends carries this key.
    void expectKeySent(const Key& key)
    {
        std::vector<zsim::SentFrame> frames = setKeyFrames();
        ASSERT_EQ(frames.size(), 1u);
        const std::vector<uint8_t>& f = frames[0].bytes;
        EXPECT_TRUE(isBroadcast(f.data() + offDestination));
        EXPECT_EQ(std::memcmp(f.data() + offSource, adapters[0].ownMac, macSize), 0);
        EXPECT_EQ(f[offEntryCount], 2);  // key and control entry
        EXPECT_EQ(f[offKeySelect], 1);
        EXPECT_EQ(std::memcmp(f.data() + offKey, key.data(), keySize), 0);
        EXPECT_EQ(f[offControlEntry], typeControl);
        EXPECT_EQ(f[offControlMark] & controlMarkProvisional, 0);
        EXPECT_EQ(f[offControlValue], 0x01);
    }

    std::unique_ptr<SecurityPage> page;
    QLineEdit* edit = nullptr;
    QPushButton* setLocalButton = nullptr;
    QPushButton* restoreButton = nullptr;
};

TEST_F(SecurityPageTest, RefusedPasswordsChangeNothing)
{
    const QString refused[] = {
        QString(),
        QStringLiteral("abc"),
        QString(25, QLatin1Char('A')),
        QStringLiteral("tab\there"),
        QStringLiteral("caf\u00e9-password"),  // one character outside ASCII
        QStringLiteral("price\u20ac-1234"),    // one that Latin-1 would turn into '?'
    };
    ASSERT_TRUE(edit->text() == QStringLiteral("TideWell"));
    const Key before = localDevice().key1;
    const int second = monitorSecond;

    for (const QString& text : refused) {
        SCOPED_TRACE(text.toStdString());
        boxes.clear();
        zsim::clearSent();
        edit->setText(text);
        QTest::mouseClick(setLocalButton, Qt::LeftButton);

        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].owner, page.get());
        EXPECT_EQ(boxes[0].caption, QStringLiteral("Invalid Password Entry"));
        EXPECT_EQ(boxes[0].text,
                  QStringLiteral("The Network Password Entered is Invalid.\nPlease Enter a Valid Network Password"));
        EXPECT_TRUE(zsim::sentFrames().empty());
        EXPECT_STREQ(profiles[0].networkPassword, "TideWell");
        EXPECT_FALSE(fileExists(profileFileName));
        EXPECT_EQ(localDevice().key1, before);
        EXPECT_EQ(monitorSecond, second);
        EXPECT_EQ(edit->text(), text);
        EXPECT_EQ(busy, 0);
    }
}

TEST_F(SecurityPageTest, SetLocalSendsTheDerivedKeyAndSaves)
{
    const std::string full = "Home net ~ 24 chars, ok!";
    ASSERT_EQ(full.size(), 24u);
    typeInto(QString::fromStdString(full));
    ASSERT_GT(stationsInUse(), 0);
    QTest::mouseClick(setLocalButton, Qt::LeftButton);

    EXPECT_TRUE(boxes.empty());
    EXPECT_STREQ(profiles[0].networkPassword, full.c_str());
    const Key key = derivedKey(full.c_str());
    expectKeySent(key);
    EXPECT_EQ(localDevice().key1, key);
    // The device mirrored the key and the confirmation found it.
    EXPECT_TRUE(sentParamQuery());
    EXPECT_EQ(fileText("plc.log").find("**SETNEK**"), std::string::npos);
    EXPECT_STREQ(savedProfile(0).networkPassword, full.c_str());
    // A background scan: the stations start over from second 15.
    EXPECT_EQ(monitorSecond, 15);
    EXPECT_EQ(monitorTicks, 0);
    EXPECT_EQ(stationsInUse(), 0);
    EXPECT_EQ(busy, 0);
}

TEST_F(SecurityPageTest, RestoreDefaultReturnsToTideWell)
{
    typeInto(QStringLiteral("Private-Net-42"));
    QTest::mouseClick(setLocalButton, Qt::LeftButton);
    ASSERT_EQ(localDevice().key1, derivedKey("Private-Net-42"));
    // Leftovers behind the NUL must not survive the restore.
    std::memset(profiles[0].networkPassword, 'x', sizeof profiles[0].networkPassword);
    zsim::clearSent();

    QTest::mouseClick(restoreButton, Qt::LeftButton);

    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(edit->text(), QStringLiteral("TideWell"));
    const char expected[25] = "TideWell";
    EXPECT_EQ(std::memcmp(profiles[0].networkPassword, expected, sizeof expected), 0);
    EXPECT_STREQ(savedProfile(0).networkPassword, "TideWell");
    expectKeySent(derivedKey("TideWell"));
    EXPECT_EQ(localDevice().key1, derivedKey("TideWell"));
    EXPECT_EQ(fileText("plc.log").find("**SETNEK**"), std::string::npos);
    EXPECT_EQ(busy, 0);
}

TEST_F(SecurityPageTest, AFailedSaveShowsABoxWithTheReasonAndKeepsTheKeySent)
{
    scratch::Directory dir("brennic-page-readonly");
    ASSERT_TRUE(dir.ok());
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    const Key key = derivedKey("Private-Net-42");

    // Root writes anywhere: the child turns into nobody first.
    scratch::ChildResult r = scratch::runChild([&] {
        if (!scratch::dropPrivileges() || chdir(dir.path().c_str()) != 0)
            return 10;
        typeInto(QStringLiteral("Private-Net-42"));
        QTest::mouseClick(setLocalButton, Qt::LeftButton);
        if (localDevice().key1 != key || setKeyFrames().size() != 1)
            return 11;  // the key went out all the same
        if (boxes.size() != 1 || boxes[0].owner != page.get() ||
            boxes[0].caption != QString::fromLatin1(session::saveFailedCaption))
            return 12;
        if (!boxes[0].text.startsWith(QString::fromLatin1(session::saveFailedText)) ||
            !boxes[0].text.endsWith(QString::fromLocal8Bit(std::strerror(EACCES))))
            return 13;
        return busy == 0 ? 0 : 14;
    });
    EXPECT_TRUE(r.exited(0)) << "status " << r.status << ", stderr: " << r.errorText;
}

TEST_F(SecurityPageTest, ActivateShowsTheStoredPasswordOfTheSelectedProfile)
{
    typeInto(QStringLiteral("typed, never set"));
    page->activate();
    EXPECT_EQ(edit->text(), QStringLiteral("TideWell"));

    std::strcpy(profiles[1].networkPassword, "Second-Adapter");
    selectedAdapter = 1;
    page->activate();
    EXPECT_EQ(edit->text(), QStringLiteral("Second-Adapter"));
    selectedAdapter = 0;

    // A damaged file can leave the field without its NUL: 24 characters at most.
    std::memset(profiles[0].networkPassword, 'Q', sizeof profiles[0].networkPassword);
    page->activate();
    EXPECT_EQ(edit->text(), QString(24, QLatin1Char('Q')));
    EXPECT_TRUE(zsim::sentFrames().empty());
}

}  // namespace
