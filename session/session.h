#pragma once
// The workflows of a session, one call each, shared by the pages of brennic and
// by brennicctl. Each returns what happened and which box is due; the caller
// shows it in its own way. Nothing here uses Qt or an event loop: without one,
// service() every 100 ms runs the monitor and the scan timer.
#include "netstate/profiles.h"
#include "session/boxes.h"
#include "session/devices.h"
#include "session/loop.h"
#include "session/network.h"
#include "session/start.h"

namespace session {

// "wizard.data" as the profiles stand.
Outcome save();
using ::profileFileName;  // "wizard.data", in the folder the program runs in

// Puts the session's process-wide state back as a fresh process has it: the
// history closed and its clock the system's again.
void resetSessionState();

}  // namespace session
