#include "support/sim_sheet.h"

#include "link/flags.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "platform/simclock.h"
#include "platform/timers.h"
#include "ui/device_page.h"
#include "ui/network_page.h"
#include "ui/windows.h"
#include "zentrik/sim.h"

#include "ui/about_page.h"
#include "platform/instance.h"
#include "support/scratch.h"
#include "netstate/profiles.h"
#include "ui/qt_timers.h"
#include "ui/start.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

using namespace simsystem;
using SheetTest = SimSheetTest;

TEST_F(SheetTest, SheetHasFiveTabsOkCancelAndNoHelpButton)
{
    load("home.json");
    PropertySheet& s = open();
    EXPECT_EQ(s.windowTitle(), "Veltaro RLA-7070 Utility");
    EXPECT_FALSE(s.windowFlags().testFlag(Qt::WindowContextHelpButtonHint));
    auto* tabs = child<QTabWidget>("tabs");
    ASSERT_EQ(tabs->count(), 5);
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i)
        captions << tabs->tabText(i);
    EXPECT_EQ(captions, QStringList({"Device", "Network", "Security", "Advanced", "About"}));
    EXPECT_EQ(tabs->currentIndex(), devicePageIndex);

    auto* buttons = child<QDialogButtonBox>("buttons");
    EXPECT_EQ(buttons->standardButtons(), QDialogButtonBox::Ok | QDialogButtonBox::Cancel);

    // Only the start page exists until another tab is selected.
    EXPECT_NE(s.page(devicePageIndex), nullptr);
    for (int i = networkPageIndex; i < pageCount; ++i)
        EXPECT_EQ(s.page(i), nullptr) << i;
    EXPECT_EQ(networkPageWindow, nullptr);
    EXPECT_EQ(advancedPageWindow, nullptr);
    for (int i = networkPageIndex; i < pageCount; ++i) {
        tabs->setCurrentIndex(i);
        EXPECT_NE(s.page(i), nullptr) << i;
    }
    EXPECT_NE(networkPageWindow, nullptr);
    EXPECT_NE(advancedPageWindow, nullptr);
    // Selecting a tab again does not make its page anew.
    QWidget* network = s.page(networkPageIndex);
    tabs->setCurrentIndex(networkPageIndex);
    EXPECT_EQ(s.page(networkPageIndex), network);
}

TEST_F(SheetTest, EveryWayOfCancellingEndsTheSessionOnce)
{
    enum class Way { cancelButton, escape, closeBox };
    struct Case {
        Way way;
        int currentTab;
        bool visitNetwork;
    };
    const Case cases[] = {
        {Way::cancelButton, devicePageIndex, false}, {Way::cancelButton, aboutPageIndex, false},
        {Way::escape, networkPageIndex, true},       {Way::closeBox, advancedPageIndex, true},
        {Way::escape, securityPageIndex, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "way " << static_cast<int>(c.way) << " tab " << c.currentTab);
        sheet.reset();
        zsim::reset();
        network.clear();
        load("home.json");
        PropertySheet& s = open();
        auto* tabs = child<QTabWidget>("tabs");
        if (c.visitNetwork)
            tabs->setCurrentIndex(networkPageIndex);
        tabs->setCurrentIndex(c.currentTab);
        EXPECT_EQ(networkPageWindow != nullptr, c.visitNetwork || c.currentTab == networkPageIndex);
        ASSERT_EQ(sessionOpen, 1);
        ASSERT_EQ(zsim::openHandleCount(), 1);
        s.show();
        switch (c.way) {
        case Way::cancelButton: child<QDialogButtonBox>("buttons")->button(QDialogButtonBox::Cancel)->click(); break;
        case Way::escape: QTest::keyClick(&s, Qt::Key_Escape); break;
        case Way::closeBox: s.close(); break;
        }
        EXPECT_EQ(s.result(), QDialog::Rejected);
        EXPECT_FALSE(s.isVisible());
        EXPECT_EQ(sessionOpen, 0);
        EXPECT_EQ(zsim::openHandleCount(), 0);
        EXPECT_EQ(adapterCount, 0);
    }
}

TEST_F(SheetTest, OkClosesWithoutEndingTheSession)
{
    load("home.json");
    PropertySheet& s = open();
    child<QTabWidget>("tabs")->setCurrentIndex(networkPageIndex);
    s.show();
    child<QDialogButtonBox>("buttons")->button(QDialogButtonBox::Ok)->click();
    EXPECT_EQ(s.result(), QDialog::Accepted);
    EXPECT_EQ(sessionOpen, 1);
    EXPECT_EQ(zsim::openHandleCount(), 1);
}

TEST_F(SheetTest, SwitchingTabsDiscardsTypedPasswords)
{
    load("home.json");
    open();
    auto* tabs = child<QTabWidget>("tabs");
    struct Case {
        int page;
        const char* edit;
    } cases[] = {{securityPageIndex, "networkPasswordEdit"}, {advancedPageIndex, "networkPasswordEdit"}};
    for (const Case& c : cases) {
        tabs->setCurrentIndex(c.page);
        auto* edit = tabs->widget(c.page)->findChild<QLineEdit*>(c.edit);
        ASSERT_NE(edit, nullptr) << c.page;
        EXPECT_EQ(edit->text(), "TideWell") << c.page;
        edit->setText("typed but never set");
        tabs->setCurrentIndex(devicePageIndex);
        // A password changed elsewhere meanwhile shows up too.
        std::strcpy(profiles[selectedAdapter].networkPassword, "Changed-Elsewhere");
        tabs->setCurrentIndex(c.page);
        EXPECT_EQ(edit->text(), "Changed-Elsewhere") << c.page;
        std::strcpy(profiles[selectedAdapter].networkPassword, "TideWell");
    }
}

TEST_F(SheetTest, AboutPageShowsNameAndVersion)
{
    load("home.json");
    open();
    child<QTabWidget>("tabs")->setCurrentIndex(aboutPageIndex);
    auto* about = child<AboutPage>("aboutPage");
    ASSERT_NE(about, nullptr);
    QStringList texts;
    for (QLabel* l : about->findChildren<QLabel*>())
        texts << l->text();
    texts.sort();
    EXPECT_EQ(texts, QStringList({"Veltaro RLA-7070 Utility", "Version:", "v.2.0.0.00"}));
    auto* group = about->findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->title(), "Version");
    EXPECT_EQ(group->geometry(), dluRect(49, 82, 192, 40));
    // At its place, never narrower than the layout gives it.
    QRect product = about->findChild<QLabel*>("productText")->geometry();
    EXPECT_EQ(product.topLeft(), dluRect(58, 66, 152, 8).topLeft());
    EXPECT_GE(product.width(), dluX(152));
    // No web link on the page.
    EXPECT_TRUE(about->findChildren<QAbstractButton*>().isEmpty());

    // "Version:" and its value stand on one baseline, though the layout gives
    // the first a taller rectangle: the lowest drawn row of each, on the page.
    auto baseline = [about](const char* text) {
        for (QLabel* l : about->findChildren<QLabel*>()) {
            if (l->text() != QLatin1String(text))
                continue;
            QImage image = l->grab().toImage();
            for (int y = image.height() - 1; y >= 0; --y)
                for (int x = 0; x < image.width(); ++x)
                    if (qGray(image.pixel(x, y)) < 128)
                        return l->y() + y;
        }
        return -1;
    };
    int label = baseline("Version:");
    EXPECT_GT(label, 0);
    EXPECT_EQ(label, baseline("v.2.0.0.00"));
}

// Every text that a label of the pages or of the scan dialog can show is
// measured in each face the sheet may be drawn with: nothing may be cut.
TEST_F(SheetTest, EveryLabelShowsEachOfItsTextsWhole)
{
    load("home.json");
    // Texts that a label shows besides the one it is made with.
    const QMap<QString, QStringList> alsoShown = {
        {QStringLiteral("statusText"),
         {QString::fromLatin1(analyzingText), QString::fromLatin1(refreshingText), QStringLiteral("Link Quality: Poor"),
          QStringLiteral("Link Quality: Fair"), QStringLiteral("Link Quality: Excellent")}},
    };
    // The faces a test machine falls back on, and whatever the usual choice is here.
    QStringList faces = {QString()};
    for (const char* name : {"DejaVu Sans", "DejaVu Sans Condensed", "Liberation Sans"})
        if (QFontDatabase::families().contains(QString::fromLatin1(name)))
            faces << QString::fromLatin1(name);
    ASSERT_GE(faces.size(), 2) << "no fallback face installed (scripts/setup installs them)";

    int measured = 0;
    for (const QString& face : faces) {
        SCOPED_TRACE(face.isEmpty() ? std::string("usual face") : face.toStdString());
        sheet.reset();
        closeAdapters();
        setDialogFamily(face);
        open();
        auto* tabs = child<QTabWidget>("tabs");
        for (int i = 0; i < pageCount; ++i)
            tabs->setCurrentIndex(i);
        ScanDialog dialog(sheet->page(networkPageIndex));

        // The dialog belongs to the Network page: its label is among the sheet's.
        ASSERT_EQ(dialog.findChildren<QLabel*>().size(), 1);
        for (QLabel* label : sheet->findChildren<QLabel*>()) {
            QStringList texts = alsoShown.value(label->objectName());
            texts.prepend(label->text());
            const QRect box = label->contentsRect();
            const QFontMetrics metrics(label->font());
            for (const QString& text : texts) {
                if (text.isEmpty())
                    continue;
                ++measured;
                int width = label->wordWrap() ? box.width() : metrics.horizontalAdvance(text);
                int height = label->wordWrap()
                                 ? metrics
                                       .boundingRect(box.x(), box.y(), box.width(), 1 << 20,
                                                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text)
                                       .height()
                                 : metrics.height();
                EXPECT_LE(width, box.width()) << text.toStdString();
                EXPECT_LE(height, box.height()) << text.toStdString();
            }
            // A label widened for its text still lies on its page.
            EXPECT_TRUE(label->parentWidget()->rect().contains(label->geometry())) << label->text().toStdString();
        }
    }
    setDialogFamily(QString());
    EXPECT_GE(measured, 20);
}

TEST(QtTimers, FireOnTheEventLoopUntilKilled)
{
    ensureApplication();
    static int fired;
    static TimerId self;
    fired = 0;
    QtTimerBackend timers;
    platform::setTimerBackend(&timers);
    // A one-shot the way scanTimeout is one: it kills its own timer.
    self = SetTimer(1, [] {
        ++fired;
        KillTimer(self);
    });
    ASSERT_NE(self, 0u);
    QTRY_COMPARE_WITH_TIMEOUT(fired, 1, 2000);
    QTest::qWait(20);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(KillTimer(self), 0);

    static int periodic;
    periodic = 0;
    TimerId id = SetTimer(1, [] { ++periodic; });
    QTRY_VERIFY_WITH_TIMEOUT(periodic >= 3, 2000);
    EXPECT_EQ(KillTimer(id), 1);
    int stopped = periodic;
    QTest::qWait(20);
    EXPECT_EQ(periodic, stopped);
    platform::setTimerBackend(nullptr);
}

TEST(SingleInstance, SecondCopyEndsAtOnceAndTheNextStartRuns)
{
    ensureApplication();
    // Locks of this test only, in its scratch directory.
    char dir[4096];
    ASSERT_NE(getcwd(dir, sizeof dir), nullptr);
    setenv("XDG_RUNTIME_DIR", dir, 1);

    // The first copy, in a child that holds the lock until released.
    scratch::Holder first([] { return platform::acquireInstanceLock("brennic") == platform::InstanceLock::taken; });
    ASSERT_TRUE(first.took);

    // Another copy, in a process of its own: it ends with 0 and shows nothing.
    scratch::ChildResult second = scratch::runChild([] {
        char name[] = "brennic";
        char* argv[] = {name, nullptr};
        busy.catchUpAndSet(false);
        int rc = runBrennic(1, argv, brennicSheetMain);
        return rc == 0 && busy == 1 ? 0 : 3;
    });
    ASSERT_TRUE(WIFEXITED(second.status)) << second.errorText;
    EXPECT_EQ(WEXITSTATUS(second.status), 0) << second.errorText;

    // The same early path in this process: no window is made.
    int windowsBefore = QApplication::topLevelWidgets().size();
    char name[] = "brennic";
    char* argv[] = {name, nullptr};
    busy.catchUpAndSet(false);
    EXPECT_EQ(runBrennic(1, argv, brennicSheetMain), 0);
    EXPECT_EQ(busy, 1);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);

    // Once the first copy has ended, a new start gets the lock.
    ASSERT_TRUE(first.release());
    scratch::Holder next([] { return platform::acquireInstanceLock("brennic") == platform::InstanceLock::taken; });
    EXPECT_TRUE(next.took);
    next.release();
    unsetenv("XDG_RUNTIME_DIR");
}
