#include "ui/looking_window.h"

#include "ui/common.h"
#include "ui/shell.h"
#include "ui/text_fit.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace {
QWidget* window = nullptr;
}

void showLookingWindow()
{
    if (window)
        return;
    window = new QWidget(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    window->setObjectName(QStringLiteral("lookingWindow"));
    window->setWindowTitle(QString::fromLatin1(sheetCaption));
    window->setFont(dialogFont());
    auto* text = new QLabel(QString::fromUtf8(lookingText), window);
    placeText(text, dluRect(12, 12, 120, 8));
    window->setFixedSize(text->geometry().right() + dluX(12), dluY(32));
    if (QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->show();
    // Nothing else runs yet: this only maps and paints the window.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void closeLookingWindow()
{
    delete window;
    window = nullptr;
}

QWidget* lookingWindow() { return window; }
