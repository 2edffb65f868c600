#pragma once
// What the pages of the sheet share: the common answer to the sheet being
// cancelled, message boxes and dialog-unit geometry.
#include "session/session.h"

#include <QRect>
#include <QString>

#include <functional>

class QWidget;

// Modal box with the error icon and an OK button. Tests replace the box with
// a hook so that nothing blocks.
using ErrorBoxHook = std::function<void(QWidget* owner, const QString& caption, const QString& text)>;
void showErrorBox(QWidget* owner, const QString& caption, const QString& text);
void setErrorBoxHook(ErrorBoxHook hook);
// Puts the window module's process-wide state (the box and exit hooks, the
// history window's store and clock) back as a fresh process has it.
void resetUiState();
// The box a workflow called for, if any; false when there was none.
bool showOutcomeBox(QWidget* owner, const session::Outcome& outcome);

// Dialog units at the base units of an 8-point dialog face (6 x 13 pixels per 4 x 8 units).
constexpr int dluX(int x) { return x * 6 / 4; }
constexpr int dluY(int y) { return y * 13 / 8; }
inline QRect dluRect(int x, int y, int w, int h) { return {dluX(x), dluY(y), dluX(w), dluY(h)}; }
