#include "ui/common.h"

#include "ui/history_window.h"
#include "ui/shell.h"

#include <QMessageBox>

namespace {
ErrorBoxHook errorBoxHook;
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

void resetUiState()
{
    errorBoxHook = nullptr;
    setExitHook(nullptr);
    HistoryWindow::setClock(nullptr);
    HistoryWindow::setDatabasePath({});
}

void setErrorBoxHook(ErrorBoxHook hook) { errorBoxHook = std::move(hook); }

bool showOutcomeBox(QWidget* owner, const session::Outcome& outcome)
{
    if (outcome.box == session::Box::none)
        return false;
    showErrorBox(owner, QString::fromLatin1(session::boxCaption(outcome.box)),
                 QString::fromLocal8Bit(session::boxMessage(outcome.box, outcome.saveError).c_str()));
    return true;
}
