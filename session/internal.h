#pragma once
// What the session's own files share; nothing outside session/ includes it.
#include "keys/password.h"
#include "session/boxes.h"

#include <string_view>

namespace session {

// A field's text as the rules see it; false when it cannot be a password at all.
bool passwordText(std::string_view text, char out[passwordFieldSize]);
// Work the helper could not have done is not reported as done: true, with the
// linkLost box, once it has gone.
bool noteLinkLost(Outcome& outcome);
// Saved only while every save of the workflow so far has been; never once the
// helper has gone, since the keys the file would hold were not all sent.
void saveInto(Outcome& outcome);

// The selected adapter's block from discovery as the reference, until the monitor reads it again.
void seedReferenceBlock();
// The monitor's view set to the session's own, and a scan begun.
void startScan();

// Each file's share of resetSessionState.
void resetStartState();
void resetScanState();
void resetRecordingState();  // the history closed, its clock the system's

}  // namespace session
