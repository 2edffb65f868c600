#pragma once
// What a window lets the window manager offer around it.
class QWidget;

// Asks the window manager for a title bar that only moves the window: no
// system menu, no minimise, maximise or close. Qt's window flags cannot say
// "move only" to an X window manager (its hints grant every function unless a
// button is asked for), so on X this sets the Motif hints itself. Window
// managers that ignore the hints still draw their buttons; the window must
// then answer them itself.
void allowMoveOnly(QWidget* window);
