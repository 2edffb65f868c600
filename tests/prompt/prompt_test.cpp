#include <QApplication>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

#include "prompt/form1.h"
#include "prompt/version.h"

namespace {

// One QApplication for the whole run, gone before the statics are: a static
// QApplication outlives parts of Qt and crashes at exit.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app = new QApplication(argc, argv);
    }
    void TearDown() override
    {
        delete app;
        app = nullptr;
    }

private:
    int argc = 1;
    char name[12] = "prompt_test";
    char* argv[2] = {name, nullptr};
    QApplication* app = nullptr;
};

[[maybe_unused]] auto* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

template <typename T>
T* control(const QWidget& form, const char* name)
{
    return form.findChild<T*>(QString::fromLatin1(name));
}

// Runs the event loop until the program is asked to end; -1 if it is not within 5 s.
int runUntilEnd(const std::function<void()>& action)
{
    QTimer::singleShot(0, action);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    watchdog.start(5000);
    return QApplication::exec();
}

using PromptTest = ::testing::Test;

TEST_F(PromptTest, FormCaptionAndContentArea)
{
    prompt::Form1 form;
    EXPECT_EQ(form.objectName(), "Form1");
    EXPECT_EQ(form.windowTitle(), "Veltaro RLA-7070 Utilities - Connect Hardware");
    // 7545 x 5295 twips, fixed: the controls' 5175 and a margin below the button.
    EXPECT_EQ(form.size(), QSize(503, 353));
    EXPECT_EQ(form.minimumSize(), QSize(503, 353));
    EXPECT_EQ(form.maximumSize(), QSize(503, 353));
    EXPECT_TRUE(form.isWindow());
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_FALSE(form.windowIcon().pixmap(32, 32).isNull());
}

TEST_F(PromptTest, ControlsSitWhereTheTwipsPlaceThem)
{
    struct Placement {
        const char* name;
        int left, top, width, height;  // twips
    };
    const Placement table[] = {
        {"Image2", 0, 0, 7545, 930},        {"Image1", 0, 1920, 4110, 2310},  {"Label1", 4320, 2160, 2535, 615},
        {"Label2", 4320, 3000, 2535, 1155}, {"Frame1", 120, 4560, 7095, 135}, {"Command1", 5880, 4800, 1335, 375},
    };
    prompt::Form1 form;
    for (const auto& p : table) {
        SCOPED_TRACE(p.name);
        auto* w = control<QWidget>(form, p.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), QRect(p.left / 15, p.top / 15, p.width / 15, p.height / 15));
    }
    // In pixels, for the record: banner 503x62 at 0,0; OK 89x25 at 392,320.
    EXPECT_EQ(control<QWidget>(form, "Image2")->geometry(), QRect(0, 0, 503, 62));
    EXPECT_EQ(control<QWidget>(form, "Command1")->geometry(), QRect(392, 320, 89, 25));
    // The button keeps the form's margin from the bottom edge, as Frame1 does from the left.
    const QRect ok = control<QWidget>(form, "Command1")->geometry();
    EXPECT_EQ(form.height() - (ok.bottom() + 1), control<QWidget>(form, "Frame1")->x());
    // Nothing else on the form.
    EXPECT_EQ(form.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), 6);
}

TEST_F(PromptTest, TextsWordForWord)
{
    prompt::Form1 form;
    EXPECT_EQ(control<QLabel>(form, "Label1")->text(),
              "To complete the installation of your RLA-7070 USB adapter plug it into an USB port "
              "on your PC now.");
    EXPECT_EQ(control<QLabel>(form, "Label2")->text(),
              "If this is the first time this adapter has been installed, the Windows Found New "
              "Hardware Wizard will launch.  Complete the wizard and press the OK button below "
              "when finished.");
    EXPECT_TRUE(control<QLabel>(form, "Label2")->text().contains("launch.  Complete"));
    EXPECT_EQ(control<QPushButton>(form, "Command1")->text(), "OK");
    EXPECT_EQ(control<QLabel>(form, "Label1")->textFormat(), Qt::AutoText);
}

TEST_F(PromptTest, LabelsUseTahomaAndShowTheirWholeText)
{
    prompt::Form1 form;
    form.show();
    for (const char* name : {"Label1", "Label2"}) {
        SCOPED_TRACE(name);
        auto* label = control<QLabel>(form, name);
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->font().family(), "Tahoma");
        EXPECT_LE(label->font().pointSizeF(), 8.0);
        EXPECT_GE(label->font().pointSizeF(), 6.0);
        EXPECT_TRUE(label->wordWrap());
        EXPECT_EQ(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
        // The wrapped text falls inside the fixed box: no line is cut off.
        const QRect box = label->contentsRect();
        const QRect used =
            label->fontMetrics().boundingRect(QRect(box.left(), box.top(), box.width(), 100000),
                                              Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, label->text());
        EXPECT_LE(used.height(), box.height());
        EXPECT_LE(used.width(), box.width());
        EXPECT_GT(used.height(), label->fontMetrics().lineSpacing());  // it does wrap
    }
    EXPECT_EQ(control<QLabel>(form, "Label1")->font(), control<QLabel>(form, "Label2")->font());
}

TEST_F(PromptTest, PicturesAreTheBitmapsOfTheirSize)
{
    prompt::Form1 form;
    struct Picture {
        const char* name;
        QSize size;
    };
    for (const auto& p : {Picture{"Image2", {499, 58}}, Picture{"Image1", {270, 150}}}) {
        SCOPED_TRACE(p.name);
        auto* label = control<QLabel>(form, p.name);
        ASSERT_NE(label, nullptr);
        const QPixmap pixmap = label->pixmap();
        ASSERT_FALSE(pixmap.isNull());
        EXPECT_EQ(pixmap.size(), p.size);
        // 24 bits per pixel: colour, no alpha.
        EXPECT_FALSE(pixmap.hasAlphaChannel());
        EXPECT_FALSE(pixmap.toImage().isGrayscale());
        EXPECT_FALSE(label->hasScaledContents());
        EXPECT_EQ(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
    }
}

TEST_F(PromptTest, Frame1IsAnEtchedLine)
{
    prompt::Form1 form;
    auto* frame = control<QFrame>(form, "Frame1");
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->frameShape(), QFrame::HLine);
    EXPECT_EQ(frame->frameShadow(), QFrame::Sunken);
}

TEST_F(PromptTest, OkClosesTheFormAndAsksToEnd)
{
    prompt::Form1 form;
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QSignalSpy ended(&form, &prompt::Form1::endRequested);
    // No adapter is plugged in: OK ends all the same.
    QTest::mouseClick(control<QPushButton>(form, "Command1"), Qt::LeftButton);
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(PromptTest, OkEndsTheEventLoopWithExitCodeZero)
{
    prompt::Form1 form;
    form.show();
    QSignalSpy ended(&form, &prompt::Form1::endRequested);
    const int code = runUntilEnd([&] { QTest::mouseClick(control<QPushButton>(form, "Command1"), Qt::LeftButton); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(PromptTest, CloseBoxEndsTheProgram)
{
    ASSERT_TRUE(QGuiApplication::quitOnLastWindowClosed());
    prompt::Form1 form;
    form.show();
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
    // What the title bar's close box does: a close event to the only form.
    const int code = runUntilEnd([&] { form.close(); });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(lastClosed.count(), 1);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(PromptTest, VersionRecord)
{
    EXPECT_STREQ(prompt::productName, "pelmora");
    EXPECT_STREQ(prompt::productVersion, "1.00");
}

TEST_F(PromptTest, ProgramShowsTheFormAndWaitsForTheUser)
{
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QString::fromLocal8Bit(PELMORA_PATH), {});
    ASSERT_TRUE(program.waitForStarted(5000));
    // No input, no hardware check: it stays up until OK or the close box.
    EXPECT_FALSE(program.waitForFinished(1000));
    EXPECT_EQ(program.state(), QProcess::Running);
    program.kill();
    program.waitForFinished(5000);
}

}  // namespace
