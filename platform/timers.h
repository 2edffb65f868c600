#pragma once
// Windowless timers of the user-interface thread. The program installs a
// backend on its event loop; until then timers are kept in a table that
// runDueTimers() fires from the tick counter, which is what tests step.
#include <cstdint>

using TimerProc = void (*)();
using TimerId = uintptr_t;  // 0: no timer

class TimerBackend {
public:
    virtual ~TimerBackend() = default;
    virtual TimerId start(uint32_t ms, TimerProc proc) = 0;
    virtual bool stop(TimerId id) = 0;
};

// Periodic until killed, like the platform's windowless timers. 0 on failure.
TimerId SetTimer(uint32_t ms, TimerProc proc);
// Killing a timer that has ended already does nothing.
int KillTimer(TimerId id);

namespace platform {
void setTimerBackend(TimerBackend* backend);  // nullptr: the table
// Fires every table timer that is due at the current tick count, each as
// often as it fell due. Returns the number of firings.
int runDueTimers();
int activeTimerCount();
void clearTimers();
}  // namespace platform
