#pragma once
// Windowless timers of the user-interface thread. The program installs a
// backend on its event loop; until then timers are kept in a table that
// runDueTimers() fires from the tick counter, which is what tests step.
#include "platform/platform.h"

#include <cstdint>

using TimerProc = void (*)();
using TimerId = uintptr_t;  // 0: no timer

// A timer that falls due when its owner says, not every so often: `next`
// stores the tick count at which it is next due and returns true, or returns
// false while nothing can fall due until the owner's state changes; `fire`
// runs what is due at `now`; `catchUp` lets the owner count what passed before
// anything else runs. A descriptor from `wakeFd` (-1: none) that turns
// readable may change what `next` says; `clearWake` is called after it did.
struct DueSchedule {
    bool (*next)(DWORD now, DWORD* at) = nullptr;
    void (*fire)(DWORD now) = nullptr;
    void (*catchUp)() = nullptr;
    int (*wakeFd)() = nullptr;
    void (*clearWake)() = nullptr;
    // The event loop waited from `from` to `to`: what falls due between passed
    // while the thread was free to run timers; what passes outside such a wait
    // passed while something held it.
    void (*waited)(DWORD from, DWORD to) = nullptr;
};

class TimerBackend {
public:
    virtual ~TimerBackend() = default;
    virtual TimerId start(uint32_t ms, TimerProc proc) = 0;
    virtual TimerId startDue(const DueSchedule& schedule) = 0;
    virtual bool stop(TimerId id) = 0;
};

// Periodic until killed, like the platform's windowless timers. 0 on failure.
TimerId SetTimer(uint32_t ms, TimerProc proc);
// Runs until killed. 0 on failure.
TimerId SetDueTimer(const DueSchedule& schedule);
// Killing a timer that has ended already does nothing.
int KillTimer(TimerId id);

namespace platform {
void setTimerBackend(TimerBackend* backend);  // nullptr: the table
// Fires every table timer that is due at the current tick count, each as
// often as it fell due. Returns the number of firings.
int runDueTimers();
// The tick count at which the next table timer falls due; false when none will
// before something else changes.
bool nextTimerDue(DWORD* at);
int activeTimerCount();
// The program's event loop waited from `from` to `to`; told to every due timer
// of the table. The Qt backend learns it from the loop itself.
void loopWaited(DWORD from, DWORD to);
void clearTimers();
}  // namespace platform
