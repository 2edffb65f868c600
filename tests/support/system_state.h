#pragma once
// Puts the system's process-wide tables and flags back as a fresh process has
// them, so that every test starts from program start whatever ran before it.
#include "mme/exchange.h"
#include "mme/intake.h"
#include "link/link.h"
#include "netstate/monitor.h"
#include "netstate/profiles.h"
#include "link/session.h"
#include "platform/timers.h"

#include <cstring>

namespace testsupport {

inline void resetSystemState()
{
    closeAdapters();
    platform::clearTimers();
    setMonitorView(nullptr);
    std::memset(adapters, 0, sizeof adapters);
    std::memset(profiles, 0, sizeof profiles);
    std::memset(referenceBlock, 0, sizeof referenceBlock);
    selfAddressedSeen = 0;
    selectedAdapter = 0;
    busy = 1;  // as at program start, until a session has started
    sessionOpen = 0;
    monitorTicks = 0;
    monitorSecond = 0;
    progressActive = 0;
    scanTimerId = 0;
}

}  // namespace testsupport
