#include "ui/common.h"

#include "link/link.h"
#include "link/session.h"

#include <QMessageBox>

DevicePage* devicePageWindow = nullptr;
NetworkPage* networkPageWindow = nullptr;
AdvancedPage* advancedPageWindow = nullptr;
ScanDialog* scanDialogWindow = nullptr;

namespace {
ErrorBoxHook errorBoxHook;
}

void endSessionOnReset()
{
    if (sessionOpen) {
        closeAdapters();
        sessionOpen = 0;
    }
}

void showErrorBox(QWidget* owner, const QString& caption, const QString& text)
{
    if (errorBoxHook) {
        errorBoxHook(owner, caption, text);
        return;
    }
    // A box opens centred on its owner's window; before the sheet is on the
    // screen that window has no place yet, and the box would open in a corner.
    // It opens centred on the screen instead.
    QWidget* parent = owner && owner->window()->isVisible() ? owner : nullptr;
    QMessageBox::critical(parent, caption, text, QMessageBox::Ok);
}

void setErrorBoxHook(ErrorBoxHook hook) { errorBoxHook = std::move(hook); }
