#include "session/loop.h"

#include "link/flags.h"
#include "platform/platform.h"
#include "platform/timers.h"
#include "zentrik/zentrik.h"

namespace session {

uint32_t nowMs() { return GetTickCount(); }

void service() { platform::runDueTimers(); }

void serviceWithin(uint32_t limitMs)
{
    DWORD deadline = GetTickCount() + limitMs;
    DWORD due = 0;
    if (platform::nextTimerDue(&due) && static_cast<int32_t>(due - deadline) < 0)
        deadline = due;
    DWORD from = GetTickCount();
    platform::waitForTickOrReadable(deadline, zentrikWakeFd());
    platform::loopWaited(from, GetTickCount());
    zentrikClearWake();
    platform::runDueTimers();
}

MonitorHold::MonitorHold() { busy.catchUpAndSet(true); }

MonitorHold::~MonitorHold() { busy.catchUpAndSet(idleAfter_); }

void holdMonitorUntilStart() { busy.catchUpAndSet(true); }

}  // namespace session
