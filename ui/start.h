#pragma once
// brennic's first stage, without Qt: it refuses privilege, takes the
// single-instance lock and sets the session's start going before the toolkit
// is loaded, so that loading Qt overlaps the probe windows instead of
// preceding them.

// Makes the application and runs the sheet; in the program it lives in the
// window module, which links Qt.
using SheetMain = int (*)(int argc, char** argv);

// busy, the single-instance rule, the session's early start and the link
// history, then `sheet`; 0 at once when another copy runs.
int runBrennic(int argc, char** argv, SheetMain sheet);

// Loads the window module (beside the program, else where it is installed)
// and runs its sheet; 1 with a line on stderr when it cannot be loaded.
int runSheetModule(int argc, char** argv);
