#pragma once
// brennic's first stage, without Qt: it refuses privilege, takes the
// single-instance lock and sets the session's start going before the toolkit
// is loaded, so that loading Qt overlaps the probe windows instead of
// preceding them.

// Makes the application and runs the sheet; in the program it lives in the
// window module, which links Qt.
using SheetMain = int (*)(int argc, char** argv);

// The monitor held until the start, the single-instance rule, the session's
// early start and the link history, then `sheet`; 0 at once when another copy runs.
int runBrennic(int argc, char** argv, SheetMain sheet);

// Loads the window module `name` (beside the program, else `installed`) and
// runs its entry `entryName`; 1 with a line on stderr, the early start
// abandoned, when it cannot be loaded.
int runModule(const char* name, const char* installed, const char* entryName, int argc, char** argv);
// brennic's own window module and its sheet.
int runSheetModule(int argc, char** argv);
