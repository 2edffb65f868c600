#pragma once
// What the pages of the sheet share: their windows (null until a page has been
// shown for the first time), the redraws one page asks of another, the common
// answer to the sheet being cancelled, message boxes and dialog-unit geometry.
#include <QRect>
#include <QString>

#include <functional>

class QWidget;
class DevicePage;
class NetworkPage;
class SecurityPage;
class AdvancedPage;
class ScanDialog;

extern DevicePage* devicePageWindow;
extern NetworkPage* networkPageWindow;
extern AdvancedPage* advancedPageWindow;
extern ScanDialog* scanDialogWindow;

// Redraws the Advanced page's list for the selected profile; nothing while it has no window.
void fillDevicePasswordList();
// Empties the Network page's station list; nothing while it has no window.
void clearNetworkList();
// Every page's answer to the sheet being cancelled: the first one closes the adapters.
void endSessionOnReset();

// Modal box with the error icon and an OK button. Tests replace the box with
// a hook so that nothing blocks.
using ErrorBoxHook = std::function<void(QWidget* owner, const QString& caption, const QString& text)>;
void showErrorBox(QWidget* owner, const QString& caption, const QString& text);
void setErrorBoxHook(ErrorBoxHook hook);

// Dialog units at the base units of MS Sans Serif 8 pt.
constexpr int dluX(int x) { return x * 6 / 4; }
constexpr int dluY(int y) { return y * 13 / 8; }
inline QRect dluRect(int x, int y, int w, int h) { return {dluX(x), dluY(y), dluX(w), dluY(h)}; }
