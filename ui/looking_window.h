#pragma once
// The small window that says the devices are still being looked for, for a
// start-up whose discovery takes longer than half a second.
class QWidget;

constexpr const char* lookingText = "Looking for powerline adapters\u2026";

// The session's slow-start hook: shows the window and paints it once, since
// discovery holds the thread until it ends.
void showLookingWindow();
// Gone before the sheet or a box appears.
void closeLookingWindow();
// The window while it is shown, else null.
QWidget* lookingWindow();
