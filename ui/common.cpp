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
    QMessageBox::critical(owner, caption, text, QMessageBox::Ok);
}

void setErrorBoxHook(ErrorBoxHook hook) { errorBoxHook = std::move(hook); }
