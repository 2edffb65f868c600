#pragma once
// Process-wide session flags, shared by every subsystem above the link.
// selectedAdapter picks both the adapter entry and its profile.
extern int selectedAdapter;  // 0 to 15
extern int busy;             // nonzero: the monitor tick stays idle
extern int sessionOpen;      // 1 from a successful session start until the sheet is cancelled

// Closes the adapters and puts the link's tables and these flags back as a fresh process has them.
void resetLinkState();
