#pragma once
// Puts the system's process-wide tables and flags back as a fresh process has
// them, so that every test starts from program start whatever ran before it.
// Each library resets what it owns.
#include "keysetlog/keysetlog.h"
#include "link/flags.h"
#include "mme/exchange.h"
#include "netstate/monitor.h"
#include "platform/timers.h"
#include "session/session.h"

namespace testsupport {

inline void resetSystemState()
{
    // Highest first: the session still holds the monitor's view and the adapters.
    session::resetSessionState();
    resetNetstateState();
    resetMmeState();
    resetKeySetLogState();
    resetLinkState();
    platform::setTimerBackend(nullptr);
    platform::clearTimers();
}

}  // namespace testsupport
