#include "ui/shell.h"

#include "session/session.h"
#include "ui/about_page.h"
#include "ui/advanced_page.h"
#include "ui/common.h"
#include "ui/degradation_notifier.h"
#include "ui/device_page.h"
#include "ui/looking_window.h"
#include "ui/network_page.h"
#include "ui/qt_timers.h"
#include "ui/security_page.h"
#include "ui/windows.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace {
std::function<void(int)> exitHook;
QString pinnedFamily;
UiMonitorView monitorView;

const char* const tabCaptions[pageCount] = {"Device", "Network", "Security", "Advanced", "About"};
}  // namespace

QFont dialogFont()
{
    // The layouts are in dialog units of an 8-point face about 6 pixels wide a
    // character: take a face of that width where one is installed.
    static const char* const narrowFaces[] = {"Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans Condensed"};
    QFont face = QApplication::font();
    const QStringList installed = QFontDatabase::families();
    if (!pinnedFamily.isEmpty()) {
        face.setFamily(pinnedFamily);
        face.setPixelSize(11);
        return face;
    }
    for (const char* name : narrowFaces) {
        if (installed.contains(QString::fromLatin1(name))) {
            face.setFamily(QString::fromLatin1(name));
            break;
        }
    }
    face.setPixelSize(11);
    return face;
}

void setDialogFamily(const QString& family) { pinnedFamily = family; }

void setExitHook(std::function<void(int code)> hook) { exitHook = std::move(hook); }

void endProgram(int code)
{
    if (exitHook) {
        exitHook(code);
        return;
    }
    std::fflush(nullptr);
    std::exit(code);
}

PropertySheet::PropertySheet(QWidget* parent)
    : QDialog(parent), tabs_(new QTabWidget(this)),
      buttons_(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setObjectName(QStringLiteral("sheet"));
    setWindowTitle(QString::fromLatin1(sheetCaption));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setModal(true);
    setFont(dialogFont());

    tabs_->setObjectName(QStringLiteral("tabs"));
    buttons_->setObjectName(QStringLiteral("buttons"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(buttons_);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    for (int i = 0; i < pageCount; ++i) {
        auto* holder = new QWidget;
        holder->setObjectName(QStringLiteral("tab%1").arg(i));
        holder->setFixedSize(dluX(295), dluY(220));
        holders_[static_cast<size_t>(i)] = holder;
        tabs_->addTab(holder, QString::fromLatin1(tabCaptions[i]));
    }

    // While brennic runs, a degraded link is a desktop notification.
    (new DegradationNotifier(this))->startChecking();
    session::setView(&monitorView);
    session::setSlowStartHook(showLookingWindow);
    // The start page exists from the outset and starts the session.
    createPage(devicePageIndex);
    // The others are made when their tab is first selected.
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) {
        if (index < 0)
            return;
        if (!pages_[static_cast<size_t>(index)])
            createPage(index);
        // Becoming current shows the stored password again; typed text is dropped.
        if (index == securityPageIndex)
            static_cast<SecurityPage*>(pages_[static_cast<size_t>(index)])->activate();
        else if (index == advancedPageIndex)
            static_cast<AdvancedPage*>(pages_[static_cast<size_t>(index)])->activate();
    });
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &PropertySheet::reject);
}

PropertySheet::~PropertySheet()
{
    session::setView(nullptr);
    session::setSlowStartHook(nullptr);
}

void PropertySheet::createPage(int index)
{
    QWidget* holder = holders_[static_cast<size_t>(index)];
    QWidget* page = nullptr;
    switch (index) {
    case devicePageIndex: page = new DevicePage(holder); break;
    case networkPageIndex: page = new NetworkPage(holder); break;
    case securityPageIndex: page = new SecurityPage(holder); break;
    case advancedPageIndex: page = new AdvancedPage(holder); break;
    case aboutPageIndex: page = new AboutPage(holder); break;
    default: return;
    }
    pages_[static_cast<size_t>(index)] = page;
    page->show();
}

void PropertySheet::reject()
{
    // The Device page exists from the sheet's start: the session is always there to end.
    session::end();
    QDialog::reject();
}

int runSheet()
{
    QtTimerBackend timers;
    platform::setTimerBackend(&timers);
    {
        PropertySheet sheet;
        sheet.exec();
    }
    platform::setTimerBackend(nullptr);
    return 0;
}

int brennicSheetMain(int argc, char** argv)
{
    // The program takes no command line; Qt gets its name and nothing else.
    static char fallbackName[] = "brennic";
    static char* qtArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    static int qtArgc = 1;
    QApplication app(qtArgc, qtArgv);
    // Wayland shells find the window's icon through its desktop entry.
    QGuiApplication::setDesktopFileName(QStringLiteral("brennic"));
    return runSheet();
}
